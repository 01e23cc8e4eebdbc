#pragma once
// A fixture for tests of MIDI through JACK: a private server with the
// DrumSender on it, its port listed. Skips where jackd is not installed.

#include "JackServer.h"
#include "MidiSender.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

class JackSenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!server.binaryFound())
            GTEST_SKIP() << "jackd is not installed";
        ASSERT_TRUE(server.running()) << server.log();
        sender = std::make_unique<MidiSender>();
        ASSERT_TRUE(sender->isOpen());
        const auto port = waitForSenderPort();
        ASSERT_TRUE(port) << "the sender's port was never listed";
        senderId = port->ID;
    }

    JackServer server{64};
    std::unique_ptr<MidiSender> sender;
    // The sender's ID as the program lists it.
    std::string senderId;
};
