#pragma once
// QX_JackWatch: notices that a JACK MIDI source is gone, either because the
// JACK server ended or because the source's port was unregistered (its
// program quit). RtMidi's JACK back-end reports neither, so the watch is a
// small client of its own, without ports, beside the one RtMidi opens.
//
// Threads: construction and destruction on the user-interface thread; JACK's
// notification thread sets the flag; lost() may be read on any thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class QX_JackWatch {
public:
    // Watches sourcePort ("client:port"); null when no JACK server answers.
    static std::unique_ptr<QX_JackWatch> watch(const std::string& sourcePort);
    ~QX_JackWatch();
    QX_JackWatch(const QX_JackWatch&) = delete;
    QX_JackWatch& operator=(const QX_JackWatch&) = delete;

    bool lost() const { return m_lost.load(std::memory_order_acquire); }

private:
    QX_JackWatch() = default;
    static void onShutdown(void* self);
    static void onPortRegistration(std::uint32_t port, int registered, void* self);

    std::string m_source;
    std::atomic<bool> m_lost{false};
    // Declared last so it closes first: no callback runs once it is gone.
    struct Client;
    std::unique_ptr<Client> m_client;
};
