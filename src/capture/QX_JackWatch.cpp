#include "capture/QX_JackWatch.h"

#include "capture/QX_MidiPortNames.h"

#include <jack/jack.h>

#include <atomic>
#include <cstring>
#include <string>

struct QX_JackWatch::Client {
    jack_client_t* handle = nullptr;
    std::string source;
    std::atomic<bool> lost{false};
    std::atomic<bool> serverGone{false};
    ~Client()
    {
        if (handle)
            jack_client_close(handle);
    }
};

std::unique_ptr<QX_JackWatch> QX_JackWatch::watch(const std::string& sourcePort)
{
    std::unique_ptr<QX_JackWatch> watch(new QX_JackWatch);
    watch->m_client = std::make_unique<Client>();
    Client* c = watch->m_client.get();
    c->source = sourcePort;
    // JACK makes the name unique ("Tempovaro-01"); the port lists already skip it.
    jack_status_t status{};
    c->handle = jack_client_open(kMidiClientName, JackNoStartServer, &status);
    if (!c->handle)
        return nullptr;
    jack_on_shutdown(c->handle, &QX_JackWatch::onShutdown, c);
    if (jack_set_port_registration_callback(c->handle, &QX_JackWatch::onPortRegistration, c) != 0 ||
        jack_activate(c->handle) != 0)
        return nullptr;
    // The source may have gone between listing and now.
    if (!jack_port_by_name(c->handle, sourcePort.c_str()))
        c->lost.store(true, std::memory_order_release);
    return watch;
}

QX_JackWatch::~QX_JackWatch()
{
    // A client of a server that has gone is left open (serverGone()), with
    // what its callbacks touch: a few kilobytes and a parked thread, once
    // per server that went away. Closed, it could freeze the window that
    // drops the lost device.
    if (serverGone())
        static_cast<void>(m_client.release());
}

bool QX_JackWatch::serverGone() const
{
    return m_client && m_client->serverGone.load(std::memory_order_acquire);
}

bool QX_JackWatch::lost() const
{
    return m_client->lost.load(std::memory_order_acquire);
}

void QX_JackWatch::onShutdown(void* client)
{
    auto* c = static_cast<Client*>(client);
    c->serverGone.store(true, std::memory_order_release);
    c->lost.store(true, std::memory_order_release);
}

void QX_JackWatch::onPortRegistration(std::uint32_t port, int registered, void* client)
{
    auto* c = static_cast<Client*>(client);
    if (registered || !c->handle)
        return;
    // JACK's notification thread, not the audio thread: looking the port up is allowed.
    const jack_port_t* gone = jack_port_by_id(c->handle, port);
    if (gone && std::strcmp(jack_port_name(gone), c->source.c_str()) == 0)
        c->lost.store(true, std::memory_order_release);
}
