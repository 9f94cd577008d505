// Lines, rectangles and circles, as they arrive on the panel.
#include <math.h>

#include <random>

#include "display_fixture.h"

namespace {

using Drawing = DisplayTest;

TEST_F(Drawing, ArgumentChecksOfLinesAndRectangles)
{
    EXPECT_EQ(API_Display_DrawLine(0, 0, 0, 0), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(API_Display_DrawLine(128, 0, 0, 0), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(API_Display_DrawLine(0, 0, 5, 64), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(API_Display_DrawRect(10, 10, 10, 20, 0), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(API_Display_DrawRect(10, 10, 20, 10, 1), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(API_Display_DrawRect(0, 0, 128, 5, 0), API_ERR_INVALID_RECTANGLE_COORDINATES);
    EXPECT_EQ(s_page_update, 0);

    // A line whose walk starts off the screen is refused at its first pixel.
    EXPECT_EQ(API_Display_DrawLine(-3, 10, 5, 10), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(API_Display_DrawLine(5, -3, 40, 20), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(API_Display_DrawLine(INT32_MIN, 0, 100, 63), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(s_page_update, 0);
}

TEST_F(Drawing, StraightLinesRunBetweenTheirEndsWhicheverWayRound)
{
    EXPECT_EQ(API_Display_DrawLine(0, 5, 0, 2), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(6, 1, 2, 1), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 8, 7), Art({
                                     "........",
                                     "..#####.",
                                     "#.......",
                                     "#.......",
                                     "#.......",
                                     "#.......",
                                     "........",
                                 }));
}

TEST_F(Drawing, SlopedLinesStepOneRowAtATime)
{
    EXPECT_EQ(API_Display_DrawLine(0, 0, 4, 2), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(6, 0, 8, 10), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawLine(10, 10, 12, 0), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 14, 11), Art({
                                       "#.....#.....#.",
                                       ".##...#.....#.",
                                       "...##.#.....#.",
                                       ".......#...#..",
                                       ".......#...#..",
                                       ".......#...#..",
                                       ".......#...#..",
                                       ".......#...#..",
                                       "........#.#...",
                                       "........#.#...",
                                       "........#.#...",
                                   }));
}

// Every pixel lies within half a pixel of the ideal line along the line's
// minor axis, so each row (steep) or column (shallow) is lit exactly once,
// and both ends are drawn.
TEST_F(Drawing, SlopedLinesFollowTheIdealLineWithoutGapsOrDoubles)
{
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> column(0, 127), row(0, 63);
    for (int n = 0; n < 300; ++n) {
        int x0 = column(random), y0 = row(random), x1 = column(random), y1 = row(random);
        if (x0 == x1 || y0 == y1)
            continue;
        ASSERT_EQ(API_Display_Clear(), API_ERR_NONE);
        ASSERT_EQ(API_Display_DrawLine(x0, y0, x1, y1), API_ERR_NONE);
        ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
        SCOPED_TRACE(::testing::Message() << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ")");

        const double slope = double(y1 - y0) / double(x1 - x0);
        const bool steep = fabs(slope) > 1.0;
        int lit = 0;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 128; ++x) {
                if (!panel().Pixel(x, y))
                    continue;
                ++lit;
                double off = steep ? x - (x0 + (y - y0) / slope) : y - (y0 + (x - x0) * slope);
                ASSERT_LE(fabs(off), 0.5 + 1e-3) << "pixel " << x << "," << y;
            }
        }
        EXPECT_TRUE(panel().Pixel(x0, y0));
        EXPECT_TRUE(panel().Pixel(x1, y1));
        EXPECT_EQ(lit, std::max(abs(x1 - x0), abs(y1 - y0)) + 1);

        // The walk always starts at the left end, so the order of the ends is irrelevant.
        auto forward = panel().Ram();
        ASSERT_EQ(API_Display_Clear(), API_ERR_NONE);
        ASSERT_EQ(API_Display_DrawLine(x1, y1, x0, y0), API_ERR_NONE);
        ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
        EXPECT_EQ(panel().Ram(), forward);
    }
}

TEST_F(Drawing, SteepLinesOffTheScreenEndSkippingTheRowsOutside)
{
    // The far end is far below the screen: the columns are walked to the
    // end, every main pixel below the screen is refused.
    EXPECT_EQ(drawline(0, 0, 2, 1000000), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 0, 3, 64), Rows("#..", 64));
    EXPECT_EQ(drawline(10, 63, 11, INT32_MIN), API_ERR_UNDEFINED_PIXEL_COORDINATES);
}

TEST_F(Drawing, RectanglesOutlinedFilledAndCutAtANegativeCorner)
{
    EXPECT_EQ(API_Display_DrawRect(1, 1, 5, 4, 0), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawRect(14, 4, 8, 1, 1), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 16, 6), Art({
                                      "................",
                                      ".#####..#######.",
                                      ".#...#..#######.",
                                      ".#...#..#######.",
                                      ".#####..#######.",
                                      "................",
                                  }));

    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawRect(10, 10, 20, 20, 1), API_ERR_NONE);
    EXPECT_EQ(Shown(9, 9, 13, 13), BlankArt(13, 1) + Rows(".###########.", 11) + BlankArt(13, 1));

    // Every edge and fill line from a negative corner starts off the screen
    // and is dropped whole; only the right edge is left.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawRect(-2, 2, 3, 5, 1), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 5, 7), BlankArt(5, 2) + Rows("...#.", 4) + BlankArt(5, 1));
}

TEST_F(Drawing, CirclesAreSymmetricMidpointCircles)
{
    EXPECT_EQ(API_Display_DrawCircle(1, 10, 10), API_ERR_NONE);
    EXPECT_EQ(Shown(8, 8, 5, 5), Art({
                                     ".....",
                                     "..#..",
                                     ".#.#.",
                                     "..#..",
                                     ".....",
                                 }));

    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(3, 64, 32), API_ERR_NONE);
    EXPECT_EQ(Shown(60, 28, 9, 9), Art({
                                       ".........",
                                       "...###...",
                                       ".........",
                                       ".#.....#.",
                                       ".#.....#.",
                                       ".#.....#.",
                                       ".........",
                                       "...###...",
                                       ".........",
                                   }));

    // Points with i equal to x are never drawn: gaps on the diagonals.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(6, 20, 20), API_ERR_NONE);
    EXPECT_EQ(Shown(13, 13, 15, 15), Art({
                                         "...............",
                                         ".....#####.....",
                                         "....#.....#....",
                                         "...............",
                                         "..#.........#..",
                                         ".#...........#.",
                                         ".#...........#.",
                                         ".#...........#.",
                                         ".#...........#.",
                                         ".#...........#.",
                                         "..#.........#..",
                                         "...............",
                                         "....#.....#....",
                                         ".....#####.....",
                                         "...............",
                                     }));
}

TEST_F(Drawing, CircleBoundsAndClipping)
{
    EXPECT_EQ(API_Display_DrawCircle(10, 129, 32), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_DrawCircle(10, 32, 65), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_DrawCircle(10, -1, 32), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_DrawCircle(141, 64, 32), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_DrawCircle(0, 64, 32), API_ERR_NONE);
    EXPECT_EQ(API_Display_DrawCircle(INT32_MIN, 64, 32), API_ERR_NONE);
    EXPECT_EQ(s_page_update, 0);

    // Centre on the corner just past the screen: only the quarter on it shows.
    EXPECT_EQ(API_Display_DrawCircle(10, 128, 64), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel().Pixel(118, 63));
    EXPECT_TRUE(panel().Pixel(127, 54));
    EXPECT_EQ(panel().Render(0, 0, 110, 64), BlankArt(110, 64));
    EXPECT_EQ(API_Display_DrawCircle(140, 0, 0), API_ERR_NONE);
}

}  // namespace
