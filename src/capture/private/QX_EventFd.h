#pragma once
// An eventfd that wakes an audio thread out of its poll when it is told to
// stop. Nothing outside src/capture includes this header.

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

class EventFd {
public:
    EventFd() : m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventFd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    int fd() const { return m_fd; }
    void signal() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_fd, &one, sizeof one);
    }

private:
    int m_fd;
};
