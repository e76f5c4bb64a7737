// What a dialog keeps of a lost port: which loss reports count, what ends
// the retries, one box at a time, and the port list that keeps the port.
#include "serial/port_keeper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PortKeeper, OnlyALossOfThePortOpenNowStartsRetrying)
{
    PortKeeper keeper;
    EXPECT_FALSE(keeper.Lost(1)) << "nothing open";
    keeper.Opened("COM3", 6, 7);
    EXPECT_FALSE(keeper.Lost(6)) << "a report about the port before";
    EXPECT_TRUE(keeper.IsOpen());
    EXPECT_TRUE(keeper.Lost(7));
    EXPECT_TRUE(keeper.IsRetrying());
    EXPECT_FALSE(keeper.Lost(7)) << "the same loss twice";
    EXPECT_EQ("COM3", keeper.Name());
    EXPECT_EQ(6u, keeper.BaudIndex());

    // Back as generation 9; the late report about 7 changes nothing, a new
    // loss of 9 counts again.
    keeper.Resumed(9);
    EXPECT_TRUE(keeper.IsOpen());
    EXPECT_FALSE(keeper.Lost(7));
    EXPECT_TRUE(keeper.Lost(9));

    // The user's close ends everything; a report after it is stale.
    keeper.Forget();
    EXPECT_FALSE(keeper.IsRetrying());
    keeper.Resumed(10);
    EXPECT_FALSE(keeper.IsOpen()) << "a resume after the user's close";
    EXPECT_FALSE(keeper.Lost(9));
}

TEST(PortKeeper, ADifferentPortChoiceEndsTheRetriesTheSameOneDoesNot)
{
    struct Case {
        const char *chosen;
        bool ends;
    };
    for (const Case &c : {Case{"COM3", false}, Case{"com3", false}, Case{"COM3（不存在）", false},
                          Case{"COM4", true}, Case{"", true}, Case{"COM30", true}}) {
        SCOPED_TRACE(c.chosen);
        PortKeeper keeper;
        keeper.Opened("Com3", 2, 1);
        EXPECT_EQ("COM3", keeper.Name()) << "the name opened and kept is the canonical one";
        EXPECT_FALSE(keeper.Chose(c.chosen)) << "no retries while open";
        ASSERT_TRUE(keeper.Lost(1));
        EXPECT_EQ(c.ends, keeper.Chose(c.chosen));
        EXPECT_EQ(!c.ends, keeper.IsRetrying());
    }
}

TEST(PortKeeper, OneLossBoxAtATime)
{
    PortKeeper keeper;
    EXPECT_TRUE(keeper.TakeBox());
    EXPECT_FALSE(keeper.TakeBox()) << "a second loss while the first box is up";
    EXPECT_FALSE(keeper.TakeBox());
    keeper.BoxClosed();
    EXPECT_TRUE(keeper.TakeBox()) << "a loss after the box was dismissed";
}

TEST(PortKeeper, ThePortListKeepsTheProgramsOwnPort)
{
    const uint32_t found[] = {3, 10};
    using Names = std::vector<std::string>;
    EXPECT_EQ((Names{"COM3", "COM10"}), PortListNames(found, 2, ""));
    EXPECT_EQ((Names{"COM3", "COM10"}), PortListNames(found, 2, "COM10"));
    EXPECT_EQ((Names{"COM3", "COM10", "COM7"}), PortListNames(found, 2, "COM7"));
    EXPECT_EQ((Names{"COM7"}), PortListNames(found, 0, "COM7"));
    EXPECT_EQ((Names{"COM3", "COM10"}), PortListNames(found, 2, "com10")) << "another case is the same port";
    EXPECT_EQ((Names{"COM3", "COM10", "COM7"}), PortListNames(found, 2, "com7"));
}

TEST(PortKeeper, ADeviceChangeNamesTheOpenPort)
{
    PortKeeper keeper;
    EXPECT_FALSE(keeper.IsOpenPort("COM3")) << "nothing open";
    keeper.Opened("COM3", 6, 1);
    EXPECT_TRUE(keeper.IsOpenPort("COM3"));
    EXPECT_TRUE(keeper.IsOpenPort("com3"));
    EXPECT_FALSE(keeper.IsOpenPort("COM30"));
    ASSERT_TRUE(keeper.Lost(1));
    EXPECT_FALSE(keeper.IsOpenPort("COM3")) << "lost already: a removal is no second loss";
    keeper.Resumed(2);
    EXPECT_TRUE(keeper.IsOpenPort("COM3"));
    keeper.Forget();
    EXPECT_FALSE(keeper.IsOpenPort("COM3")) << "the user closed it";
}

TEST(PortKeeper, MessagesNameThePortAndTheSpeed)
{
    EXPECT_NE(std::string::npos, PortLostText("COM12").find("COM12"));
    EXPECT_NE(std::string::npos, PortLostNote("COM12").find("COM12"));
    // The refusal also says that the port is no longer open.
    EXPECT_EQ("串口 COM5 不接受波特率 57600，已关闭。", PortRefusedText("COM5", 57600));
    EXPECT_NE(std::string::npos, PortResumedNote("COM5", 19200).find("19200"));
}

} // namespace
