// The simulated reader's batch with faults: silent tags leave the round,
// weak and under-voltage tags report so on every turn, the rest as asked.
#include "tools/common/sim_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using namespace sim;

TEST(SimPlanBatch, SilentWeakAndUnderVoltageTags)
{
    ReportPlanOptions o;
    o.tags = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(2u, RemoveSilentTags(&o.tags, {6, 4, 4, 99}));
    EXPECT_EQ(std::vector<uint32_t>({1, 2, 3, 5}), o.tags);
    o.signal_low = o.signal_high = -50;
    o.weak_tags = {5, 2, 2};
    o.weak_signal = -95;
    o.under_voltage_tags = {3, 5};
    ReportPlan plan(o);
    std::map<uint32_t, int> reports;
    for (int i = 0; i < 12; ++i) {
        std::vector<uint8_t> bytes;
        PlannedFrame f;
        plan.Next(&bytes, &f);
        ++reports[f.report.id];
        const bool weak = f.report.id == 2 || f.report.id == 5;
        const bool uv = f.report.id == 3 || f.report.id == 5;
        EXPECT_EQ(weak ? -95 : -50, f.report.signal) << f.report.id;
        EXPECT_EQ(uv, f.report.under_voltage) << f.report.id;
        EXPECT_EQ(weak ? -95 : -50, static_cast<int8_t>(bytes[f.length - 3])) << "on the wire";
        EXPECT_EQ(uv ? 1 : 0, bytes[8] & 0x01) << "on the wire";
    }
    EXPECT_EQ((std::map<uint32_t, int>{{1, 3}, {2, 3}, {3, 3}, {5, 3}}), reports);
}

} // namespace
