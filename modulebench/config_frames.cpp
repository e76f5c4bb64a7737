#include "modulebench/config_frames.h"

#include "modulebench/chunk_queue.h"
#include "modulebench/module_hooks.h"
#include "modulebench/sent_frames.h"
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
    Frame *replaced;
    uint32_t number;
    {
        std::lock_guard<std::mutex> lock(change_);
        if (++armings_ == 0)
            armings_ = 1;
        number = armings_;
        copy->number = number;
        current_.store(number);
        replaced = armed_.exchange(copy);
    }
    // The frame replaced was never claimed: nobody else can hold it.
    delete replaced;
    return number;
}

void ArmedConfig::store(bool armed, std::memory_order)
{
    if (armed) {
        Arm();
        return;
    }
    Frame *withdrawn;
    {
        std::lock_guard<std::mutex> lock(change_);
        current_.store(0);
        withdrawn = armed_.exchange(nullptr);
    }
    delete withdrawn;
}

bool ArmedConfig::Restore(const uint8_t *frame, uint32_t arm)
{
    Frame *copy = new Frame;
    std::memcpy(copy->bytes, frame, sizeof copy->bytes);
    copy->number = arm;
    {
        std::lock_guard<std::mutex> lock(change_);
        Frame *expected = nullptr;
        if (IsCurrent(arm) && armed_.compare_exchange_strong(expected, copy))
            return true;
    }
    delete copy;
    return false;
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

    // Logged as what became of the write: the bytes that went out, and a
    // note when not all did.
    SendAndLog(SentFrame::ReaderFrame, OutFrame, kReaderFrameLength);
}
