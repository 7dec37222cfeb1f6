#include <gtest/gtest.h>

#include <array>

#include "tqdm_peer.h"

namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgb& c) { return os << c.r << ";" << c.g << ";" << c.b; }

Rgb gradient(double pct) {
    Rgb c{255, 255, 255};
    tqdm_peer::gradient(pct, c.r, c.g, c.b);
    return c;
}

Rgb hsv(float h, Rgb start = {-1, -1, -1}) {
    tqdm_peer::hsv_to_rgb(h, 0.65f, 1.0f, start.r, start.g, start.b);
    return start;
}

TEST(Gradient, FullTable) {
    struct Row {
        double pct;
        Rgb rgb;
    };
    const std::array<Row, 11> table{{
        {0, {255, 89, 89}},
        {10, {255, 122, 89}},
        {25, {255, 172, 89}},
        {40, {255, 221, 89}},
        {49.9, {255, 254, 89}},
        {50, {254, 255, 89}},
        {60, {221, 255, 89}},
        {75, {172, 255, 89}},
        {90, {122, 255, 89}},
        {99, {92, 255, 89}},
        {100, {89, 255, 89}},
    }};
    for (const Row& row : table) EXPECT_EQ(gradient(row.pct), row.rgb) << "pct " << row.pct;
}

// The hue is narrowed to float before the sector is chosen: just below 50 % it already
// rounds up to sector 1, and 100 % lies just above one third (sector 2).
TEST(Gradient, SectorSwitchesFollowSinglePrecisionHue) {
    EXPECT_EQ(gradient(49.9999), (Rgb{255, 254, 89}));
    EXPECT_EQ(gradient(49.9999999), (Rgb{254, 255, 89}));
    EXPECT_EQ(gradient(99.99999), (Rgb{89, 255, 89}));
    EXPECT_EQ(gradient(99.9), (Rgb{89, 255, 89}));
    EXPECT_EQ(gradient(100.0), (Rgb{89, 255, 89}));
}

// Mixed precision: t takes 1 - f in double, q the product s * f in single precision.
TEST(HsvToRgb, MixedPrecisionOfTheComponentLevels) {
    EXPECT_EQ(gradient(15.3092), (Rgb{255, 140, 89}));
    Rgb c{};
    tqdm_peer::hsv_to_rgb(0.5694667100906372f, 0.489254891872406f, 1.0f, c.r, c.g, c.b);
    EXPECT_EQ(c, (Rgb{130, 202, 255}));
}

TEST(HsvToRgb, EverySector) {
    EXPECT_EQ(hsv(0.0f), (Rgb{255, 89, 89}));
    EXPECT_EQ(hsv(0.25f), (Rgb{172, 255, 89}));
    EXPECT_EQ(hsv(5.0f / 12.0f), (Rgb{89, 255, 172}));
    EXPECT_EQ(hsv(0.5f), (Rgb{89, 255, 255}));
    EXPECT_EQ(hsv(0.75f), (Rgb{172, 89, 255}));
    EXPECT_EQ(hsv(11.0f / 12.0f), (Rgb{255, 89, 172}));
    EXPECT_EQ(hsv(1.0f), (Rgb{255, 89, 89}));  // wraps to sector 0
}

TEST(HsvToRgb, NegativeSectorLeavesColourUntouched) {
    EXPECT_EQ(hsv(-0.5f, {1, 2, 3}), (Rgb{1, 2, 3}));
    EXPECT_EQ(hsv(-0.2f, {7, 8, 9}), (Rgb{7, 8, 9}));
}

}  // namespace
