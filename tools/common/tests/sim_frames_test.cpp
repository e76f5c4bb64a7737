#include "tools/common/sim_args.h"
#include "tools/common/sim_frames.h"
#include "tools/common/sim_plan.h"

#include "serial/crc16.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const char *text)
{
    Bytes out;
    EXPECT_TRUE(ParseHexBytes(text, &out)) << text;
    return out;
}

// Everything a stream yields, with other-byte runs joined (their split points
// depend on where the chunks ended, the frames do not).
struct Item {
    FrameKind kind;
    bool crc_ok;
    Bytes bytes;
    bool operator==(const Item &o) const { return kind == o.kind && crc_ok == o.crc_ok && bytes == o.bytes; }
};

void Drain(FrameStream &stream, std::vector<Item> *items, bool flush)
{
    DecodedFrame f;
    for (;;) {
        if (!stream.Next(&f) && !(flush && stream.Flush(&f)))
            return;
        if (f.kind == FrameKind::kOther && !items->empty() && items->back().kind == FrameKind::kOther) {
            items->back().bytes.insert(items->back().bytes.end(), f.bytes.begin(), f.bytes.end());
            continue;
        }
        items->push_back({f.kind, f.kind == FrameKind::kOther ? false : f.crc_ok, f.bytes});
    }
}

std::vector<Item> DecodeWhole(uint32_t kinds, const Bytes &stream)
{
    FrameStream s(kinds);
    s.Feed(stream.data(), stream.size());
    std::vector<Item> items;
    Drain(s, &items, true);
    return items;
}

TEST(SimTagReport, ExampleFramesByteExact)
{
    TagReport ff;
    ff.id = 1000;
    ff.signal = -50;
    uint8_t out[kMaxReportLength];
    size_t n = BuildTagReport(ff, out);
    EXPECT_EQ(Hex("FF FF FF FF 00 00 03 E8 00 CE EF 41"), Bytes(out, out + n));

    TagReport aa;
    aa.header = Header::k55AA;
    aa.id = 1000;
    aa.under_voltage = true;
    aa.extra_count = 2;
    aa.extra[0] = 0x12;
    aa.extra[1] = 0x34;
    aa.signal = -50;
    n = BuildTagReport(aa, out);
    EXPECT_EQ(Hex("55 AA 00 00 00 00 03 E8 41 12 34 CE 4E 33"), Bytes(out, out + n));

    TagReport back;
    bool crc_ok = false;
    ASSERT_TRUE(ParseTagReport(out, n, &back, &crc_ok));
    EXPECT_TRUE(crc_ok);
    EXPECT_EQ(Header::k55AA, back.header);
    EXPECT_EQ(1000u, back.id);
    EXPECT_TRUE(back.under_voltage);
    EXPECT_EQ(2, back.extra_count);
    EXPECT_EQ(0x34, back.extra[1]);
    EXPECT_EQ(-50, back.signal);
}

// Every length 12..19 in both header kinds: the CRC range of each kind is
// checked independently of our builder, and the 55 AA bytes 2-3 count.
TEST(SimTagReport, EveryLengthBothHeadersUsesItsCrcRange)
{
    for (int header = 0; header < 2; ++header) {
        for (uint8_t n = 0; n <= 7; ++n) {
            TagReport r;
            r.header = header ? Header::k55AA : Header::kFF;
            r.header_tail[0] = 0x12;
            r.header_tail[1] = 0x9C;
            r.id = 0x80000000u + n;
            r.under_voltage = n % 2;
            r.extra_count = n;
            for (uint8_t i = 0; i < n; ++i)
                r.extra[i] = static_cast<uint8_t>(0xA0 + i);
            r.signal = static_cast<int8_t>(-30 - n);
            uint8_t f[kMaxReportLength];
            const size_t len = BuildTagReport(r, f);
            ASSERT_EQ(12u + n, len);
            EXPECT_EQ(len, ReportLength(f[8]));
            EXPECT_EQ(0x80, f[4]);
            EXPECT_EQ(static_cast<uint8_t>(-30 - n), f[9 + n]);
            const size_t from = header ? 2 : 0;
            EXPECT_EQ(Crc16Modbus(f + from, len - 2 - from), GetCrc16(f + len - 2)) << "n=" << int(n);
            EXPECT_TRUE(TagReportCrcOk(f, len));
            if (header) {
                f[2] ^= 1; // the bytes after 55 AA are covered
                EXPECT_FALSE(TagReportCrcOk(f, len));
            }
        }
    }
}

