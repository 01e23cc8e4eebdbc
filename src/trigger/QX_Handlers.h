#pragma once
// Bound methods handed to the capture back-ends: a target object plus a
// member function, stored by value and called on the capture thread. A plain
// pair of pointers, so storing and calling one never allocates.

#include <cstdint>

// OnSamples(Data, ByteCount): a block of signed 16-bit little-endian mono
// samples at 44,100 Hz, valid only during the call.
struct QX_SampleHandler {
    void* Target = nullptr;
    void (*Method)(void* target, const void* data, std::int32_t byteCount) = nullptr;

    explicit operator bool() const { return Method != nullptr; }
    void operator()(const void* data, std::int32_t byteCount) const { Method(Target, data, byteCount); }

    // M may be a member of one of T's bases (a detector's AnalyzeSamples is
    // its base's); the call below checks its signature.
    template <class T, auto M>
    static QX_SampleHandler Bind(T* target)
    {
        return {target, [](void* t, const void* d, std::int32_t n) { (static_cast<T*>(t)->*M)(d, n); }};
    }
};

// Sample i of such a block: little-endian on every host, and no alignment
// assumed for the data.
inline std::int16_t sampleAt(const unsigned char* bytes, std::int32_t i)
{
    return static_cast<std::int16_t>(
        static_cast<std::uint16_t>(bytes[2 * i] | (static_cast<unsigned>(bytes[2 * i + 1]) << 8)));
}

// OnNote(Note, Velocity, Time): one accepted Note On; Time in 100 ns units.
struct QX_NoteHandler {
    void* Target = nullptr;
    void (*Method)(void* target, std::uint8_t note, std::uint8_t velocity, std::int64_t time100ns) = nullptr;

    explicit operator bool() const { return Method != nullptr; }
    void operator()(std::uint8_t note, std::uint8_t velocity, std::int64_t time100ns) const
    {
        Method(Target, note, velocity, time100ns);
    }

    template <class T, void (T::*M)(std::uint8_t, std::uint8_t, std::int64_t)>
    static QX_NoteHandler Bind(T* target)
    {
        return {target, [](void* t, std::uint8_t n, std::uint8_t v, std::int64_t time) {
                    (static_cast<T*>(t)->*M)(n, v, time);
                }};
    }
};
