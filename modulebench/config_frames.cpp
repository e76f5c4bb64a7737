#include "modulebench/config_frames.h"

#include "modulebench/chunk_queue.h"
#include "modulebench/module_hooks.h"
#include "serial/crc16.h"

#include <cstring>

uint8_t OutFrame[kOutFrameSize];
ArmedConfig ConfigPending;

ArmedConfig::~ArmedConfig()
{
    delete armed_.exchange(nullptr);
}

uint32_t ArmedConfig::Arm()
{
    Frame *copy = new Frame;
    std::memcpy(copy->bytes, OutFrame, sizeof copy->bytes);
    if (++armings_ == 0)
        armings_ = 1;
    copy->number = armings_;
    current_ = armings_;
    // The frame replaced was never claimed: nobody else can hold it.
    delete armed_.exchange(copy);
    return current_;
}

void ArmedConfig::store(bool armed, std::memory_order)
{
    if (armed) {
        Arm();
        return;
    }
    current_ = 0;
    delete armed_.exchange(nullptr);
}

bool ArmedConfig::load(std::memory_order) const
{
    return armed_.load() != nullptr;
}

bool ArmedConfig::Claim(uint8_t *out, uint32_t *arm)
{
    Frame *claimed = armed_.exchange(nullptr);
    if (claimed == nullptr)
        return false;
    std::memcpy(out, claimed->bytes, sizeof claimed->bytes);
    if (arm != nullptr)
        *arm = claimed->number;
    delete claimed;
    return true;
}

void BuildTagConfigFrame(int32_t id, int32_t send_period, int32_t battery_period)
{
    // The arithmetic runs unsigned: a negative atoi result must only lose its
    // high bits, never shift a sign.
    const uint32_t uid = static_cast<uint32_t>(id);
    OutFrame[0] = 0xFF;
    OutFrame[1] = 0xFF;
    OutFrame[2] = 0xFF;
    OutFrame[3] = 0xFF;
    OutFrame[4] = 0x00;
    OutFrame[5] = static_cast<uint8_t>(uid >> 16);
    OutFrame[6] = static_cast<uint8_t>(uid >> 8);
    OutFrame[7] = static_cast<uint8_t>(uid);
    OutFrame[8] = static_cast<uint8_t>(static_cast<uint32_t>(send_period));
    OutFrame[9] = static_cast<uint8_t>(static_cast<uint32_t>(battery_period));
    PutCrc16(OutFrame + 10, Crc16Modbus(OutFrame, 10));
}

void SendReaderFrame(int32_t id, int32_t channel)
{
    RequestSkipRxLog();
    const uint32_t uid = static_cast<uint32_t>(id);
    OutFrame[0] = 0x55;
    OutFrame[1] = 0xAA;
    OutFrame[2] = 0x03;
    OutFrame[3] = 0x07;
    OutFrame[4] = static_cast<uint8_t>(uid >> 24);
    OutFrame[5] = static_cast<uint8_t>(uid >> 16);
    OutFrame[6] = static_cast<uint8_t>(uid >> 8);
    OutFrame[7] = static_cast<uint8_t>(uid);
    OutFrame[8] = static_cast<uint8_t>(static_cast<uint32_t>(channel));
    OutFrame[9] = kReaderCreateTimeout;
    OutFrame[10] = kReaderExitTimeout;
    PutCrc16(OutFrame + 11, Crc16Modbus(OutFrame + 2, 9));

    // The write's outcome on the line is not known; a frame that met no
    // open port at all did not go out and is not logged as sent.
    if (HookSerialWrite(OutFrame, kReaderFrameLength).status != WriteStatus::NoPort)
        HookLogSent(kReaderFrameLength, OutFrame);
}
