// The display on a fresh simulated receiver, checked on the panel's own RAM
// after a flush: the screen mirror and its flush to the controller,
// contrast, power, a device that misbehaves or is not open; lines,
// rectangles and circles; text in the small font at its four sizes, user
// characters, the proportional font one to one and stretched.
#include <math.h>

#include <future>
#include <random>
#include <string>
#include <vector>

#include "API.h"
#include "internal/API_Display.h"
#include "sim_test.h"
#include "standard_input.h"

namespace {

// The display open on a blank mirror, as the process starts it.
class DisplayTest : public simtest::SimTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
        panel.ClearTranscript();
    }
    void TearDown() override
    {
        API_Display_Close();
        unitreset::Display();
    }

    // The panel after a flush, as '#'/'.' rows.
    std::string Shown(int x, int y, int width, int height)
    {
        EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
        return panel.Render(x, y, width, height);
    }

    sim::Display &panel = *board.display;
};

// Art as sim::Display renders it, written with '|' between rows.
std::string Art(std::string rows)
{
    for (char &c : rows)
        c = c == '|' ? '\n' : c;
    return rows + "\n";
}

// The same row `count` times.
std::string Rows(const std::string &row, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += row + "\n";
    return text;
}

using Codes = std::vector<int>;
using Transfers = std::vector<sim::Display::Transfer>;

sim::Display::Transfer PageSelect(int page) { return {0, {static_cast<uint8_t>(0xB0 + page), 0x00, 0x10}}; }
sim::Display::Transfer PageData(int page)
{
    return {1, std::vector<uint8_t>(s_display_mirror + page * 128, s_display_mirror + page * 128 + 128)};
}
bool Blank(const std::array<uint8_t, 1024> &ram) { return ram == std::array<uint8_t, 1024>{}; }

using FrameBuffer = DisplayTest;

TEST_F(FrameBuffer, PixelsMapToPagesOnlyMarkedPagesAreFlushedAndNoDeviceIsNoWrite)
{
    EXPECT_EQ(set_pixel(127, 63, 1) + set_pixel(7, 9, 1), API_ERR_NONE);
    EXPECT_EQ(s_display_mirror[1023] * 256 + s_display_mirror[128 + 7], 0x8002);
    for (auto [x, y] : {std::pair{128, 0}, {0, 64}, {-1, 5}, {5, -1}})
        EXPECT_EQ(set_pixel(x, y, 1), API_ERR_UNDEFINED_PIXEL_COORDINATES) << x << "," << y;
    EXPECT_EQ(s_page_update, 0x82);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel.Transfers(), (Transfers{PageSelect(1), PageData(1), PageSelect(7), PageData(7)}));
    EXPECT_EQ(s_page_update, 0);
    // Only 1 lights.
    EXPECT_EQ((Codes{set_pixel(7, 9, 2), API_Display_SetPixel(5, 64, 1), API_Display_Update(), panel.Ram()[128 + 7]}),
              (Codes{0, API_ERR_SET_CLEAR_PIXEL, 0, 0}));

    panel.FillRam(0xFF);
    panel.ClearTranscript();
    API_Display_SetPixel(1, 1, 1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);
    EXPECT_TRUE(Blank(panel.Ram()));
    EXPECT_EQ(panel.Transfers().size(), 18u);  // eight pages, then the one that was marked
    panel.ClearTranscript();
    EXPECT_EQ(API_Display_SetBrightness(0x1FF), API_ERR_NONE);
    EXPECT_EQ(panel.Transfers(), (Transfers{{0, {0x81, 0xFF}}}));

    API_Display_SetPixel(10, 30, 1);  // marked, not flushed
    panel.ClearTranscript();
    EXPECT_TRUE(API_Display_Reset() == API_ERR_NONE && panel.Log().Contains("close"));
    API_Display_Close();
    EXPECT_TRUE(receiver.OpenDescriptors().empty() && i_dfd == 0);
    EXPECT_EQ(panel.Transfers(), (Transfers{PageSelect(3), {1, std::vector<uint8_t>(128, 0)}}));  // blank

    // Without the device nothing is written anywhere.
    receiver.FailOpen("/dev/display", ENOENT);
    EXPECT_EQ(API_Display_Reset(), API_ERR_OPEN_FILE);
    simtest::ExpectStandardInputUntouchedBy([] {
        int state;  // the mirror stays: a pixel is set
        EXPECT_EQ(
            (Codes{API_Display_SetPixel(1, 1, 1), API_Display_Update(), API_Display_Clear(),
                   API_Display_SetBrightness(5), API_Display_SetPowerState(1), API_Display_GetPowerState(&state)}),
            (Codes{0, API_ERR_OPEN_DEV_DISPLAY, API_ERR_OPEN_DEV_DISPLAY, API_ERR_OPEN_DEV_DISPLAY,
                   API_ERR_SPI_TRANSMISSION, API_ERR_SPI_TRANSMISSION}));
    });
    receiver.ClearOpenFault("/dev/display");
    EXPECT_EQ(API_Display_Reset(), API_ERR_NONE);
}

