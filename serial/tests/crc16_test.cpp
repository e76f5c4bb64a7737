#include "serial/crc16.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// Bit-by-bit reference straight from the definition, to check the table.
uint16_t ReferenceCrc(const uint8_t *p, size_t n)
{
    if (!p || !n)
        return 0;
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

TEST(Crc16, KnownValuesAndDegenerateInput)
{
    const char *check = "123456789";
    EXPECT_EQ(0x4B37, Crc16Modbus(reinterpret_cast<const uint8_t *>(check), 9));
    const uint8_t ff[2] = {0xFF, 0xFF};
    EXPECT_EQ(0x0000, Crc16Modbus(ff, 2)); // why a bare FF FF FF FF never passes
    EXPECT_EQ(0, Crc16Modbus(nullptr, 5));
    EXPECT_EQ(0, Crc16Modbus(ff, 0));
}

TEST(Crc16, TableMatchesBitwiseDefinitionOnRandomData)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> buf(300);
    for (int round = 0; round < 200; ++round) {
        size_t n = rng() % buf.size();
        for (auto &b : buf)
            b = static_cast<uint8_t>(rng());
        ASSERT_EQ(ReferenceCrc(buf.data(), n), Crc16Modbus(buf.data(), n)) << "length " << n;
    }
}

TEST(Crc16, PutAndGetAreHighByteFirst)
{
    uint8_t out[2];
    PutCrc16(out, 0xA565);
    EXPECT_EQ(0xA5, out[0]);
    EXPECT_EQ(0x65, out[1]);
    EXPECT_EQ(0xA565, GetCrc16(out));
}

} // namespace
