// CRC-16/MODBUS, the checksum of every frame either program builds or checks.
//
// Reflected polynomial 0xA001, initial value 0xFFFF, no final XOR. A zero
// length or a null pointer yields 0 (not 0xFFFF): peers compute it that way.
// On the wire the CRC goes high byte first, unlike the usual Modbus order.
#pragma once

#include <cstddef>
#include <cstdint>

uint16_t Crc16Modbus(const uint8_t *data, size_t length);

// Stores crc at out[0] (high byte) and out[1] (low byte).
inline void PutCrc16(uint8_t *out, uint16_t crc)
{
    out[0] = static_cast<uint8_t>(crc >> 8);
    out[1] = static_cast<uint8_t>(crc & 0xFF);
}

// Reads the high-byte-first CRC stored at in[0], in[1].
inline uint16_t GetCrc16(const uint8_t *in)
{
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}