TEST_F(FrameBuffer, AFailedPageIsSentAgainByTheNextFlushAndPowerGoesThroughThePmu)
{
    API_Display_SetPixel(4, 8, 1);
    API_Display_SetPixel(4, 24, 1);
    panel.ShortenDataWrites(60, 1);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel.Pixel(4, 24));  // the page after it still went out
    EXPECT_EQ(s_page_update, 0x02);
    // Data after a failed page select would land on the page the controller
    // still points at; a lost page command is no better.
    panel.ClearTranscript();
    panel.FailModeSelects(1, sim::Display::kCommandMode);
    EXPECT_EQ(API_Display_Update(), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_TRUE(panel.Transfers().empty());
    panel.FailWrites(1);
    EXPECT_EQ((Codes{API_Display_Update(), API_Display_Update()}), (Codes{59, 0}));
    EXPECT_TRUE(panel.Pixel(4, 8));

    panel.FillRam(0xFF);
    panel.FailWrites(1);
    EXPECT_EQ(API_Display_Clear(), API_ERR_NONE);  // page 0 went out on the second try
    EXPECT_TRUE(Blank(panel.Ram()));
    panel.FailWrites(1);
    EXPECT_EQ(API_Display_SetBrightness(0x40), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    panel.ClearFaults();
    panel.FailModeSelects(1);
    EXPECT_NE(API_Display_SetBrightness(0x40), API_ERR_NONE);
    EXPECT_EQ(panel.Contrast(), -1);  // never sent as pixel data

    // Power goes through the PMU.
    OpenPmu();
    int state = -1;
    EXPECT_EQ((Codes{API_Display_SetPowerState(1), API_Display_GetPowerState(nullptr),
                     API_Display_GetPowerState(&state), state, API_Display_SetPowerState(2), b_PowerState}),
              (Codes{0, API_ERR_INVALID_PARAMETERS, 0, 1, 0, 0}));  // anything but 1 is off
    EXPECT_EQ(board.pmu->Log().Lines(), (std::vector<std::string>{"02 E3 00 E1", "02 E4 00 E6", "02 E2 00 E0"}));
}

using Drawing = DisplayTest;

TEST_F(Drawing, ArgumentChecksComeBeforeAnyPixelThenRectanglesAndCircles)
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
    EXPECT_EQ(API_Display_DrawCircle(0, 64, 32) + API_Display_DrawCircle(INT32_MIN, 64, 32), API_ERR_NONE);
    EXPECT_EQ(s_page_update, 0);
    // The far end far below the screen: the columns are still walked to the
    // end, the rows outside skipped.
    EXPECT_EQ(drawline(30, 0, 32, 1000000), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(30, 0, 3, 64), Rows("#..", 64));

    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    // Only the third one's right edge starts on the screen.
    EXPECT_EQ(API_Display_DrawRect(1, 1, 5, 4, 0) + API_Display_DrawRect(14, 4, 8, 1, 1) +
                  API_Display_DrawRect(-2, 6, 3, 9, 1),
              API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 16, 10), Art("................|.#####..#######.|.#...#..#######.|.#...#..#######.|"
                                       ".#####..#######.|................") +
                                       Rows("...#............", 4));
    // Midpoint circles: no point on the diagonals.
    EXPECT_EQ(API_Display_DrawCircle(6, 20, 50), API_ERR_NONE);
    EXPECT_EQ(Shown(14, 44, 13, 13), Art("....#####....|...#.....#...|.............|.#.........#.|#...........#|"
                                         "#...........#|#...........#|#...........#|#...........#|.#.........#.|"
                                         ".............|...#.....#...|....#####...."));
    // Centre on the corner just past the screen: only the quarter on it shows.
    EXPECT_EQ(API_Display_DrawCircle(10, 128, 64) + API_Display_DrawCircle(140, 0, 0), API_ERR_NONE);
    EXPECT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_TRUE(panel.Pixel(118, 63) && panel.Pixel(127, 54) && !panel.Pixel(117, 63) && !panel.Pixel(127, 53));
}

