// Pixel sizes at 100, 125, 150 and 200 % and at the edges of the rounding.
#include "shell/dpi_scale.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(DpiScale, PixelsAtTheCommonSettings)
{
    const struct {
        int pixels, dpi, expected;
    } cases[] = {
        // The main windows and the follow window, at 100 %, 125 %, 150 %, 200 %.
        {958, 96, 958},   {958, 120, 1198},  {958, 144, 1437}, {958, 192, 1916},
        {639, 120, 799},  {639, 144, 959},   {1021, 144, 1532}, {720, 120, 900},
        {760, 144, 1140}, {560, 144, 840},
        // Halves go away from zero, on both sides of it.
        {1, 144, 2},      {-1, 144, -2},     {2, 120, 3},      {-2, 120, -3},
        {7, 144, 11},     {-7, 144, -11},    {1, 120, 1},      {3, 120, 4},
        // Nothing stays nothing; a line never vanishes, even below 96 DPI.
        {0, 144, 0},      {1, 72, 1},        {1, 20, 1},       {-1, 20, -1},
        {5, 72, 4},
        // No DPI read: left alone. Large sizes do not overflow.
        {958, 0, 958},    {-3, -96, -3},     {20000000, 480, 100000000},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, ScaleToDpi(c.pixels, c.dpi)) << c.pixels << " px at " << c.dpi << " dpi";
}

// Within half a pixel of the exact size everywhere, and never smaller for a
// larger size, so that neighbours laid out at 96 DPI stay in order.
TEST(DpiScale, NearestAndInOrderAcrossTheRange)
{
    for (int dpi : {96, 108, 120, 144, 168, 192, 240}) {
        int previous = ScaleToDpi(0, dpi);
        for (int pixels = 1; pixels <= 4000; ++pixels) {
            const int scaled = ScaleToDpi(pixels, dpi);
            ASSERT_LE(std::fabs(scaled - pixels * dpi / 96.0), 0.5) << pixels << " px at " << dpi;
            ASSERT_GE(scaled, previous) << pixels << " px at " << dpi;
            ASSERT_EQ(-scaled, ScaleToDpi(-pixels, dpi)) << pixels << " px at " << dpi;
            previous = scaled;
        }
    }
}

} // namespace