TEST(SimTagReport, ParseRefusesWrongLayout)
{
    Bytes f = Hex("FF FF FF FF 00 00 03 E8 00 CE EF 41");
    TagReport r;
    bool crc_ok = true;
    EXPECT_FALSE(ParseTagReport(f.data(), 11, &r, &crc_ok));
    f[8] = 0x20; // says one extra byte, frame has none
    EXPECT_FALSE(ParseTagReport(f.data(), f.size(), &r, &crc_ok));
    Bytes g = Hex("FF FF FF FE 00 00 03 E8 00 CE EF 41");
    EXPECT_FALSE(ParseTagReport(g.data(), g.size(), &r, &crc_ok));
}

TEST(SimReminder, TwoEntryExamplesDecodeAndRebuild)
{
    struct Case {
        const char *hex;
        Header layout;
        uint8_t mode;
    } cases[] = {
        {"FF FF FF FF 01 0A 00 00 03 E8 02 00 00 03 E9 02 B2 60", Header::kFF, 2},
        {"55 AA 02 0A 00 00 03 E8 02 00 00 03 E9 02 B5 AB", Header::k55AA, 2},
        {"FF FF FF FF 01 0A 00 00 03 E8 FF 00 00 03 E9 FF DE B4", Header::kFF, 0xFF},
        {"55 AA 02 0A 00 00 03 E8 FF 00 00 03 E9 FF D9 7F", Header::k55AA, 0xFF},
        {"FF FF FF FF 01 05 00 00 03 E8 01 A5 65", Header::kFF, 1}, // start frame
    };
    for (const Case &c : cases) {
        const Bytes f = Hex(c.hex);
        ReminderFrame r;
        bool crc_ok = false;
        ASSERT_TRUE(ParseReminderFrame(f.data(), f.size(), &r, &crc_ok)) << c.hex;
        EXPECT_TRUE(crc_ok) << c.hex;
        EXPECT_EQ(c.layout, r.layout);
        const size_t n = (f.size() - (c.layout == Header::kFF ? 8 : 6)) / 5;
        ASSERT_EQ(n, r.entry_count);
        for (size_t i = 0; i < n; ++i) {
            EXPECT_EQ(1000u + i, r.ids[i]);
            EXPECT_EQ(c.mode, r.modes[i]);
        }
        uint8_t built[5 * kMaxReminderEntries + 8];
        const size_t len = BuildReminderFrame(c.layout, 1000, n, c.mode, built);
        EXPECT_EQ(f, Bytes(built, built + len));
    }
}

TEST(SimReminder, CorruptionAndLimits)
{
    Bytes f = Hex("55 AA 02 0A 00 00 03 E8 02 00 00 03 E9 02 B5 AB");
    ReminderFrame r;
    bool crc_ok = true;
    f[13] = 0x03; // mode of entry 1 changed in flight
    ASSERT_TRUE(ParseReminderFrame(f.data(), f.size(), &r, &crc_ok));
    EXPECT_FALSE(crc_ok);
    EXPECT_EQ(0x03, r.modes[1]);

    // Length byte not a multiple of five, or disagreeing with the frame.
    Bytes g = Hex("FF FF FF FF 01 0B 00 00 03 E8 02 00 00 03 E9 02 B2 60");
    EXPECT_FALSE(ParseReminderFrame(g.data(), g.size(), &r, &crc_ok));
    EXPECT_FALSE(ParseReminderFrame(g.data(), g.size() - 1, &r, &crc_ok));

    uint8_t buf[5 * 52 + 8];
    EXPECT_EQ(0u, BuildReminderFrame(Header::kFF, 1, 52, 1, buf));
    const size_t len = BuildReminderFrame(Header::k55AA, 0xFFFFFFFFu, 51, 1, buf);
    ASSERT_EQ(5u * 51 + 6, len);
    EXPECT_EQ(0xFF, buf[3]);
    ASSERT_TRUE(ParseReminderFrame(buf, len, &r, &crc_ok));
    EXPECT_TRUE(crc_ok);
    EXPECT_EQ(0xFFFFFFFFu, r.ids[0]);
    EXPECT_EQ(0u, r.ids[1]); // IDs wrap modulo 2^32
    EXPECT_EQ(49u, r.ids[50]);
}

