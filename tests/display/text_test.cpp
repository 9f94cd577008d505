// Text in the small font at its four sizes, user characters, and the
// proportional font one to one and stretched, as it arrives on the panel.
#include <math.h>

#include "display_fixture.h"

namespace {

// The built-in small glyph as '#'/'.' art, read from the table.
std::string SmallGlyph(unsigned char code)
{
    for (size_t at = 0; size7_bmp[at] != 0; at += SIZE7_ENTRY_SIZE) {
        if (size7_bmp[at] != code)
            continue;
        std::string art;
        for (int row = 0; row < SIZE7_ROWS; ++row) {
            for (int column = 0; column < SIZE7_COLUMNS; ++column)
                art += (size7_bmp[at + 1 + row] >> (6 - column)) & 1 ? '#' : '.';
            art += '\n';
        }
        return art;
    }
    return "";
}

const unsigned char *WideRecord(unsigned char code)
{
    for (size_t at = 0; new_bmp[at] != 0; at += NEW_BMP_RECORD_SIZE)
        if (new_bmp[at] == code)
            return &new_bmp[at];
    return nullptr;
}

int WideWidth(unsigned char code) { return WideRecord(code)[NEW_BMP_WIDTH_OFFSET]; }

// The proportional glyph as art, `width` columns wide, all 15 rows.
std::string WideGlyph(unsigned char code, int width)
{
    const unsigned char *record = WideRecord(code);
    std::string art;
    for (int row = 0; row < NEW_BMP_ROWS; ++row) {
        for (int column = 0; column < width; ++column)
            art += column < NEW_BMP_COLUMNS && record[1 + row * NEW_BMP_COLUMNS + column] == 1 ? '#' : '.';
        art += '\n';
    }
    return art;
}

// Packs '#'/'.' rows into the 16-bit elements a user character is defined with.
std::vector<int> UserBits(const std::string &art, size_t elements)
{
    std::vector<int> bits(elements, 0);
    size_t k = 0;
    for (char pixel : art) {
        if (pixel == '\n')
            continue;
        if (pixel == '#')
            bits[k / 16] |= 1 << (15 - k % 16);
        ++k;
    }
    return bits;
}

using Text = DisplayTest;

TEST_F(Text, ArgumentChecksComeBeforeAnyDrawing)
{
    EXPECT_EQ(API_Display_PrintText(0, 0, 4, "A"), API_ERR_INVALID_FONT_SIZE);
    EXPECT_EQ(API_Display_PrintText(128, 0, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText(0, 64, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, ""), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText2(128, 0, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText2(0, 0, ""), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText3(0, 64, 1.0f, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, ""), API_ERR_NONE);
    EXPECT_EQ(s_page_update, 0);
}

TEST_F(Text, SmallFontCellsAreOpaqueAndLeftToRight)
{
    // Lit background under the text: the cells clear it.
    API_Display_DrawRect(0, 0, 20, 6, 1);
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, "Ag"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 14, 5), Art({
                                      "..###....####.",
                                      ".#...#..#...#.",
                                      ".#####...####.",
                                      ".#...#......#.",
                                      ".#...#...###..",
                                  }));
    EXPECT_EQ(panel().Render(14, 0, 7, 7), Rows("#######", 7));
    EXPECT_EQ(panel().Render(0, 5, 14, 2), Rows("##############", 2));
}

TEST_F(Text, EachSizeDoublesThePreviousOne)
{
    for (unsigned size = 0; size <= 3; ++size) {
        SCOPED_TRACE(size);
        ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
        const int width = 7 << size, height = 5 << size;
        // Two glyphs when they fit side by side, so the second cell's place shows.
        const char *text = size < 3 ? "5%" : "5";
        EXPECT_EQ(API_Display_PrintText(0, 1, size, text), API_ERR_NONE);
        EXPECT_EQ(Shown(0, 1, width, height), Enlarge(SmallGlyph('5'), 1 << size));
        if (size < 3) {
            EXPECT_EQ(panel().Render(width, 1, width, height), Enlarge(SmallGlyph('%'), 1 << size));
        }
        EXPECT_EQ(panel().Render(0, 0, 128, 1), BlankArt(128, 1));
    }
}

TEST_F(Text, BytesAreUnsignedAndUnknownOnesLeaveTheirCell)
{
    API_Display_DrawRect(0, 0, 30, 10, 1);
    EXPECT_EQ(API_Display_PrintText(0, 0, 0, "\xA1\x01\x80Z"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 7, 5), Art({
                                     "...#...",
                                     ".......",
                                     "...#...",
                                     "...#...",
                                     "...#...",
                                 }));
    EXPECT_EQ(panel().Render(7, 0, 14, 5), Rows("##############", 5));
    EXPECT_EQ(panel().Render(21, 0, 7, 5), SmallGlyph('Z'));
}

TEST_F(Text, ALitPixelOffTheScreenEndsTheText)
{
    EXPECT_EQ(API_Display_PrintText(105, 10, 0, "HHHH"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    std::string h = SmallGlyph('H');
    EXPECT_EQ(Shown(105, 10, 23, 5), Beside({h, h, h, BlankArt(2, 5)}));

    // Trailing blank pixels off the screen are not fatal, but the result is
    // that of the last pixel written, here the cell's off-screen left column.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText(-1, 0, 0, "1"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 0, 6, 5), Art({"..#...", ".##...", "..#...", "..#...", ".###.."}));
}

TEST_F(Text, UserCharactersAreDrawnAtTheirOwnSizeOnly)
{
    const std::string box = Art({"#######", "#.....#", "#.#.#.#", "#.....#", "#######"});
    ASSERT_EQ(API_Display_SetuserCharacter(0x90, 0, UserBits(box, 3).data()), API_ERR_NONE);
    const std::string big = Enlarge(Art({"#.#.#.#", ".#.#.#.", "#.#.#.#", ".#.#.#.", "#.#.#.#"}), 2);
    ASSERT_EQ(API_Display_SetuserCharacter(0x9F, 1, UserBits(big, 9).data()), API_ERR_NONE);

    API_Display_DrawRect(0, 20, 40, 35, 1);
    EXPECT_EQ(API_Display_PrintText(0, 20, 0, "\x90\x9F\x90"), API_ERR_NONE);
    // Clear bits clear pixels; a character defined at another size leaves its cell alone.
    EXPECT_EQ(Shown(0, 20, 21, 5), Beside({box, Rows("#######", 5), box}));
    EXPECT_EQ(API_Display_PrintText(0, 40, 1, "\x9F"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 40, 14, 10), big);

    // A user glyph stops at its first pixel off the screen; the text goes on.
    ASSERT_EQ(API_Display_Reset(), API_ERR_NONE);
    EXPECT_EQ(API_Display_PrintText(-3, 0, 0, "\x90" "A"), API_ERR_NONE);
    EXPECT_EQ(Shown(0, 0, 11, 5), Beside({BlankArt(4, 5), SmallGlyph('A')}));
}

TEST_F(Text, UserCharacterDefinitions)
{
    const int bits[140] = {};
    EXPECT_EQ(API_Display_SetuserCharacter(0x8F, 0, bits), API_ERR_INVALID_CHARACTER);
    EXPECT_EQ(API_Display_SetuserCharacter(0xA0, 0, bits), API_ERR_INVALID_CHARACTER);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 4, bits), API_ERR_INVALID_FONT_SIZE);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 0, nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(l_user_chars, nullptr);

    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 3, bits), API_ERR_NONE);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 0, bits), API_ERR_USER_CHARACTER_ALREADY_DEFINED);
    EXPECT_EQ(API_Display_SetuserCharacter(0x91, 2, bits), API_ERR_NONE);
    ASSERT_NE(l_user_chars, nullptr);
    EXPECT_EQ(l_user_chars->code, 0x91);  // newest first
    EXPECT_EQ(l_user_chars->size, 2u);

    EXPECT_EQ(API_Display_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(l_user_chars, nullptr);
    EXPECT_EQ(API_Display_SetuserCharacter(0x90, 0, bits), API_ERR_NONE);
}

