// tempovaro-count --midi and --list, run as a user would, against a private
// JACK server with a sender in this process.
#include "JackSenderTest.h"
#include "Takes.h"
#include "ToolRunner.h"
#include "WaitUntil.h"
#include "capture/QX_MidiPort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<double> csv(const std::string& line)
{
    std::vector<double> values;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        values.push_back(std::atof(field.c_str()));
    return values;
}

// The stroke lines the tool has printed: everything but its CSV header and summary.
std::vector<std::string> strokeLines(const std::string& out)
{
    std::vector<std::string> strokes;
    for (const auto& line : linesOf(out))
        if (!line.empty() && line[0] >= '0' && line[0] <= '9')
            strokes.push_back(line);
    return strokes;
}

std::string levelOf(const std::string& line)
{
    return line.substr(line.rfind(',') + 1);
}

TEST(MidiCountTool, UnknownPortIsOneLineAndStatusOne)
{
    useNoJackServer();
    const ToolRun run = runCountTool({"--midi", "{00000000-0000-0000-0000-000000000000}"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(linesOf(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("{00000000-0000-0000-0000-000000000000}"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// One server for both runs: a count ended by Ctrl+C, then one ended by the
// server going away.
using MidiCountToolJack = JackSenderTest;

TEST_F(MidiCountToolJack, ListsCountsLikeTheProgramAndEndsWhenTheServerDies)
{
    // Listed under the ID the program lists it by.
    const std::string& id = senderId;
    const ToolRun list = runCountTool({"--list"});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto listed = linesOf(list.out);
    EXPECT_NE(std::find(listed.begin(), listed.end(), "midi\t" + id + "\t" + MidiSender::kPortName), listed.end())
        << list.out;

    // A machine that starves the server or this process now and then holds
    // a note back a cycle or two past the one it was sent for: a take whose
    // stroke times are off by more than the tolerance is taken again. Stamps
    // in other units or on another clock are off in every take.
    const double tolerance = server.intervalToleranceSeconds();
    std::vector<std::pair<double, double>> timing;
    const auto take = [&] {
        ToolProcess tool(countTool({"--midi", id, "--channel", "10", "--note", "36"}));
        // A new JACK connection carries data only from a later cycle on: soft
        // probe strokes go out until the tool has printed one, so the notes
        // below are not sent into a connection still being made. Notes arrive
        // in order, so the last probe sent is the last one the tool takes in.
        constexpr std::uint8_t kProbeVelocity = 1;
        std::chrono::steady_clock::time_point lastProbe;
        ASSERT_TRUE(waitUntil(
            [&] {
                if (!strokeLines(tool.outSoFar()).empty())
                    return true;
                lastProbe = sender->send({0x99, 36, kProbeVelocity});
                return false;
            },
            10000, 50));
        const std::string probeLevel = levelOf(strokeLines(tool.outSoFar()).front());

        const std::vector<std::pair<std::chrono::milliseconds, std::vector<std::uint8_t>>> play = {
            {100ms, {0x99, 38, 100}}, // another note: filtered
            {100ms, {0x90, 36, 100}}, // another channel: filtered
            {100ms, {0x99, 36, 127}}, // a stroke 0.3 s after the last probe
            {100ms, {0x99, 36, 64}},  // and the next
        };
        std::vector<std::chrono::steady_clock::time_point> sent;
        auto next = std::chrono::steady_clock::now();
        for (const auto& [after, bytes] : play) {
            next += after;
            std::this_thread::sleep_until(next);
            sent.push_back(sender->send(bytes));
        }
        ASSERT_TRUE(waitUntil([&] { return levelOf(strokeLines(tool.outSoFar()).back()) == "0.503937006"; }));
        tool.interrupt();
        const ToolRun run = tool.finish();
        ASSERT_EQ(run.status, 0) << run.err;

        const auto out = linesOf(run.out);
        const auto strokes = strokeLines(run.out);
        ASSERT_GE(strokes.size(), 3u) << run.out;
        EXPECT_EQ(out.front(), "stroke,time_s,interval_s,level");
        // The probes, then exactly the two strokes: the filtered notes left no line.
        const std::size_t probes = strokes.size() - 2;
        EXPECT_EQ(csv(strokes[0]).at(1), 0.0) << "times count from the first stroke";
        for (std::size_t k = 0; k < strokes.size(); ++k) {
            EXPECT_EQ(csv(strokes[k]).at(0), static_cast<double>(k + 1)) << strokes[k];
            if (k < probes) {
                EXPECT_EQ(levelOf(strokes[k]), probeLevel) << strokes[k];
            }
        }
        const auto seconds = [](auto a, auto b) { return std::chrono::duration<double>(b - a).count(); };
        const auto first = csv(strokes[probes]);
        const auto second = csv(strokes[probes + 1]);
        ASSERT_EQ(first.size(), 4u);
        ASSERT_EQ(second.size(), 4u);
        EXPECT_EQ(levelOf(strokes[probes]), "1");
        EXPECT_EQ(levelOf(strokes[probes + 1]), "0.503937006");
        EXPECT_EQ(out.back().rfind("# strokes " + std::to_string(strokes.size()) + ", seconds ", 0), 0u) << out.back();
        // Each stroke's interval and time, against the sender's.
        timing = {{first[2], seconds(lastProbe, sent[2])},
                  {second[1] - first[1], seconds(sent[2], sent[3])},
                  {second[2], seconds(sent[2], sent[3])}};
    };
    const auto off = [&](const auto& t) { return std::abs(t.first - t.second) > tolerance; };
    takes([&] {
        timing.clear();
        take();
        return HasFatalFailure() || std::none_of(timing.begin(), timing.end(), off);
    });
    if (HasFatalFailure())
        return;
    for (const auto& [stamped, sentApart] : timing)
        EXPECT_NEAR(stamped, sentApart, tolerance);

    ToolProcess tool(countTool({"--midi", id}));
    // Probe strokes until the tool has counted one, so the connection is up;
    // then one more stroke, and the server goes.
    ASSERT_TRUE(waitUntil(
        [&] {
            if (!strokeLines(tool.outSoFar()).empty())
                return true;
            sender->send({0x99, 36, 100});
            return false;
        },
        10000, 100));
    std::this_thread::sleep_for(100ms); // the second stroke's interval
    sender->send({0x99, 36, 100});
    ASSERT_TRUE(waitUntil([&] { return strokeLines(tool.outSoFar()).size() >= 2; }));
    sender.reset();
    server.stop();
    // Without the loss noticed, the endless count would never end by itself.
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("stopped delivering"), std::string::npos) << run.err;
    const auto strokes = strokeLines(run.out);
    const auto out = linesOf(run.out);
    ASSERT_GE(strokes.size(), 2u) << run.out;
    ASSERT_FALSE(out.empty());
    // The time runs from stroke 1 to the loss, not on into the dead time.
    double seconds = -1;
    const std::string summary = "# strokes " + std::to_string(strokes.size()) + ", seconds %lf";
    ASSERT_EQ(std::sscanf(out.back().c_str(), summary.c_str(), &seconds), 1) << out.back();
    EXPECT_GE(seconds, 0.05);
    EXPECT_LT(seconds, 2.0);
}

} // namespace
