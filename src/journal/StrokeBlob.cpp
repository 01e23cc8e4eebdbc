#include "journal/StrokeBlob.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char kHasNotes = 1;
// The smallest encoded stroke: a one-byte tick difference and the level.
constexpr std::size_t kMinStrokeBytes = 5;

void putVarint(QByteArray& out, std::uint64_t v)
{
    while (v >= 0x80) {
        out.append(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.append(static_cast<char>(v));
}

std::uint64_t zigzag(std::int64_t v)
{
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

std::int64_t unzigzag(std::uint64_t v)
{
    return static_cast<std::int64_t>((v >> 1) ^ (~(v & 1) + 1));
}

class Reader {
public:
    explicit Reader(const QByteArray& b)
        : m_p(reinterpret_cast<const unsigned char*>(b.constData())), m_end(m_p + b.size())
    {
    }
    std::size_t left() const { return static_cast<std::size_t>(m_end - m_p); }
    bool byte(unsigned char& v)
    {
        if (m_p == m_end)
            return false;
        v = *m_p++;
        return true;
    }
    bool varint(std::uint64_t& v)
    {
        v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            unsigned char b = 0;
            if (!byte(b))
                return false;
            v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if (!(b & 0x80))
                return true;
        }
        return false; // more than ten bytes: not ours
    }
    bool u32(std::uint32_t& v)
    {
        if (left() < 4)
            return false;
        v = m_p[0] | (m_p[1] << 8) | (m_p[2] << 16) | (static_cast<std::uint32_t>(m_p[3]) << 24);
        m_p += 4;
        return true;
    }

private:
    const unsigned char* m_p;
    const unsigned char* m_end;
};

} // namespace

QByteArray packStrokes(const std::vector<StrokeEvent>& strokes)
{
    // Audio strokes all say -1; one real note anywhere keeps every note.
    bool hasNotes = false;
    for (const auto& s : strokes)
        hasNotes = hasNotes || s.note != -1;
    QByteArray out;
    out.reserve(static_cast<qsizetype>(12 + strokes.size() * (hasNotes ? 9 : 7)));
    out.append(static_cast<char>(kStrokeBlobFormat));
    out.append(static_cast<char>(hasNotes ? kHasNotes : 0));
    putVarint(out, strokes.size());
    std::uint64_t previous = 0;
    for (const auto& s : strokes) {
        const auto tick = static_cast<std::uint64_t>(s.tick);
        putVarint(out, zigzag(static_cast<std::int64_t>(tick - previous)));
        previous = tick;
        std::uint32_t bits = 0;
        std::memcpy(&bits, &s.level, 4);
        for (int k = 0; k < 4; ++k)
            out.append(static_cast<char>((bits >> (8 * k)) & 0xff));
        if (hasNotes)
            putVarint(out, zigzag(s.note));
    }
    return out;
}

std::optional<std::vector<StrokeEvent>> unpackStrokes(const QByteArray& blob)
{
    Reader in(blob);
    unsigned char format = 0, flags = 0;
    std::uint64_t count = 0;
    if (!in.byte(format) || format != kStrokeBlobFormat || !in.byte(flags) || (flags & ~kHasNotes) ||
        !in.varint(count))
        return std::nullopt;
    // A damaged count must not make us reserve gigabytes.
    if (count > in.left() / kMinStrokeBytes)
        return std::nullopt;
    const bool hasNotes = flags & kHasNotes;
    std::vector<StrokeEvent> strokes;
    strokes.reserve(count);
    std::uint64_t tick = 0;
    for (std::uint64_t k = 0; k < count; ++k) {
        std::uint64_t delta = 0, note = 0;
        std::uint32_t bits = 0;
        if (!in.varint(delta) || !in.u32(bits))
            return std::nullopt;
        tick += static_cast<std::uint64_t>(unzigzag(delta));
        StrokeEvent e;
        e.tick = static_cast<std::int64_t>(tick);
        std::memcpy(&e.level, &bits, 4);
        if (hasNotes) {
            if (!in.varint(note))
                return std::nullopt;
            const std::int64_t n = unzigzag(note);
            if (n < INT32_MIN || n > INT32_MAX)
                return std::nullopt;
            e.note = static_cast<std::int32_t>(n);
        }
        strokes.push_back(e);
    }
    if (in.left() != 0)
        return std::nullopt;
    return strokes;
}
