// Lines, rectangles and circles, as they arrive on the panel.
#include <math.h>

#include <random>

#include "display_fixture.h"

namespace {

using Drawing = DisplayTest;

TEST_F(Drawing, ArgumentChecksComeBeforeAnyPixel)
{
    // clang-format off
    for (const auto &l : {std::array{0, 0, 0, 0, 58}, {128, 0, 0, 0, 58}, {0, 0, 128, 0, 58}, {0, 64, 5, 0, 58},
                          {0, 0, 5, 64, 58}, {-3, 10, 5, 10, 59}, {5, -3, 40, 20, 59}, {INT32_MIN, 0, 100, 63, 59}})
        EXPECT_EQ(API_Display_DrawLine(l[0], l[1], l[2], l[3]), l[4]) << l[0] << "," << l[1] << " " << l[2] << "," << l[3];
    for (const auto &r : {std::array{10, 10, 10, 20}, {10, 10, 20, 10}, {128, 0, 0, 5}, {0, 0, 128, 5}, {0, 64, 5, 0},
                          {0, 0, 5, 64}})
        EXPECT_EQ(API_Display_DrawRect(r[0], r[1], r[2], r[3], 1), API_ERR_INVALID_RECTANGLE_COORDINATES);
    for (const auto &c : {std::array{10, 129, 32}, {10, 32, 65}, {10, -1, 32}, {10, 32, -1}, {141, 64, 32}})
        EXPECT_EQ(API_Display_DrawCircle(c[0], c[1], c[2]), API_ERR_SET_CLEAR_PIXEL);
    // clang-format on
    EXPECT_EQ(API_Display_DrawCircle(0, 64, 32), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(INT32_MIN, 64, 32), API_ERR_NONE);
    EXPECT_EQ(s_page_update, 0);
}

TEST_F(Drawing, LinesRunBetweenTheirEndsWhicheverWayRound)
{
    EXPECT_EQ(API_Display_DrawLine(0, 5, 0, 2), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(6, 1, 2, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(8, 0, 12, 2), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(14, 0, 16, 6), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(18, 6, 20, 0), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 21, 7), Art("........#.....#.....#|..#####..##...#.....#|#..........##..#...#.|"
                                      "#..............#...#.|#..............#...#.|#...............#.#..|"
                                      "................#.#.."));
    // The far end far below the screen: the columns are still walked to the
    // end, the rows outside skipped.
    EXPECT_EQ(drawline(30, 0, 32, 1000000), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(30, 0, 3, 64), Rows("#..", 64));
}

// Every pixel lies within half a pixel of the ideal line along the line's
// minor axis, each row (steep) or column (shallow) lit once, both ends drawn,
// and the order of the ends does not matter.
TEST_F(Drawing, SlopedLinesFollowTheIdealLine)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> column(0, 127), row(0, 63);
    for (int n = 0; n < 200; ++n) {
        int x0 = column(random), y0 = row(random), x1 = column(random), y1 = row(random);
        if (x0 == x1 || y0 == y1)
            continue;
        ASSERT_EQ(API_Display_Clear(), API_ERR_NONE);
        ASSERT_EQ(API_Display_DrawLine(x0, y0, x1, y1), API_ERR_NONE);
        ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
        SCOPED_TRACE(::testing::Message() << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ")");
        const double slope = double(y1 - y0) / double(x1 - x0);
        int lit = 0;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 128; ++x) {
                if (!panel.Pixel(x, y))
                    continue;
                ++lit;
                double off = fabs(slope) > 1.0 ? x - (x0 + (y - y0) / slope) : y - (y0 + (x - x0) * slope);
                ASSERT_LE(fabs(off), 0.5 + 1e-3) << "pixel " << x << "," << y;
            }
        }
        EXPECT_TRUE(panel.Pixel(x0, y0) && panel.Pixel(x1, y1));
        EXPECT_EQ(lit, std::max(abs(x1 - x0), abs(y1 - y0)) + 1);
        auto forward = panel.Ram();
        ASSERT_EQ(API_Display_Clear(), API_ERR_NONE);
        ASSERT_EQ(API_Display_DrawLine(x1, y1, x0, y0), API_ERR_NONE);
        ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
        EXPECT_EQ(panel.Ram(), forward);
    }
}

TEST_F(Drawing, RectanglesAndCircles)
{
    EXPECT_EQ(API_Display_DrawRect(1, 1, 5, 4, 0), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawRect(14, 4, 8, 1, 1), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawRect(-2, 6, 3, 9, 1), API_ERR_NONE);  // only the right edge starts on the screen
    EXPECT_EQ(Shown(0, 0, 16, 10), Art("................|.#####..#######.|.#...#..#######.|.#...#..#######.|"
                                       ".#####..#######.|................") +
                                       Rows("...#............", 4));
    // Midpoint circles: no point on the diagonals.
    EXPECT_EQ(API_Display_DrawCircle(1, 10, 20), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(3, 64, 32), API_ERR_NONE);
    EXPECT_EQ(Shown(8, 18, 5, 5), Art(".....|..#..|.#.#.|..#..|....."));
    EXPECT_EQ(panel.Render(60, 28, 9, 9), Art(".........|...###...|.........|.#.....#.|.#.....#.|.#.....#.|.........|"
                                              "...###...|........."));
    EXPECT_EQ(API_Display_DrawCircle(6, 20, 50), API_ERR_NONE);
    EXPECT_EQ(Shown(14, 44, 13, 13), Art("....#####....|...#.....#...|.............|.#.........#.|#...........#|"
                                         "#...........#|#...........#|#...........#|#...........#|.#.........#.|"
                                         ".............|...#.....#...|....#####...."));
    EXPECT_EQ(API_Display_DrawRect(120, 60, 127, 63, 0), API_ERR_NONE);  // the last column and row are drawable
    // Centre on the corner just past the screen: only the quarter on it shows.
    EXPECT_EQ(API_Display_DrawCircle(10, 128, 64), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(140, 0, 0), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel.Pixel(118, 63) && panel.Pixel(127, 54));
    EXPECT_FALSE(panel.Pixel(117, 63) || panel.Pixel(127, 53) || panel.Pixel(119, 63));
}

}  // namespace