// A corner far above the screen: the fill starts at the screen's first row,
// not two thousand million rows up (with the display lock held all along).
TEST_F(Drawing, ARectangleFromFarOffTheScreenIsFilledAtOnce)
{
    auto fill = std::async(std::launch::async, [] { return API_Display_DrawRect(0, INT32_MIN, 10, 10, 1); });
    ASSERT_EQ(fill.wait_for(std::chrono::seconds(2)), std::future_status::ready) << "still filling";
    EXPECT_EQ(fill.get(), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 12, 12), Rows("###########.", 11) + Rows("............", 1));
}

// Every pixel lies within half a pixel of the ideal line along the line's
// minor axis, each row (steep) or column (shallow) lit once, both ends drawn,
// whichever end comes first (the random ends run either way).
TEST_F(Drawing, LinesFollowTheIdealLineWhicheverWayRound)
{
    std::mt19937 random(1234);
    std::vector<std::array<int, 4>> lines = {{0, 5, 0, 2}, {6, 1, 2, 1}, {127, 0, 127, 63}, {0, 63, 127, 63}};
    for (int n = 0; n < 200; ++n)
        lines.push_back({int(random() % 128), int(random() % 64), int(random() % 128), int(random() % 64)});
    for (auto [x0, y0, x1, y1] : lines) {
        if (x0 == x1 && y0 == y1)
            continue;
        SCOPED_TRACE(::testing::Message() << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ")");
        ASSERT_EQ((Codes{API_Display_Clear(), API_Display_DrawLine(x0, y0, x1, y1), API_Display_Update()}),
                  Codes(3, 0));
        const double slope = double(y1 - y0) / double(x1 - x0);  // infinite when vertical
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
    }
}


using Text = DisplayTest;

