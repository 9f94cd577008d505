// Text in the small font at its four sizes, user characters, and the
// proportional font one to one and stretched, as it arrives on the panel;
// the font tables' formats.
#include <math.h>

#include <map>

#include "display_fixture.h"

namespace {

const std::string kA = Art("..###..|.#...#.|.#####.|.#...#.|.#...#.");
const std::string kH = Art(".#...#.|.#...#.|.#####.|.#...#.|.#...#.");
const std::string kM = Art("#....#.|##..##.|#.##.#.|#....#.|#....#.");
const std::string kColonColumn = Rows("...", 7) + Rows("###", 4) + Rows("...", 8) + Rows("###", 4) + Rows("...", 7);

// Every pixel of `art` as a factor x factor block.
std::string Enlarge(const std::string &art, int factor)
{
    std::string text;
    for (size_t start = 0, end; (end = art.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string row;
        for (size_t i = start; i < end; ++i)
            row.append(static_cast<size_t>(factor), art[i]);
        text += Rows(row, factor);
    }
    return text;
}

using Text = DisplayTest;

TEST_F(Text, ArgumentChecksComeBeforeAnyDrawing)
{
    EXPECT_EQ(API_Display_PrintText(0, 0, 4, "A"), API_ERR_INVALID_FONT_SIZE);
    EXPECT_EQ(API_Display_PrintText(128, 0, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText(0, 64, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, ""), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, nullptr), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText2(128, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText2(0, 64, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText2(0, 0, ""), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText3(128, 0, 1.0f, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 64, 1.0f, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, ""), API_ERR_NONE);
    EXPECT_EQ(s_page_update, 0);
    // The last column and row are on the screen: drawing starts, off it.
    EXPECT_EQ(API_Display_PrintText(127, 63, 0, "A") + API_Display_PrintText2(127, 63, "a"), 2 * 59);
    EXPECT_EQ(API_Display_PrintText3(127, 63, 1.0f, "a"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, "  "), API_ERR_NONE);  // nothing known to draw
    EXPECT_EQ(API_Display_PrintText3(0, 0, NAN, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 3e9f, " "), API_ERR_SET_CLEAR_PIXEL);
}

TEST_F(Text, SmallFontCellsAreOpaqueLeftToRightAndUnsigned)
{
    API_Display_DrawRect(0, 0, 40, 6, 1);  // lit background: the cells clear it
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, "Ag\x01\xA1"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 30, 6), Art("..###....####.#######...#...##|.#...#..#...#.#######.......##|"
                                      ".#####...####.#######...#...##|.#...#......#.#######...#...##|"
                                      ".#...#...###..#######...#...##|##############################"));
}

TEST_F(Text, EachSizeDoublesThePreviousOne)
{
    for (unsigned size = 1; size <= 3; ++size) {
        SCOPED_TRACE(size);
        ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
        const int width = 7 << size, height = 5 << size;
        EXPECT_EQ(API_Display_PrintText(0, 1, size, size < 3 ? "AM" : "A"), API_ERR_NONE);
        EXPECT_EQ(Shown(0, 1, width, height), Enlarge(kA, 1 << size));
        if (size < 3) {
            EXPECT_EQ(panel.Render(width, 1, width, height), Enlarge(kM, 1 << size));
        }
        EXPECT_EQ(panel.Render(0, 0, 128, 1), Rows(std::string(128, '.'), 1));
    }
}

TEST_F(Text, ALitPixelOffTheScreenEndsTheText)
{
    EXPECT_EQ(API_Display_PrintText(105, 10, 0, "HHHH"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(105, 10, 23, 5), Beside({kH, kH, kH, Rows("..", 5)}));
    // Blank pixels off the screen go on, but the result is that of the last
    // pixel written, here the cell's off-screen left column.
    EXPECT_EQ(API_Display_PrintText(-1, 20, 0, "1"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 20, 6, 5), Art("..#...|.##...|..#...|..#...|.###.."));
}

TEST_F(Text, UserCharactersAreDrawnAtTheirOwnSizeOnly)
{
    // A box at size 0 and a checkerboard of 2 x 2 blocks at size 1, packed.
    const std::string box = Art("#######|#.....#|#.#.#.#|#.....#|#######");
    const std::string big = Enlarge(Art("#.#.#.#|.#.#.#.|#.#.#.#|.#.#.#.|#.#.#.#"), 2);
    const int boxBits[3] = {0xFF06, 0xAC1F, 0xE000};
    const int bigBits[9] = {0xCCCF, 0x3333, 0x330C, 0xCCCC, 0xCF33, 0x3333, 0x0CCC, 0xCCCF, 0x3330};
    ASSERT_EQ(API_Display_SetuserCharacter(0x90, 0, boxBits), API_ERR_NONE);
    ASSERT_EQ(API_Display_SetuserCharacter(0x9F, 1, bigBits), API_ERR_NONE);
    API_Display_DrawRect(0, 20, 40, 35, 1);
    EXPECT_EQ(API_Display_PrintText(0, 20, 0, "\x90\x9F\x90"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 20, 21, 5), Beside({box, Rows("#######", 5), box}));
    EXPECT_TRUE(panel.Pixel(0, 25));  // nothing below the cell
    EXPECT_EQ(API_Display_PrintText(0, 40, 1, "\x9F"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 40, 14, 10), big);
    // A user glyph stops at its first pixel off the screen; the text goes on.
    EXPECT_EQ(API_Display_PrintText(-3, 0, 0, "\x90\x41"), API_ERR_NONE);  // then an A
    EXPECT_EQ(Shown(0, 0, 11, 5), Beside({Rows("....", 5), kA}));

    const int bits[140] = {};
    EXPECT_EQ(API_Display_SetuserCharacter(0x92, 0, nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Display_SetuserCharacter(0x8F, 0, bits), API_ERR_INVALID_CHARACTER);
    EXPECT_EQ(API_Display_SetuserCharacter(0xA0, 0, bits), API_ERR_INVALID_CHARACTER);
    EXPECT_EQ(API_Display_SetuserCharacter(0x91, 4, bits), API_ERR_INVALID_FONT_SIZE);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 3, bits), API_ERR_USER_CHARACTER_ALREADY_DEFINED);
    EXPECT_EQ(API_Display_SetuserCharacter(0x91, 3, bits), API_ERR_NONE);
    EXPECT_EQ(l_user_chars->code, 0x91);  // newest first
    EXPECT_EQ(API_Display_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(l_user_chars, nullptr);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 2, bits), API_ERR_NONE);
}

TEST_F(Text, ProportionalTextIsTransparentWithAOnePixelGap)
{
    API_Display_DrawLine(0, 14, 60, 14);
    // The space is unknown to the font: it advances by the terminator's 7 + 1;
    // the first of the two '*' records is drawn.
    EXPECT_EQ(API_Display_PrintText2(0, 0, "a b*"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 29, 15), Art("...............##............|...............##............|"
                                       "...............##......#.#.#.|...............##.......###..|"
                                       ".####..........######..#####.|....##.........#######..###..|"
                                       ".#####.........##...##.#.#.#.|######.........##...##.......|"
                                       "##..##.........##...##.......|##..##.........##...##.......|"
                                       "######.........#######.......|.#####.........######........|"
                                       ".............................|.............................|"
                                       "#############################"));
    EXPECT_EQ(panel.Render(0, 15, 29, 1), Rows(std::string(29, '.'), 1));  // nothing below the glyphs
    // A character that starts on the last column is drawn; one after it is not.
    EXPECT_EQ(API_Display_PrintText2(120, 20, "aI") + API_Display_PrintText3(120, 40, 1.0f, "aI"), 2 * 59);
    EXPECT_EQ(Shown(127, 20, 1, 12), Rows("#", 12));
    EXPECT_EQ(panel.Render(127, 40, 1, 12), Rows("#", 12));
    // M is 11 wide: its right columns fall off the screen, and nothing follows it.
    EXPECT_EQ(API_Display_PrintText2(120, 30, "MI"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
}

TEST_F(Text, StretchedTextCoversTheTargetRowsAfterThoseOfThePreviousSourceRow)
{
    const char *text = "Wg 2:%]w?";
    EXPECT_EQ(API_Display_PrintText2(-3, 2, text), API_Display_PrintText3(-3, 30, 1.0f, text));
    ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel.Render(0, 2, 128, 15), panel.Render(0, 30, 128, 15));

    // ':' is lit in source rows 4, 5, 10 and 11 and columns 0 and 1: at scale
    // 2 source row r covers target rows 2r - 1 and 2r, row 0 only row 0.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 2.0f, "::"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 10, 30), Beside({kColonColumn, Rows("..", 30), kColonColumn, Rows("..", 30)}));
    EXPECT_EQ(panel.Render(10, 0, 30, 30), Rows(std::string(30, '.'), 30));  // nothing beyond their columns
    // The result is that of the glyph's last lit pixel: its rightmost column's lowest.
    EXPECT_EQ(API_Display_PrintText3(0, 50, 1.0f, "a"), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText3(116, 0, 1.0f, "W"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    // Far larger than the screen: only the glyph's top-left corner shows.
    EXPECT_EQ(API_Display_PrintText3(0, 0, 1000.0f, "I"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 0, 128, 64), Rows(std::string(128, '#'), 64));
}

TEST(Fonts, GlyphsKeepToTheirCellsAndWidths)
{
    // Small font: bit 7 unused, column 6 blank, rows 5 and 6 empty.
    for (int at = 0; at < 96 * 8; at += 8)
        for (int row = 1; row <= 7; ++row)
            EXPECT_EQ(size7_bmp[at + row] & (row <= 5 ? 0x81 : 0xFF), 0) << int(size7_bmp[at]) << " row " << row;
    EXPECT_EQ(std::string(size7_bmp.begin() + 96 * 8, size7_bmp.end()), std::string(8, '\0'));

    // clang-format off
    const std::map<int, std::string> byWidth = {
        {2, "!,.:;Iil"}, {4, "'(/fj"}, {5, "*rt"}, {6, "_aceks"}, {7, std::string("-0123456789=EFJLSbdghnopquz") + '\0'},
        {8, "+?BDHNPRTUYZvxy"}, {9, "#&)ACGKOQVX[]"}, {10, "%m"}, {11, "Mw*"}, {13, "W"}};
    // clang-format on
    std::string codes;
    for (int record = 0; record < 84; ++record) {
        const unsigned char *at = &new_bmp[record * 200];
        const int width = at[196] | at[197] << 8 | at[198] << 16 | at[199] << 24;
        codes += static_cast<char>(at[0]);
        SCOPED_TRACE(::testing::Message() << "record " << record << " '" << at[0] << "'");
        // The first '*' is 5 wide, the second, never reached, 11; the
        // terminator's 7 is what unknown characters advance by.
        EXPECT_NE(byWidth.at(width).find(static_cast<char>(at[0])), std::string::npos) << "width " << width;
        for (int pixel = 0; pixel < 195; ++pixel)
            EXPECT_TRUE(at[1 + pixel] == 0 || (at[1 + pixel] == 1 && pixel % 13 < width)) << "pixel " << pixel;
    }
    EXPECT_EQ(codes,
              std::string("abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!+:?*/_,;%=-.'()&#[]*") +
                  '\0');
}

}  // namespace
