#include "serial/write_outcome.h"

#include <cstdio>

const char *WriteOutcomeReason(const SerialWriteOutcome &outcome, uint32_t length, char *out, uint32_t size)
{
    if (size == 0)
        return out;
    switch (outcome.status) {
    case WriteStatus::Sent:
        std::snprintf(out, size, "已发出 %u 字节", static_cast<unsigned>(outcome.written));
        break;
    case WriteStatus::NoPort:
        std::snprintf(out, size, "串口未打开");
        break;
    case WriteStatus::Failed:
        if (outcome.written != 0)
            std::snprintf(out, size, "写入失败（错误 %u，已发出 %u / %u 字节）", static_cast<unsigned>(outcome.error),
                          static_cast<unsigned>(outcome.written), static_cast<unsigned>(length));
        else
            std::snprintf(out, size, "写入失败（错误 %u）", static_cast<unsigned>(outcome.error));
        break;
    case WriteStatus::TimedOut:
        std::snprintf(out, size, "1 秒内未能写完（已发出 %u / %u 字节）", static_cast<unsigned>(outcome.written),
                      static_cast<unsigned>(length));
        break;
    }
    return out;
}