TEST(SimModuleFrames, ConfigReaderAndWakeupBytes)
{
    TagConfig c;
    c.id = 1;
    c.send_period_s = 5;
    c.battery_period_min = 10;
    uint8_t out[kReaderModeLength];
    BuildTagConfigFrame(c, out);
    EXPECT_EQ(Hex("FF FF FF FF 00 00 00 01 05 0A 9C 92"), Bytes(out, out + kTagConfigLength));

    TagConfig back;
    bool crc_ok = false;
    ASSERT_TRUE(ParseTagConfigFrame(out, kTagConfigLength, &back, &crc_ok));
    EXPECT_TRUE(crc_ok);
    EXPECT_EQ(1u, back.id);
    EXPECT_EQ(5, back.send_period_s);
    EXPECT_EQ(10, back.battery_period_min);
    out[9] = 11;
    ASSERT_TRUE(ParseTagConfigFrame(out, kTagConfigLength, &back, &crc_ok));
    EXPECT_FALSE(crc_ok);

    c.id = 1000000; // only 24 bits travel
    BuildTagConfigFrame(c, out);
    EXPECT_EQ(Hex("0F 42 40"), Bytes(out + 5, out + 8));

    ReaderMode m;
    m.id = 1;
    m.channel = 0;
    BuildReaderModeFrame(m, out);
    EXPECT_EQ(Hex("55 AA 03 07 00 00 00 01 00 0A 1E B2 D8"), Bytes(out, out + kReaderModeLength));
    ReaderMode mb;
    ASSERT_TRUE(ParseReaderModeFrame(out, kReaderModeLength, &mb, &crc_ok));
    EXPECT_TRUE(crc_ok);
    EXPECT_EQ(1u, mb.id);
    EXPECT_EQ(10, mb.create_timeout_s);
    EXPECT_EQ(30, mb.exit_timeout_s);
    out[1] = 0xAB; // outside the CRC range, but no longer this frame
    EXPECT_FALSE(ParseReaderModeFrame(out, kReaderModeLength, &mb, &crc_ok));

    BuildWakeupFrame(0x03E8, out);
    EXPECT_EQ(Crc16Modbus(out, 7), GetCrc16(out + 7));
    EXPECT_EQ(Hex("FF FF FF FF 00 03 E8"), Bytes(out, out + 7));
    uint16_t data = 0;
    ASSERT_TRUE(ParseWakeupFrame(out, kWakeupLength, &data, &crc_ok));
    EXPECT_TRUE(crc_ok);
    EXPECT_EQ(0x03E8, data);
}

TEST(SimFrameStream, SortsOutSharedHeadersByCrc)
{
    // Tag report of ID 0x01xxxxxx begins like a reminder (FF FF FF FF 01);
    // a config frame begins like a wake-up (FF FF FF FF 00).
    TagReport r;
    r.id = 0x01000005;
    uint8_t rep[kMaxReportLength];
    const size_t rep_len = BuildTagReport(r, rep);
    Bytes stream(rep, rep + rep_len);
    const Bytes rem = Hex("FF FF FF FF 01 0A 00 00 03 E8 02 00 00 03 E9 02 B2 60");
    stream.insert(stream.end(), rem.begin(), rem.end());
    std::vector<Item> items = DecodeWhole(kReaderSideKinds, stream);
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(FrameKind::kTagReport, items[0].kind);
    EXPECT_TRUE(items[0].crc_ok);
    EXPECT_EQ(FrameKind::kReminder, items[1].kind);
    EXPECT_TRUE(items[1].crc_ok);

    Bytes module = Hex("FF FF FF FF 00 00 00 01 05 0A 9C 92");
    uint8_t wake[kWakeupLength];
    BuildWakeupFrame(7, wake);
    module.insert(module.end(), wake, wake + kWakeupLength);
    items = DecodeWhole(kModuleSideKinds, module);
    ASSERT_EQ(2u, items.size());
    EXPECT_EQ(FrameKind::kTagConfig, items[0].kind);
    EXPECT_EQ(FrameKind::kWakeup, items[1].kind);
}

TEST(SimFrameStream, DamagedFramesAndNoise)
{
    Bytes stream = Hex("00 13 FF 55 37");
    Bytes bad = Hex("55 AA 02 0A 00 00 03 E8 02 00 00 03 E9 02 B5 AC");
    stream.insert(stream.end(), bad.begin(), bad.end());
    const Bytes good = Hex("FF FF FF FF 01 05 00 00 03 E8 01 A5 65");
    stream.insert(stream.end(), good.begin(), good.end());
    const std::vector<Item> items = DecodeWhole(kReaderSideKinds, stream);
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(FrameKind::kOther, items[0].kind);
    EXPECT_EQ(Hex("00 13 FF 55 37"), items[0].bytes);
    EXPECT_EQ(FrameKind::kReminder, items[1].kind);
    EXPECT_FALSE(items[1].crc_ok);
    EXPECT_EQ(bad, items[1].bytes);
    EXPECT_EQ(good, items[2].bytes);
    EXPECT_TRUE(items[2].crc_ok);

    // A frame cut short stays pending until flushed as other bytes.
    FrameStream s(kReaderSideKinds);
    s.Feed(good.data(), 7);
    DecodedFrame f;
    EXPECT_FALSE(s.Next(&f));
    EXPECT_EQ(7u, s.Pending());
    ASSERT_TRUE(s.Flush(&f));
    EXPECT_EQ(FrameKind::kOther, f.kind);
    EXPECT_EQ(0u, s.Pending());
}

