#pragma once
// QX_JackWatch: notices that a JACK MIDI source is gone, either because the
// JACK server ended or because the source's port was unregistered (its
// program quit). RtMidi's JACK back-end reports neither, so the watch is a
// small client of its own, without ports, beside the one RtMidi opens.
//
// Threads: construction and destruction on the user-interface thread; JACK's
// notification thread sets the flag; lost() may be read on any thread.

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

    bool lost() const;
    // The server shut down. Closing a client of a server that has gone can
    // wait forever in libjack (seen under load: the client's notification
    // thread parked on a lock that the close needs); whoever drops a client
    // then leaves it open instead, as the watch does with its own.
    bool serverGone() const;

private:
    QX_JackWatch() = default;
    static void onShutdown(void* client);
    static void onPortRegistration(std::uint32_t port, int registered, void* client);

    // The JACK client with everything its callbacks touch, so that a client
    // left open after its server died never calls into freed memory.
    struct Client;
    std::unique_ptr<Client> m_client;
};
