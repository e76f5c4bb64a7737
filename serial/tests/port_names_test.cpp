// Port names as the lists read, keep and open them: the registered names
// (whatever drivers wrote), names in another case, a chosen port marked
// absent, and why a port did not open.
#include "serial/port_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Numbers = std::vector<uint32_t>;

TEST(PortNames, ANameIsCOMAndANumberInRangeInAnyCase)
{
    const struct {
        const char *text;
        uint32_t limit;
        uint32_t n;
    } cases[] = {
        {"COM3", 256, 3},     {"com3", 256, 3},     {"Com10", 256, 10},   {"COM256", 256, 256},
        {"COM257", 256, 0},   {"COM32", 32, 32},    {"COM33", 32, 0},     {"COM1", 1, 1},
        {"COM0", 256, 0},     {"COM03", 256, 0},    {"COM", 256, 0},      {"COM3 ", 256, 0},
        {" COM3", 256, 0},    {"COM3x", 256, 0},    {"LPT1", 256, 0},     {"\\\\.\\COM3", 256, 0},
        {"COM99999999999999999999", UINT32_MAX, 0}, {"CNC3", 256, 0},     {"", 256, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.n, ComPortNumberOf(c.text, c.limit)) << '"' << c.text << "\" limit " << c.limit;
}

TEST(PortNames, RegisteredNamesComeUniqueAscendingAndWithinTheLimit)
{
    const std::vector<std::string> registered = {"COM10", "com3", "junk", "", "COM3", "COM257", "COM256",
                                                 "COM2",  "COM0", "Com33", "COM32", "COM1 ", "COM1"};
    EXPECT_EQ((Numbers{1, 2, 3, 10, 32, 33, 256}), RegisteredPortNumbers(registered, 256)) << "Tarnwick";
    EXPECT_EQ((Numbers{1, 2, 3, 10, 32}), RegisteredPortNumbers(registered, 32)) << "Pellfray";
    EXPECT_EQ(Numbers{}, RegisteredPortNumbers({}, 256));

    std::vector<std::string> all;
    for (uint32_t n = 300; n >= 1; --n)
        all.push_back("COM" + std::to_string(n));
    const Numbers numbers = RegisteredPortNumbers(all, 256);
    ASSERT_EQ(256u, numbers.size());
    EXPECT_EQ(1u, numbers.front());
    EXPECT_EQ(256u, numbers.back());
}

TEST(PortNames, OtherCaseIsTheSamePortAndTheAbsentMarkIsNoPartOfTheName)
{
    EXPECT_EQ("COM5", CanonicalPortName("com5"));
    EXPECT_EQ("COM12", CanonicalPortName("cOm12"));
    EXPECT_EQ("abc", CanonicalPortName("abc")) << "a typed text that is no port name stays";
    EXPECT_TRUE(SamePortName("com5", "COM5"));
    EXPECT_FALSE(SamePortName("COM5", "COM50"));
    EXPECT_FALSE(SamePortName("COM1", "COM10"));

    EXPECT_EQ("COM7（不存在）", AbsentPortEntry("com7"));
    EXPECT_EQ("COM7", PortOfEntry("COM7（不存在）"));
    EXPECT_EQ("COM7", PortOfEntry(AbsentPortEntry("COM7")));
    EXPECT_EQ("COM7", PortOfEntry("com7"));
    EXPECT_EQ("COM7", PortOfEntry("COM7"));
}

TEST(PortNames, APortThatDidNotOpenSaysWhy)
{
    const struct {
        uint32_t error;
        const char *text;
    } cases[] = {
        {2, "串口 COM7 不存在"},                  // ERROR_FILE_NOT_FOUND
        {3, "串口 COM7 不存在"},                  // ERROR_PATH_NOT_FOUND
        {5, "串口 COM7 被其他程序占用"},          // ERROR_ACCESS_DENIED
        {32, "串口 COM7 被其他程序占用"},         // ERROR_SHARING_VIOLATION
        {31, "串口 COM7 无法打开（错误 31）"},    // ERROR_GEN_FAILURE
        {0, "串口 COM7 无法打开（错误 0）"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.text, PortOpenFailureText("COM7", c.error)) << c.error;
    EXPECT_EQ("未选择串口", PortOpenFailureText("", 2)) << "nothing chosen, nothing typed";
}

} // namespace