// The same stream fed whole and fed in random pieces yields the same frames.
TEST(SimFrameStream, RandomSplitsGiveTheSameFrames)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 40; ++round) {
        Bytes stream;
        size_t frames = 0;
        std::uniform_int_distribution<int> pick(0, 5);
        for (int i = 0; i < 30; ++i) {
            uint8_t f[5 * kMaxReminderEntries + 8];
            size_t len = 0;
            switch (pick(rng)) {
            case 0:
                len = BuildReminderFrame(rng() % 2 ? Header::kFF : Header::k55AA, static_cast<uint32_t>(rng()),
                                         rng() % 52, static_cast<uint8_t>(rng()), f);
                break;
            case 1: {
                TagReport r;
                r.header = rng() % 2 ? Header::kFF : Header::k55AA;
                r.id = static_cast<uint32_t>(rng());
                r.extra_count = static_cast<uint8_t>(rng() % 8);
                len = BuildTagReport(r, f);
                break;
            }
            default: {
                // Noise without header bytes between frames.
                const int n = 1 + static_cast<int>(rng() % 6);
                for (int k = 0; k < n; ++k)
                    stream.push_back(static_cast<uint8_t>(1 + rng() % 0x54));
                continue;
            }
            }
            stream.insert(stream.end(), f, f + len);
            ++frames;
        }
        const std::vector<Item> whole = DecodeWhole(kReaderSideKinds, stream);
        size_t decoded = 0;
        for (const Item &it : whole) {
            if (it.kind != FrameKind::kOther) {
                EXPECT_TRUE(it.crc_ok);
                ++decoded;
            }
        }
        EXPECT_EQ(frames, decoded);

        FrameStream s(kReaderSideKinds);
        std::vector<Item> pieces;
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t n = std::min<size_t>(1 + rng() % 40, stream.size() - pos);
            s.Feed(stream.data() + pos, n);
            pos += n;
            Drain(s, &pieces, false);
        }
        Drain(s, &pieces, true);
        EXPECT_EQ(whole, pieces) << "round " << round;
    }
}

TEST(SimFrameStream, DescribeNamesFieldsAndVerdict)
{
    DecodedFrame f;
    f.kind = FrameKind::kReminder;
    f.crc_ok = true;
    f.bytes = Hex("55 AA 02 0A 00 00 03 E8 02 00 00 03 E9 02 B5 AB");
    EXPECT_EQ("reminder 55AA layout, 2 entries: IDs 1000..1001 mode 02, CRC OK | "
              "55 AA 02 0A 00 00 03 E8 02 00 00 03 E9 02 B5 AB",
              DescribeFrame(f));
    f.kind = FrameKind::kTagConfig;
    f.crc_ok = false;
    f.bytes = Hex("FF FF FF FF 00 00 00 01 05 0A 9C 93");
    const std::string text = DescribeFrame(f);
    EXPECT_NE(std::string::npos, text.find("ID 1 (0x000001) send period 5 s battery period 10 min"));
    EXPECT_NE(std::string::npos, text.find("CRC BAD"));
}

TEST(SimReportPlan, RoundRobinFaultsAndCounts)
{
    ReportPlanOptions o;
    o.tags = {5, 6, 7};
    o.under_voltage_every = 3;
    o.extra = {0x12, 0x34};
    o.signal_low = -70;
    o.signal_high = -30;
    o.noise_probability = 0.5;
    o.bad_crc_probability = 0.25;
    o.seed = 3;
    ReportPlan plan(o);
    Bytes stream;
    uint64_t good = 0;
    for (int i = 0; i < 300; ++i) {
        PlannedFrame f;
        plan.Next(&stream, &f);
        EXPECT_EQ(o.tags[i % 3], f.report.id);
        EXPECT_EQ(i % 3 == 2, f.report.under_voltage);
        EXPECT_GE(f.report.signal, -70);
        EXPECT_LE(f.report.signal, -30);
        EXPECT_EQ(14u, f.length);
        EXPECT_EQ(!f.bad_crc, TagReportCrcOk(f.bytes, f.length));
        good += !f.bad_crc;
    }
    EXPECT_EQ(300u, plan.frames());
    EXPECT_GT(plan.bad_frames(), 40u);
    EXPECT_LT(plan.bad_frames(), 110u);
    EXPECT_EQ(plan.frame_bytes() + plan.noise_bytes(), stream.size());

    // Clean noise: a receiver recovers every good frame and every bad one.
    uint64_t ok = 0;
    uint64_t bad = 0;
    for (const Item &it : DecodeWhole(KindBit(FrameKind::kTagReport), stream)) {
        if (it.kind == FrameKind::kTagReport)
            (it.crc_ok ? ok : bad)++;
    }
    EXPECT_EQ(good, ok);
    EXPECT_EQ(plan.bad_frames(), bad);
}

