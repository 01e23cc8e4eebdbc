#include "audit/AuditWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// Enough blocks for kHoldSamples even when the capture hands over periods
// that split into short blocks (441 samples at worst).
constexpr std::size_t kHeldBlocks = 400;
constexpr auto kDrainPeriod = std::chrono::milliseconds(20);

// libsndfile's virtual file over a growing byte vector.
struct MemoryFile {
    std::vector<unsigned char>* bytes = nullptr;
    sf_count_t pos = 0;
};

sf_count_t memLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes->size()); }
sf_count_t memSeek(sf_count_t offset, int whence, void* user)
{
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(f->bytes->size());
    sf_count_t to = whence == SEEK_SET ? offset : whence == SEEK_CUR ? f->pos + offset : size + offset;
    f->pos = std::max<sf_count_t>(0, to);
    return f->pos;
}
sf_count_t memRead(void* ptr, sf_count_t count, void* user)
{
    auto* f = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(f->bytes->size());
    const sf_count_t n = std::clamp<sf_count_t>(size - f->pos, 0, count);
    if (n > 0)
        std::memcpy(ptr, f->bytes->data() + f->pos, static_cast<std::size_t>(n));
    f->pos += n;
    return n;
}
sf_count_t memWrite(const void* ptr, sf_count_t count, void* user)
{
    auto* f = static_cast<MemoryFile*>(user);
    const auto end = static_cast<std::size_t>(f->pos + count);
    if (end > f->bytes->size())
        f->bytes->resize(end);
    std::memcpy(f->bytes->data() + f->pos, ptr, static_cast<std::size_t>(count));
    f->pos += count;
    return count;
}
sf_count_t memTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

} // namespace

struct AuditWriter::Encoder {
    MemoryFile file;
    SF_VIRTUAL_IO io{memLength, memSeek, memRead, memWrite, memTell};
    SNDFILE* sf = nullptr;

    explicit Encoder(std::vector<unsigned char>& out)
    {
        file.bytes = &out;
        SF_INFO info{};
        info.samplerate = kSampleRate;
        info.channels = 1;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        sf = sf_open_virtual(&io, SFM_WRITE, &info, &file);
        // FLAC's strongest setting: the writer thread has time to spare,
        // and a minute of a snare in a live room is mostly room.
        double strongest = 1.0;
        if (sf)
            sf_command(sf, SFC_SET_COMPRESSION_LEVEL, &strongest, sizeof strongest);
    }
    ~Encoder()
    {
        if (sf)
            sf_close(sf);
    }
};

AuditWriter::AuditWriter() : m_tap(std::make_unique<SampleTap>()), m_held(kHeldBlocks)
{
    m_thread = std::thread(&AuditWriter::run, this);
}

AuditWriter::~AuditWriter()
{
    if (m_thread.joinable())
        finish();
}

void AuditWriter::keepFrom(std::int64_t sample)
{
    std::int64_t none = -1;
    m_from.compare_exchange_strong(none, std::max<std::int64_t>(0, sample), std::memory_order_acq_rel);
}

void AuditWriter::keepUntil(std::int64_t sample)
{
    m_until.store(sample, std::memory_order_release);
}

bool AuditWriter::capturedThrough() const
{
    const std::int64_t until = m_until.load(std::memory_order_acquire);
    return until >= 0 && m_tap->writtenSamples() >= until;
}

AuditRecording AuditWriter::finish()
{
    {
        std::lock_guard lock(m_wakeMutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    return std::move(m_result);
}

void AuditWriter::run()
{
    for (;;) {
        bool stop = false;
        {
            std::unique_lock lock(m_wakeMutex);
            m_wake.wait_for(lock, kDrainPeriod, [this] { return m_stop; });
            stop = m_stop;
        }
        m_tap->drain([this](const SampleBlock& b) { take(b); });
        if (stop)
            break;
    }
    m_result.lostBlocks = m_tap->overflowBlocks();
    if (m_encoder) {
        if (!m_encoder->sf)
            m_result.error = "the FLAC encoder did not open";
        m_encoder.reset(); // closing writes the final header
    }
}

void AuditWriter::take(const SampleBlock& b)
{
    // A jump in position is blocks the tap refused: silence keeps the time.
    static const std::array<std::int16_t, SampleBlock::kFrames> kSilence{};
    while (m_expected < b.firstSample) {
        const std::int64_t n = std::min<std::int64_t>(b.firstSample - m_expected, SampleBlock::kFrames);
        SampleBlock gap;
        gap.firstSample = m_expected;
        gap.frames = static_cast<std::int32_t>(n);
        gap.samples = kSilence;
        take(gap);
    }
    m_expected = b.firstSample + b.frames;

    const std::int64_t from = m_from.load(std::memory_order_acquire);
    if (from < 0) {
        m_held[m_heldNext] = b;
        m_heldNext = (m_heldNext + 1) % m_held.size();
        return;
    }
    if (!m_encoder) {
        m_encoder = std::make_unique<Encoder>(m_result.flac);
        // The held blocks first, oldest first; the file starts at from or
        // at the oldest sample still held.
        for (std::size_t k = 0; k < m_held.size(); ++k) {
            const SampleBlock& h = m_held[(m_heldNext + k) % m_held.size()];
            if (h.frames > 0)
                put(h.samples.data(), h.firstSample, h.frames);
        }
        m_held.clear();
        m_held.shrink_to_fit();
    }
    put(b.samples.data(), b.firstSample, b.frames);
}

void AuditWriter::put(const std::int16_t* samples, std::int64_t first, std::int64_t count)
{
    const std::int64_t from = m_from.load(std::memory_order_acquire);
    const std::int64_t until = m_until.load(std::memory_order_acquire);
    std::int64_t begin = std::max(first, from);
    if (m_result.frames > 0)
        begin = std::max(begin, m_result.firstSample + m_result.frames);
    std::int64_t end = first + count;
    if (until >= 0)
        end = std::min(end, until);
    if (end <= begin || !m_encoder->sf)
        return;
    if (m_result.frames == 0)
        m_result.firstSample = begin;
    sf_write_short(m_encoder->sf, samples + (begin - first), end - begin);
    m_result.frames += end - begin;
}
