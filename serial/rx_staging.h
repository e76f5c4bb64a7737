// Staging of received bytes between the port and the program's receive sink.
//
// The receive thread reads the port into one 2048-byte staging buffer, at
// most 1024 bytes a read, and then either hands the bytes of that read on or
// holds them. Tarnwick hands every read on. Pellfray hands a read on only
// when it was issued after the port was configured and purged and the port
// is still ready when it ends, and holds the bytes otherwise; held bytes
// never reach the sink. They are kept only so that the buffer matches what
// the driver delivered, and are dropped
//  - when the port is opened anew (the open bumps a generation number that
//    the receive thread compares with the one its held bytes belong to), and
//  - when they leave less than one full read of room, so that no read is
//    ever placed past the end of the buffer.
//
// Only the receive thread touches an RxStagingBuffer. The GUI thread never
// writes the count itself: it requests the reset at open by bumping the
// generation, which the receive thread honours before its next read, so no
// read in flight can land at an offset the count no longer describes.
#pragma once

#include <cstdint>

constexpr uint32_t kRxStagingSize = 2048;
constexpr uint32_t kRxReadMax = 1024;

struct RxStagingBuffer {
    uint8_t bytes[kRxStagingSize];
    uint32_t staged_count; // bytes held at the start of bytes
    uint32_t generation;   // open generation the held bytes came from
};

// A run of bytes to hand to the sink; length 0 means nothing to hand on.
struct RxChunk {
    const uint8_t *data;
    uint32_t length;
};

// Where the next read (of up to kRxReadMax bytes) lands. Drops the held
// bytes first when they belong to another open than open_generation or
// leave less than kRxReadMax bytes of room. The result always has at least
// kRxReadMax bytes of room before the end of the buffer.
uint8_t *RxStagingReadTarget(RxStagingBuffer *staging, uint32_t open_generation);

// Accounts a finished read of read_count bytes at the last read target.
// deliverable: the bytes may be handed on (see RxReadDeliverable). Returns
// the bytes of this read when deliverable (the staging is then empty again;
// the chunk stays valid until the next RxStagingReadTarget), else holds them
// and returns an empty chunk.
RxChunk RxStagingCommitRead(RxStagingBuffer *staging, uint32_t read_count, bool deliverable);

// Pellfray's rule for one read: the read was issued after the open that made
// the port ready (generation_before, loaded before the read was issued,
// equals generation_after) and the port is still ready once it has ended
// (ready_after, loaded after it ended, before generation_after). The open
// bumps the generation only after its purge, so such a read holds no byte
// from before the purge; the open then ends any read issued earlier.
inline bool RxReadDeliverable(uint32_t generation_before, bool ready_after, uint32_t generation_after)
{
    return ready_after && generation_before == generation_after;
}
