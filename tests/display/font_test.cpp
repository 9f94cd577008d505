// The built-in font tables keep their formats: terminators, blank columns,
// glyphs within their advance widths, and the widths themselves.
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "internal/API_Display.h"

namespace {

TEST(Fonts, GlyphsKeepToTheirCellsAndWidths)
{
    // Small font: bit 7 unused, column 6 blank, rows 5 and 6 empty.
    for (int at = 0; at < 96 * 8; at += 8)
        for (int row = 1; row <= 7; ++row)
            EXPECT_EQ(size7_bmp[at + row] & (row <= 5 ? 0x81 : 0xFF), 0) << int(size7_bmp[at]) << " row " << row;
    EXPECT_EQ(std::string(size7_bmp.begin() + 96 * 8, size7_bmp.end()), std::string(8, '\0'));

    const std::map<int, std::string> byWidth = {
        {2, "!,.:;Iil"},
        {4, "'(/fj"},
        {5, "*rt"},
        {6, "_aceks"},
        {7, std::string("-0123456789=EFJLSbdghnopquz") + '\0'},
        {8, "+?BDHNPRTUYZvxy"},
        {9, "#&)ACGKOQVX[]"},
        {10, "%m"},
        {11, "Mw*"},
        {13, "W"},
    };
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
