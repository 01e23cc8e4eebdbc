#include "trigger/QX_Clock.h"

#include <atomic>
#include <chrono>

namespace {

std::uint32_t steadyTickMs()
{
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

std::atomic<TickSource> g_source{&steadyTickMs};

} // namespace

std::uint32_t tickCountMs()
{
    return g_source.load(std::memory_order_acquire)();
}

void setTickSource(TickSource source)
{
    g_source.store(source ? source : &steadyTickMs, std::memory_order_release);
}