TEST_F(Text, ArgumentChecksComeBeforeAnyDrawingAndUserCharactersKeepToTheirSize)
{
    EXPECT_EQ((Codes{API_Display_PrintText(0, 0, 4, "A"), API_Display_PrintText(128, 0, 0, "A"),
                     API_Display_PrintText(0, 64, 0, "A"), API_Display_PrintText(0, 0, 0, ""),
                     API_Display_PrintText(0, 0, 0, nullptr), API_Display_PrintText2(128, 0, "A"),
                     API_Display_PrintText2(0, 64, "A"), API_Display_PrintText2(0, 0, ""),
                     API_Display_PrintText3(128, 0, 1.0f, "A"), API_Display_PrintText3(0, 64, 1.0f, "A"),
                     API_Display_PrintText3(0, 0, 0.5f, "")}),
              (Codes{61, 57, 57, 0, 0, 57, 57, 0, 57, 57, 0}));
    EXPECT_EQ(s_page_update, 0);
    // The last column and row are on the screen: drawing starts, off it.
    EXPECT_EQ((Codes{API_Display_PrintText(127, 63, 0, "A"), API_Display_PrintText2(127, 63, "a"),
                     API_Display_PrintText3(127, 63, 1.0f, "a"), API_Display_PrintText3(0, 0, 0.5f, "A"),
                     API_Display_PrintText3(0, 0, 0.5f, "  "),  // nothing known to draw
                     API_Display_PrintText3(0, 0, NAN, "A"), API_Display_PrintText3(0, 0, 3e9f, " ")}),
              (Codes{59, 59, 59, 57, 0, 57, 57}));
    // A character that starts on the last column is drawn, the next is not.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText2(120, 20, "aI"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(127, 20, 1, 12), Rows("#", 12));

    // A box at size 0, packed; 0x9F is defined at size 1 only.
    const std::string box = Art("#######|#.....#|#.#.#.#|#.....#|#######");
    const int boxBits[3] = {0xFF06, 0xAC1F, 0xE000}, bits[140] = {};
    ASSERT_EQ(API_Display_SetuserCharacter(0x90, 0, boxBits) + API_Display_SetuserCharacter(0x9F, 1, bits), 0);
    API_Display_DrawRect(0, 20, 40, 35, 1);
    EXPECT_EQ(API_Display_PrintText(0, 20, 0, "\x90\x9F\x90"), API_ERR_NONE);
    ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel.Render(0, 20, 7, 5) + panel.Render(7, 20, 7, 5) + panel.Render(14, 20, 7, 5),
              box + Rows("#######", 5) + box);
    EXPECT_EQ((Codes{API_Display_SetuserCharacter(0x92, 0, nullptr), API_Display_SetuserCharacter(0x8F, 0, bits),
                     API_Display_SetuserCharacter(0xA0, 0, bits), API_Display_SetuserCharacter(0x91, 4, bits),
                     API_Display_SetuserCharacter(0x90, 3, bits), API_Display_SetuserCharacter(0x91, 3, bits)}),
              (Codes{API_ERR_INVALID_PARAMETERS, 60, 60, 61, API_ERR_USER_CHARACTER_ALREADY_DEFINED, 0}));
}


// Every character twice in a row, so that its width places the second copy,
// over lit rows that the proportional font leaves and the small font's cells
// clear, the small font also at sizes 1 and 2 and the proportional one
// stretched to twice its size: one digest of both fonts' pixels, advances
// and backgrounds, and of the rows and columns a size or scale covers.
TEST_F(Text, BothFontsAsDrawnAndStretched)
{
    uint32_t digest = 2166136261u;
    for (int code = 1; code < 256; ++code) {
        const char twice[] = {static_cast<char>(code), static_cast<char>(code), '\0'};
        API_Display_Clear();
        API_Display_DrawRect(0, 4, 27, 5, 1);
        API_Display_DrawRect(0, 22, 27, 23, 1);
        API_Display_PrintText2(0, 0, twice);
        API_Display_PrintText(0, 20, 0, twice);
        API_Display_PrintText3(30, 0, 2.0f, twice);
        API_Display_PrintText(0, 34, 1, twice);
        API_Display_PrintText(30, 34, 2, twice);
        for (char pixel : Shown(0, 0, 88, 54))
            digest = (digest ^ static_cast<unsigned char>(pixel)) * 16777619u;
    }
    EXPECT_EQ(digest, 3613150627u);

    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    // Far larger than the screen: only the glyph's top-left corner shows.
    EXPECT_EQ(API_Display_PrintText3(0, 0, 1000.0f, "I"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 0, 128, 64), Rows(std::string(128, '#'), 64));
}

}  // namespace
