#include "serial/crc16.h"

namespace {

// Byte-at-a-time table for the reflected polynomial; the assembler and the
// table thread run every frame through this at line rate.
struct Crc16Table {
    uint16_t entry[256];
    constexpr Crc16Table() : entry{}
    {
        for (unsigned i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
            entry[i] = crc;
        }
    }
};

constexpr Crc16Table kTable;

} // namespace

uint16_t Crc16Modbus(const uint8_t *data, size_t length)
{
    if (data == nullptr || length == 0)
        return 0;
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i)
        crc = static_cast<uint16_t>((crc >> 8) ^ kTable.entry[(crc ^ data[i]) & 0xFF]);
    return crc;
}