TEST(SimPacer, ReleasesAtRateAndWritesOffStalls)
{
    Pacer p(1000, 0.02, 40); // 1000 units/s, 20 ms (20 units) kept, at least 40
    p.Start(10.0);
    EXPECT_DOUBLE_EQ(0, p.Allowance(10.0));
    EXPECT_NEAR(5, p.Allowance(10.005), 1e-9);
    p.Spend(5);
    EXPECT_NEAR(5, p.Allowance(10.010), 1e-9);
    p.Spend(5);
    // A 1 s stall keeps only 40 units of arrears, the rest is written off.
    EXPECT_NEAR(40, p.Allowance(11.010), 1e-9);
    EXPECT_NEAR(0.96, p.written_off_s(), 1e-9);
    p.Spend(40);
    EXPECT_NEAR(1, p.Allowance(11.011), 1e-9);
}

TEST(SimStats, MedianAndNearestRankPercentile)
{
    EXPECT_EQ(0, Median({}));
    EXPECT_EQ(2, Median({3, 1, 2}));
    EXPECT_EQ(2.5, Median({4, 1, 3, 2}));
    std::vector<double> v;
    for (int i = 1; i <= 200; ++i)
        v.push_back(201 - i);
    EXPECT_EQ(198, Percentile(v, 99));
    EXPECT_EQ(200, Percentile(v, 100));
    EXPECT_EQ(1, Percentile({1}, 99));
}

TEST(SimArgs, StrictParsing)
{
    std::vector<uint32_t> ids;
    ASSERT_TRUE(ParseTagList("1000-1002,5,0x80000000", 100, &ids));
    EXPECT_EQ((std::vector<uint32_t>{1000, 1001, 1002, 5, 0x80000000u}), ids);
    ASSERT_TRUE(ParseTagList("4294967295", 1, &ids));
    EXPECT_EQ(0xFFFFFFFFu, ids[0]);
    for (const char *bad : {"", "1,", "5-3", "1-", "4294967296", "x", "1-100"})
        EXPECT_FALSE(ParseTagList(bad, 50, &ids)) << bad;

    long lo = 0, hi = 0;
    ASSERT_TRUE(ParseIntRange("-70..-30", -128, 127, &lo, &hi));
    EXPECT_EQ(-70, lo);
    EXPECT_EQ(-30, hi);
    EXPECT_FALSE(ParseIntRange("-30..-70", -128, 127, &lo, &hi));
    EXPECT_FALSE(ParseIntRange("-200..0", -128, 127, &lo, &hi));

    Bytes b;
    ASSERT_TRUE(ParseHexBytes("01 02,0a:FF 1234", &b));
    EXPECT_EQ((Bytes{0x01, 0x02, 0x0A, 0xFF, 0x12, 0x34}), b);
    EXPECT_FALSE(ParseHexBytes("ABC", &b));
    EXPECT_FALSE(ParseHexBytes("0G", &b));

    double p = 0;
    ASSERT_TRUE(ParseProbability("5%", &p));
    EXPECT_DOUBLE_EQ(0.05, p);
    EXPECT_FALSE(ParseProbability("1.5", &p));
    EXPECT_FALSE(ParseProbability("-0.1", &p));

    uint64_t u = 0;
    EXPECT_TRUE(ParseUnsigned("0x1C200", 0xFFFFFFFF, &u));
    EXPECT_EQ(115200u, u);
    EXPECT_FALSE(ParseUnsigned("12a", 0xFFFFFFFF, &u));
    EXPECT_FALSE(ParseUnsigned("256", 255, &u));
    long s = 0;
    EXPECT_TRUE(ParseInt("-50", -128, 127, &s));
    EXPECT_EQ(-50, s);
    EXPECT_FALSE(ParseInt("-", -128, 127, &s));
}

} // namespace
} // namespace sim