TEST_F(Text, ProportionalTextIsTransparentWithAOnePixelGap)
{
    API_Display_DrawLine(0, 14, 60, 14);
    EXPECT_EQ(API_Display_PrintText2(0, 0, "a b"), API_ERR_NONE);
    ASSERT_EQ(WideWidth('a'), 6);
    ASSERT_EQ(WideWidth('b'), 7);
    // The space is unknown to the font: it advances by the terminator's 7 + 1.
    std::string expected = Beside({WideGlyph('a', 6), BlankArt(9, 15), WideGlyph('b', 7)});
    expected.replace(expected.size() - 23, 22, std::string(22, '#'));
    EXPECT_EQ(Shown(0, 0, 22, 15), expected);
}

TEST_F(Text, ProportionalTextStopsPastTheRightEdge)
{
    // M is 11 wide: its right columns fall off the screen, and nothing follows it.
    EXPECT_EQ(API_Display_PrintText2(120, 0, "MI"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(120, 0, 8, 15), WideGlyph('M', 8));
}

TEST_F(Text, TheFirstOfTwoRecordsWithOneCodeIsUsed)
{
    EXPECT_EQ(API_Display_PrintText2(100, 20, "*I"), API_ERR_NONE);
    EXPECT_EQ(Shown(100, 20, 8, 15), Beside({WideGlyph('*', 5), BlankArt(1, 15), WideGlyph('I', 2)}));
}

TEST_F(Text, StretchedTextAtScaleOneIsTheProportionalText)
{
    const char *text = "Orva 2:%]w?";
    EXPECT_EQ(API_Display_PrintText2(-3, 2, text), API_Display_PrintText3(-3, 30, 1.0f, text));
    ASSERT_EQ(API_Display_Update(), API_ERR_NONE);
    EXPECT_EQ(panel().Render(0, 2, 128, 15), panel().Render(0, 30, 128, 15));
}

TEST_F(Text, StretchingCoversTargetRowsAfterThoseOfThePreviousSourceRow)
{
    // ':' is lit in source rows 4, 5, 10 and 11 and columns 0 and 1.  At
    // scale 2 source row r covers target rows 2r - 1 and 2r, row 0 only row 0;
    // the same for columns.
    EXPECT_EQ(API_Display_PrintText3(0, 0, 2.0f, "::"), API_ERR_NONE);
    std::string column = BlankArt(3, 7) + Rows("###", 4) + BlankArt(3, 8) + Rows("###", 4) + BlankArt(3, 7);
    EXPECT_EQ(Shown(0, 0, 10, 30), Beside({column, BlankArt(2, 30), column, BlankArt(2, 30)}));
}

TEST_F(Text, StretchScalesThatCannotBeDrawn)
{
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 0.5f, "  "), API_ERR_NONE);  // nothing known to draw
    EXPECT_EQ(API_Display_PrintText3(0, 0, NAN, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, INFINITY, "A"), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(API_Display_PrintText3(0, 0, 3e9f, " "), API_ERR_SET_CLEAR_PIXEL);
    EXPECT_EQ(s_page_update, 0);

    // Far larger than the screen: only the glyph's top-left corner shows.
    EXPECT_EQ(API_Display_PrintText3(0, 0, 500.0f, "I"), API_ERR_UNDEFINED_PIXEL_COORDINATES);
    EXPECT_EQ(Shown(0, 0, 128, 64), Rows(std::string(128, '#').c_str(), 64));
}

}  // namespace
