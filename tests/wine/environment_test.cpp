#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

// Every Chinese text of the programs reaches the ...A API as GBK; if the
// session runs another code page, every caption and message is garbage.
TEST(WineEnvironment, AnsiCodePageIsGbk)
{
    EXPECT_EQ(936u, GetACP());
    const char *text = "未连接";
    wchar_t wide[8] = {};
    ASSERT_EQ(4, MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8));
    EXPECT_EQ(0x672A, wide[0]);
    EXPECT_EQ(0x63A5, wide[2]);
    EXPECT_EQ(6u, std::strlen(text)); // two bytes a character in GBK
}
