#include "capture/QX_JackWatch.h"

#include "capture/QX_MidiPortNames.h"

#include <jack/jack.h>

#include <cstring>

struct QX_JackWatch::Client {
    jack_client_t* handle = nullptr;
    ~Client()
    {
        // Also right after the server died: libjack only frees what it holds.
        if (handle)
            jack_client_close(handle);
    }
};

std::unique_ptr<QX_JackWatch> QX_JackWatch::watch(const std::string& sourcePort)
{
    std::unique_ptr<QX_JackWatch> watch(new QX_JackWatch);
    watch->m_source = sourcePort;
    watch->m_client = std::make_unique<Client>();
    // JACK makes the name unique ("Tempovaro-01"); the port lists already skip it.
    jack_status_t status{};
    jack_client_t* client = jack_client_open(kMidiClientName, JackNoStartServer, &status);
    if (!client)
        return nullptr;
    watch->m_client->handle = client;
    jack_on_shutdown(client, &QX_JackWatch::onShutdown, watch.get());
    if (jack_set_port_registration_callback(client, &QX_JackWatch::onPortRegistration, watch.get()) != 0 ||
        jack_activate(client) != 0)
        return nullptr;
    // The source may have gone between listing and now.
    if (!jack_port_by_name(client, sourcePort.c_str()))
        watch->m_lost.store(true, std::memory_order_release);
    return watch;
}

QX_JackWatch::~QX_JackWatch() = default;

void QX_JackWatch::onShutdown(void* self)
{
    static_cast<QX_JackWatch*>(self)->m_lost.store(true, std::memory_order_release);
}

void QX_JackWatch::onPortRegistration(std::uint32_t port, int registered, void* self)
{
    auto* watch = static_cast<QX_JackWatch*>(self);
    if (registered || !watch->m_client || !watch->m_client->handle)
        return;
    // JACK's notification thread, not the audio thread: looking the port up is allowed.
    const jack_port_t* gone = jack_port_by_id(watch->m_client->handle, port);
    if (gone && std::strcmp(jack_port_name(gone), watch->m_source.c_str()) == 0)
        watch->m_lost.store(true, std::memory_order_release);
}
