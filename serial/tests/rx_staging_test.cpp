#include "serial/rx_staging.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

// Plays one read of the receive thread: fills the target with pattern bytes
// and commits them.
RxChunk Read(RxStagingBuffer *s, uint32_t generation, uint32_t n, uint8_t fill, bool deliverable,
             uint8_t **target_out = nullptr)
{
    uint8_t *target = RxStagingReadTarget(s, generation);
    EXPECT_LE(target + kRxReadMax, s->bytes + kRxStagingSize);
    std::memset(target, fill, n);
    if (target_out)
        *target_out = target;
    return RxStagingCommitRead(s, n, deliverable);
}

TEST(RxStaging, NewOpenDropsHeldBytes)
{
    RxStagingBuffer s{};
    Read(&s, 4, 300, 0xEE, false);
    EXPECT_EQ(300u, s.staged_count);
    uint8_t *target = RxStagingReadTarget(&s, 5);
    EXPECT_EQ(s.bytes, target);
    EXPECT_EQ(0u, s.staged_count);
    EXPECT_EQ(5u, s.generation);
}

TEST(RxStaging, HeldBytesAreDroppedWhenLessThanOneReadOfRoomRemains)
{
    RxStagingBuffer s{};
    Read(&s, 0, 1024, 0xEE, false);
    // Exactly 1024 bytes of room: the read still appends.
    EXPECT_EQ(s.bytes + 1024, RxStagingReadTarget(&s, 0));
    Read(&s, 0, 1, 0xEE, false);
    EXPECT_EQ(1025u, s.staged_count);
    // 1023 bytes of room: dropped, the read lands at the start.
    EXPECT_EQ(s.bytes, RxStagingReadTarget(&s, 0));
    EXPECT_EQ(0u, s.staged_count);

    // A count that claims more than the buffer holds is never trusted.
    s.staged_count = 5000;
    EXPECT_EQ(s.bytes, RxStagingReadTarget(&s, 0));
}

TEST(RxStaging, OversizedReadCountIsClampedToOneRead)
{
    RxStagingBuffer s{};
    RxStagingReadTarget(&s, 0);
    RxStagingCommitRead(&s, 4096, false);
    EXPECT_EQ(kRxReadMax, s.staged_count);
    RxStagingReadTarget(&s, 0);
    RxChunk c = RxStagingCommitRead(&s, 4096, true);
    EXPECT_EQ(kRxReadMax, c.length);
    EXPECT_LE(c.data + c.length, s.bytes + kRxStagingSize);
}

// Long random run of reads of every size, ready or not, with opens in
// between. Bytes of deliverable reads carry a running counter below 0x80;
// held reads write 0x80 and above. The sink must see exactly the deliverable
// bytes, in order, and nothing else; no read ever runs past the buffer.
TEST(RxStaging, RandomRunHandsOnExactlyTheDeliverableBytes)
{
    std::mt19937 rng(20200414);
    RxStagingBuffer s{};
    uint32_t generation = 0;
    uint8_t counter = 0;
    std::vector<uint8_t> expected, delivered;
    for (int pass = 0; pass < 20000; ++pass) {
        if (rng() % 50 == 0)
            ++generation;
        const bool ready = rng() % 3 != 0;
        const uint32_t n = rng() % 4 == 0 ? kRxReadMax : rng() % (kRxReadMax + 1);
        uint8_t *target = RxStagingReadTarget(&s, generation);
        ASSERT_LE(target + kRxReadMax, s.bytes + kRxStagingSize);
        ASSERT_GE(target, s.bytes);
        for (uint32_t i = 0; i < n; ++i) {
            if (ready) {
                target[i] = counter;
                expected.push_back(counter);
                counter = static_cast<uint8_t>((counter + 1) & 0x7F);
            } else {
                target[i] = static_cast<uint8_t>(0x80 | (rng() & 0x7F));
            }
        }
        RxChunk c = RxStagingCommitRead(&s, n, ready);
        if (!ready) {
            ASSERT_EQ(0u, c.length);
            continue;
        }
        ASSERT_EQ(n, c.length);
        delivered.insert(delivered.end(), c.data, c.data + c.length);
    }
    EXPECT_EQ(expected, delivered);
}

TEST(RxStaging, DeliverableNeedsTheSameOpenAndReadyAtTheEnd)
{
    EXPECT_TRUE(RxReadDeliverable(3, true, 3));
    EXPECT_FALSE(RxReadDeliverable(2, true, 3)); // issued before the open's purge
    EXPECT_FALSE(RxReadDeliverable(3, false, 3)); // close began during the read
    EXPECT_FALSE(RxReadDeliverable(3, true, 4));  // closed and reopened meanwhile
}

} // namespace
