// Where the window goes on its monitor's work area, and how tall its details box is there.
#include "base/placement.h"

#include <gtest/gtest.h>

using namespace setup;

namespace {

// The window at 150 %: 714 px high, 1071 with the details, whose box is 342 px high at most and
// 96 at least.
constexpr WindowSizes kSizes{966, 714, 1071, 342, 96};

TEST(Home, IsCentredAcrossAThirdDownTheWorkAreaAndNeverAboveOrLeftOfIt) {
    const struct {
        const char* what;
        Area work;
        Point home;
    } cases[] = {
        {"a whole screen", {0, 0, 1920, 1080}, {477, 122}},
        {"a taskbar at the bottom", {0, 0, 1920, 1032}, {477, 106}},
        {"a monitor on the right, its taskbar at the top", {1920, 48, 3840, 1080}, {2397, 154}},
        {"a work area smaller than the window", {-1280, 0, -480, 600}, {-1280, 0}},
    };
    for (const auto& c : cases) {
        const Point home = Home(c.work, kSizes.width, kSizes.height);
        EXPECT_EQ(home.x, c.home.x) << c.what;
        EXPECT_EQ(home.y, c.home.y) << c.what;
    }
}

TEST(Place, TheDetailsMoveTheWindowUpOnlyAsFarAsTheWorkAreaNeedsAndShortenTheirBoxOnAShortOne) {
    const struct {
        const char* what;
        Area work;
        bool details;
        Point rest;
        Placement placed;
    } cases[] = {
        {"hidden: where it rests", {0, 0, 1920, 1032}, false, {477, 900}, {{477, 900}, 342}},
        {"room below: it grows downward", {0, 0, 1920, 1536}, true, {477, 274}, {{477, 274}, 342}},
        {"its bottom just fits", {0, 0, 1920, 1536}, true, {477, 465}, {{477, 465}, 342}},
        {"past the bottom: up as far as needed", {0, 0, 1920, 1536}, true, {477, 600}, {{477, 465}, 342}},
        {"a taskbar at the top: up to the area's bottom", {0, 60, 1920, 1200}, true, {20, 300}, {{20, 129}, 342}},
        {"a 1080-px screen at 150 %: a shorter box fills the area", {0, 0, 1920, 1032}, true, {477, 106},
         {{477, 0}, 303}},
        {"the shortest box: up to the area's top, no further", {0, 40, 1366, 768}, true, {200, 300},
         {{200, 40}, 96}},
        {"above the area's top: the details don't move it down", {0, 100, 1920, 800}, true, {477, 80},
         {{477, 80}, 96}},
    };
    for (const auto& c : cases) {
        const Placement placed = Place(c.work, kSizes, c.details, c.rest);
        EXPECT_EQ(placed.at.x, c.placed.at.x) << c.what;
        EXPECT_EQ(placed.at.y, c.placed.at.y) << c.what;
        EXPECT_EQ(placed.details, c.placed.details) << c.what;
    }
}

}  // namespace
