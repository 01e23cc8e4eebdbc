#pragma once
// Feeds samples to an audio trigger device in blocks and notes every stroke
// it counts: the samples fed when it was counted (exact for blocks of one
// sample or of whole windows) and its history entry.

#include "trigger/QX_AudioTriggerDevice.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct FedStroke {
    std::int64_t fedSamples;
    std::int32_t interval;
    float level;
    bool operator==(const FedStroke&) const = default;
};

inline std::vector<FedStroke> feedInBlocks(TQX_AudioTriggerDevice& device, const std::vector<std::int16_t>& samples,
                                           std::size_t blockSamples, std::int64_t fedBefore = 0)
{
    std::vector<FedStroke> strokes;
    std::int64_t fed = fedBefore;
    for (std::size_t at = 0; at < samples.size(); at += blockSamples) {
        const std::size_t n = std::min(blockSamples, samples.size() - at);
        const std::int32_t before = device.GetCount();
        device.AnalyzeSamples(samples.data() + at, static_cast<std::int32_t>(n * 2));
        fed += static_cast<std::int64_t>(n);
        const std::int32_t added = device.GetCount() - before;
        for (std::int32_t back = added - 1; back >= 0; --back) {
            const auto record = device.lastStroke(back);
            strokes.push_back({fed, record.intervalTicks, record.level});
        }
    }
    return strokes;
}
