// The two outbound frames, byte for byte.
#include "modulebench/config_frames.h"
#include "modulebench/tests/test_hooks.h"
#include "serial/crc16.h"

#include <gtest/gtest.h>

namespace {

Bytes OutFrameBytes(size_t length)
{
    return Bytes(OutFrame, OutFrame + length);
}

class ConfigFramesTest : public ::testing::Test {
protected:
    void SetUp() override { InstallRecorder(); }
};

TEST_F(ConfigFramesTest, TagFrameMatchesTheKnownExampleAndSendsNothing)
{
    BuildTagConfigFrame(1, 5, 10);
    EXPECT_EQ(OutFrameBytes(12), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92}));
    EXPECT_TRUE(Recorded.events.empty());
}

TEST_F(ConfigFramesTest, ReaderFrameIsWrittenThenLoggedWholeOnce)
{
    SendReaderFrame(1, 0);
    const Bytes expected{0x55, 0xAA, 0x03, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0A, 0x1E, 0xB2, 0xD8};
    EXPECT_EQ(OutFrameBytes(13), expected);
    ASSERT_EQ(Recorded.events.size(), 2u);
    EXPECT_EQ(Recorded.events[0].kind, HookEvent::Write);
    EXPECT_EQ(Recorded.events[0].bytes, expected);
    EXPECT_EQ(Recorded.events[1].kind, HookEvent::Sent);
    EXPECT_EQ(Recorded.events[1].bytes, expected);
}

TEST_F(ConfigFramesTest, IdFieldsAndTheirWidths)
{
    BuildTagConfigFrame(1000000, 255, 0);
    EXPECT_EQ(OutFrameBytes(10), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x0F, 0x42, 0x40, 0xFF, 0x00}));
    EXPECT_EQ(GetCrc16(OutFrame + 10), Crc16Modbus(OutFrame, 10));

    SendReaderFrame(1000000, 7);
    EXPECT_EQ(OutFrameBytes(11), (Bytes{0x55, 0xAA, 0x03, 0x07, 0x00, 0x0F, 0x42, 0x40, 0x07, 0x0A, 0x1E}));
    EXPECT_EQ(GetCrc16(OutFrame + 11), Crc16Modbus(OutFrame + 2, 9));

    // Only the low 24 bits reach a tag; a reader gets all 32. Negative text
    // values lose their high bits the same way.
    BuildTagConfigFrame(0x12345678, -1, 256 + 3);
    EXPECT_EQ(OutFrameBytes(10), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x34, 0x56, 0x78, 0xFF, 0x03}));
    SendReaderFrame(-2, 0);
    EXPECT_EQ(OutFrameBytes(8), (Bytes{0x55, 0xAA, 0x03, 0x07, 0xFF, 0xFF, 0xFF, 0xFE}));
}

TEST_F(ConfigFramesTest, NoChannelSelectedGivesFF)
{
    SendReaderFrame(1, -1);
    EXPECT_EQ(OutFrame[8], 0xFF);
    EXPECT_EQ(GetCrc16(OutFrame + 11), Crc16Modbus(OutFrame + 2, 9));
}

TEST_F(ConfigFramesTest, TagFrameLeavesByteTwelveOfTheLastReaderFrame)
{
    SendReaderFrame(1, 0);
    BuildTagConfigFrame(1, 5, 10);
    EXPECT_EQ(OutFrame[12], 0xD8);
    EXPECT_EQ(OutFrameBytes(12), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x01, 0x05, 0x0A, 0x9C, 0x92}));
}

} // namespace
