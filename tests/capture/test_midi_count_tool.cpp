// tempovaro-count --midi and --list, run as a user would, against a private
// JACK server with a sender in this process.
#include "JackServer.h"
#include "MidiSender.h"
#include "QX_MidiPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the tool with popen-like plumbing; stderr goes to a file.
class Tool {
public:
    explicit Tool(const std::string& args)
    {
        char name[] = "/tmp/tempovaro-count-err-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0)
            close(fd);
        m_errPath = name;
        m_pipe = popen((std::string(COUNT_TOOL) + " " + args + " 2>" + m_errPath).c_str(), "r");
    }
    ~Tool()
    {
        if (m_pipe)
            pclose(m_pipe);
        std::remove(m_errPath.c_str());
    }
    ToolRun finish()
    {
        ToolRun run;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, m_pipe)) > 0)
            run.out.append(buffer, n);
        const int status = pclose(m_pipe);
        m_pipe = nullptr;
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::FILE* err = std::fopen(m_errPath.c_str(), "r");
        while (err && (n = std::fread(buffer, 1, sizeof buffer, err)) > 0)
            run.err.append(buffer, n);
        if (err)
            std::fclose(err);
        return run;
    }

private:
    std::FILE* m_pipe = nullptr;
    std::string m_errPath;
};

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::vector<double> csv(const std::string& line)
{
    std::vector<double> values;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        values.push_back(std::atof(field.c_str()));
    return values;
}

// True once some port of ours is connected to the sender: notes sent before
// that would be lost.
bool toolConnected(const JackServer& server)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::FILE* p = popen(("jack_lsp -c -s " + server.name() + " 2>/dev/null").c_str(), "r");
        std::string text;
        char buffer[1024];
        std::size_t n;
        while (p && (n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            text.append(buffer, n);
        if (p)
            pclose(p);
        if (text.find("   Tempovaro") != std::string::npos)
            return true;
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

TEST(MidiCountTool, CountsALivePortLikeTheProgram)
{
    JackServer server(64);
    if (!server.binaryFound())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(server.running()) << server.log();
    MidiSender sender;
    ASSERT_TRUE(sender.isOpen());

    const ToolRun list = Tool("--list").finish();
    EXPECT_EQ(list.status, 0) << list.err;
    std::string id;
    for (const auto& line : lines(list.out))
        if (line.rfind("midi\t", 0) == 0 && line.size() > 44 && line.substr(44) == MidiSender::kPortName)
            id = line.substr(5, 38);
    ASSERT_EQ(id.size(), 38u) << list.out;

    Tool tool("--midi '" + id + "' --channel 10 --note 36 --time 1");
    ASSERT_TRUE(toolConnected(server));
    std::this_thread::sleep_for(200ms); // the new connection carries data from a later cycle on

    const std::vector<std::pair<std::chrono::milliseconds, std::vector<std::uint8_t>>> play = {
        {0ms, {0x99, 36, 100}},  // arms
        {100ms, {0x99, 38, 100}}, // another note: filtered
        {100ms, {0x90, 36, 100}}, // another channel: filtered
        {100ms, {0x99, 36, 127}}, // stroke 1, 0.3 s after the arming note
        {100ms, {0x99, 36, 64}},  // stroke 2
    };
    std::vector<std::chrono::steady_clock::time_point> sent;
    auto next = std::chrono::steady_clock::now();
    for (const auto& [after, bytes] : play) {
        next += after;
        std::this_thread::sleep_until(next);
        sent.push_back(sender.send(bytes));
    }
    const ToolRun run = tool.finish(); // ends one second after stroke 1
    ASSERT_EQ(run.status, 0) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 4u) << run.out;
    EXPECT_EQ(out[0], "stroke,time_s,interval_s,level");
    const double tolerance = server.intervalToleranceSeconds();
    const auto seconds = [&](int a, int b) { return std::chrono::duration<double>(sent[b] - sent[a]).count(); };
    const auto first = csv(out[1]);
    const auto second = csv(out[2]);
    ASSERT_EQ(first.size(), 4u);
    ASSERT_EQ(second.size(), 4u);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(first[1], 0.0);
    EXPECT_NEAR(first[2], seconds(0, 3), tolerance);
    EXPECT_EQ(out[1].substr(out[1].rfind(',') + 1), "1");
    EXPECT_EQ(second[0], 2);
    EXPECT_NEAR(second[1], seconds(3, 4), tolerance);
    EXPECT_NEAR(second[2], seconds(3, 4), tolerance);
    EXPECT_EQ(out[2].substr(out[2].rfind(',') + 1), "0.503937006");
    EXPECT_EQ(out[3], "# strokes 2, seconds 1.000, strokes per minute 120.0");
}

TEST(MidiCountTool, UnknownPortIsOneLineAndStatusOne)
{
    useNoJackServer();
    const ToolRun run = Tool("--midi '{00000000-0000-0000-0000-000000000000}'").finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("{00000000-0000-0000-0000-000000000000}"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(MidiCountTool, AServerThatDiesEndsTheCountWithWhatWasCounted)
{
    auto server = std::make_unique<JackServer>(64);
    if (!server->binaryFound())
        GTEST_SKIP() << "jackd is not installed";
    ASSERT_TRUE(server->running()) << server->log();
    auto sender = std::make_unique<MidiSender>();
    ASSERT_TRUE(sender->isOpen());
    std::string id;
    for (const auto& line : lines(Tool("--list").finish().out))
        if (line.rfind("midi\t", 0) == 0 && line.size() > 44 && line.substr(44) == MidiSender::kPortName)
            id = line.substr(5, 38);
    ASSERT_EQ(id.size(), 38u);

    Tool tool("--midi '" + id + "'");
    ASSERT_TRUE(toolConnected(*server));
    std::this_thread::sleep_for(200ms); // the new connection carries data from a later cycle on
    for (int i = 0; i < 3; ++i) { // arming note, strokes 1 and 2
        sender->send({0x99, 36, 100});
        std::this_thread::sleep_for(100ms);
    }
    sender.reset();
    server->stop();
    // Without the loss noticed, the endless count would never end by itself.
    const ToolRun run = tool.finish();
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("stopped delivering"), std::string::npos) << run.err;
    const auto out = lines(run.out);
    ASSERT_EQ(out.size(), 4u) << run.out;
    // The time runs from stroke 1 to the loss, not on into the dead time.
    double seconds = -1;
    ASSERT_EQ(std::sscanf(out[3].c_str(), "# strokes 2, seconds %lf", &seconds), 1) << out[3];
    EXPECT_GE(seconds, 0.1);
    EXPECT_LT(seconds, 1.0);
}

} // namespace
