#include "serial/rx_staging.h"

uint8_t *RxStagingReadTarget(RxStagingBuffer *staging, uint32_t open_generation)
{
    if (staging->generation != open_generation) {
        staging->generation = open_generation;
        staging->staged_count = 0;
    }
    // Also guards a count that is out of range for any reason: a read is
    // never placed where 1024 bytes would run past the buffer.
    if (staging->staged_count > kRxStagingSize - kRxReadMax)
        staging->staged_count = 0;
    return staging->bytes + staging->staged_count;
}

RxChunk RxStagingCommitRead(RxStagingBuffer *staging, uint32_t read_count, bool deliverable)
{
    if (read_count > kRxReadMax)
        read_count = kRxReadMax;
    const uint32_t offset = staging->staged_count;
    if (!deliverable) {
        staging->staged_count = offset + read_count;
        return RxChunk{nullptr, 0};
    }
    // Bytes held before this read were read while the port was not ready;
    // they are dropped here rather than handed on in front of this read.
    staging->staged_count = 0;
    if (read_count == 0)
        return RxChunk{nullptr, 0};
    return RxChunk{staging->bytes + offset, read_count};
}
