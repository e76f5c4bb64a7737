// The fixture of the console tests: a fresh console for every case.
#pragma once

#include "modulebench/console/console.h"
#include "modulebench/console/console_internal.h"
#include "tools/driver/console_client.h"

#include <gtest/gtest.h>

// Each test gets a fresh console on a free loopback port and stops it again,
// so the cases do not depend on each other or on the order they run in.
class ConsoleFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ConsoleStop();
        ConsoleStartOnPort(0);
        port_ = ConsoleListeningPort();
        ASSERT_NE(0, port_) << "the console did not start";
    }

    void TearDown() override { ConsoleStop(); }

    // A client that the console has accepted: the prompt for a CR proves it.
    // Leaves the line empty, so use it only when the line is known empty.
    void ConnectServed(TestClient &client)
    {
        ASSERT_TRUE(client.Connect(port_));
        ASSERT_TRUE(client.Send("\r"));
        ASSERT_EQ("->", client.Read(2));
    }

    uint16_t port_ = 0;
};
