#pragma once
// One private sound server for a whole gtest program: up before the first
// test, and so before the program's first ALSA call reads its configuration,
// and gone after the last. No server where its programs are not installed:
// the tests skip then.
//   const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment<PulseServer>);
//   ServerEnvironment<PulseServer>::server()->running()

#include <gtest/gtest.h>

template <class Server>
class ServerEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (Server::binaryPresent())
            s_server = new Server;
    }
    void TearDown() override
    {
        delete s_server;
        s_server = nullptr;
    }
    // Null outside the program's tests.
    static Server* server() { return s_server; }

private:
    static inline Server* s_server = nullptr;
};
