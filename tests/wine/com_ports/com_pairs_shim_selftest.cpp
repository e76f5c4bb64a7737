// Under the pty modem-line shim, WaitCommEvent on a pty port behaves as on
// a real port: it waits for a received character instead of ending about
// every millisecond.
#include "tools/driver/com_test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(ComPairsShim, WaitCommEventWaitsForAReceivedCharacter)
{
    TestComPort port(5), peer(15);
    ASSERT_TRUE(port.IsOpen());
    ASSERT_TRUE(peer.IsOpen());
    ASSERT_TRUE(SetCommMask(port.Handle(), EV_RXCHAR));

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD mask = 0;
    if (!WaitCommEvent(port.Handle(), &mask, &ov)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
        // Nothing sent: still waiting.
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 300));
        const uint8_t byte = 0x5A;
        ASSERT_TRUE(peer.Write(&byte, 1));
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 2000));
        DWORD unused = 0;
        EXPECT_TRUE(GetOverlappedResult(port.Handle(), &ov, &unused, FALSE));
    }
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), mask & EV_RXCHAR);
    EXPECT_EQ(1u, port.Read(1, 1000).size());
    CloseHandle(event);
}

} // namespace
