// Filling follows TH1::Fill: bins by TAxis::FindBin, every fill an entry, only fills inside
// the range in the sums that give the mean and spread.
#include "rootio/hist/histogram.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>


namespace {

TEST(Histogram1D, FillsBinsAndKeepsOutOfRangeValuesOutOfTheSums)
{
    rootio::Histogram1D h("h", "t", 4, 0, 2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double x : {-0.1, 0.0, 0.49, 0.5, 1.99, 2.0, 5.0, nan}) h.fill(x);

    // Lower edges belong to their bin, the upper edge of the range to the overflow, and a
    // value that is not a number compares false everywhere, so it lands there too.
    EXPECT_EQ(std::vector<double>(h.contents().begin(), h.contents().end()),
              (std::vector<double>{1, 2, 1, 0, 1, 3}));
    EXPECT_EQ(h.entries(), 8);
    EXPECT_EQ(h.sum_w(), 4);
    EXPECT_EQ(h.sum_w2(), 4);
    EXPECT_DOUBLE_EQ(h.sum_wx(), 0.0 + 0.49 + 0.5 + 1.99);
    EXPECT_DOUBLE_EQ(h.sum_wx2(), 0.49 * 0.49 + 0.5 * 0.5 + 1.99 * 1.99);
}

}  // namespace
