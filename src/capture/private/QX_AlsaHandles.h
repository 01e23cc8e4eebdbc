#pragma once
// Move-only owners of the ALSA handles the capture code uses. Nothing outside
// src/capture includes this header.

#include <alsa/asoundlib.h>

#include <utility>

template <class T, int (*Close)(T*)>
class AlsaHandle {
public:
    AlsaHandle() = default;
    explicit AlsaHandle(T* handle) : m_handle(handle) {}
    ~AlsaHandle() { reset(); }
    AlsaHandle(AlsaHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    AlsaHandle& operator=(AlsaHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    AlsaHandle(const AlsaHandle&) = delete;
    AlsaHandle& operator=(const AlsaHandle&) = delete;

    T* get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }
    void reset()
    {
        if (m_handle)
            Close(m_handle);
        m_handle = nullptr;
    }

private:
    T* m_handle = nullptr;
};

using AlsaPcm = AlsaHandle<snd_pcm_t, snd_pcm_close>;
using AlsaMixer = AlsaHandle<snd_mixer_t, snd_mixer_close>;

inline int freeHwParams(snd_pcm_hw_params_t* p)
{
    snd_pcm_hw_params_free(p);
    return 0;
}
inline int freeSwParams(snd_pcm_sw_params_t* p)
{
    snd_pcm_sw_params_free(p);
    return 0;
}
inline int freePcmInfo(snd_pcm_info_t* p)
{
    snd_pcm_info_free(p);
    return 0;
}
using AlsaHwParams = AlsaHandle<snd_pcm_hw_params_t, freeHwParams>;
using AlsaSwParams = AlsaHandle<snd_pcm_sw_params_t, freeSwParams>;
using AlsaPcmInfo = AlsaHandle<snd_pcm_info_t, freePcmInfo>;

// The hint list of snd_device_name_hint.
class AlsaHints {
public:
    explicit AlsaHints(const char* iface)
    {
        if (snd_device_name_hint(-1, iface, &m_hints) < 0)
            m_hints = nullptr;
    }
    ~AlsaHints()
    {
        if (m_hints)
            snd_device_name_free_hint(m_hints);
    }
    AlsaHints(const AlsaHints&) = delete;
    AlsaHints& operator=(const AlsaHints&) = delete;
    void** get() const { return m_hints; }

private:
    void** m_hints = nullptr;
};
