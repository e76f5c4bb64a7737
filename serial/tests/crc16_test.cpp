#include "serial/crc16.h"

#include <gtest/gtest.h>

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

} // namespace
