// The built-in font tables keep their formats: sizes, order, terminators,
// blank columns, advance widths, and one distinct glyph per character.
#include <ctype.h>
#include <string.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "internal/API_Display.h"

namespace {

// 0 digit, 1 capital, 2 small letter, 3 anything else.
int Group(unsigned char code)
{
    if (isdigit(code))
        return 0;
    if (isupper(code))
        return 1;
    if (islower(code))
        return 2;
    return 3;
}

TEST(SmallFont, NinetySixGlyphsInTheirOrderThenTheTerminator)
{
    ASSERT_EQ(sizeof size7_bmp, 776u);
    std::set<unsigned char> codes;
    int lastGroup = 0;
    for (int entry = 0; entry < 96; ++entry) {
        unsigned char code = size7_bmp[entry * 8];
        EXPECT_NE(code, 0) << entry;
        EXPECT_TRUE(codes.insert(code).second) << "twice: " << int(code);
        EXPECT_GE(Group(code), lastGroup) << "out of order: " << int(code);
        lastGroup = Group(code);
    }
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(size7_bmp[96 * 8 + i], 0);

    std::set<unsigned char> wanted{0xA1};
    for (unsigned char code = 0x20; code <= 0x7E; ++code)
        wanted.insert(code);
    EXPECT_EQ(codes, wanted);
}

TEST(SmallFont, GlyphsFitTheirCellWithItsSpacing)
{
    std::map<std::vector<unsigned char>, unsigned char> shapes;
    int usingColumnZero = 0;
    for (int entry = 0; entry < 96; ++entry) {
        const unsigned char *glyph = &size7_bmp[entry * 8];
        const unsigned char code = glyph[0];
        SCOPED_TRACE(::testing::Message() << "glyph " << int(code));
        EXPECT_EQ(glyph[6], 0);
        EXPECT_EQ(glyph[7], 0);
        unsigned char columns = 0;
        for (int row = 1; row <= 5; ++row) {
            EXPECT_EQ(glyph[row] & 0x80, 0);  // bit 7 unused
            EXPECT_EQ(glyph[row] & 0x01, 0);  // column 6 blank
            columns |= glyph[row];
        }
        usingColumnZero += (columns & 0x40) != 0;
        EXPECT_EQ(columns == 0, code == ' ');

        std::vector<unsigned char> shape(glyph + 1, glyph + 6);
        auto [other, fresh] = shapes.emplace(shape, code);
        EXPECT_TRUE(fresh) << "same shape as " << int(other->second);
    }
    EXPECT_EQ(usingColumnZero, 8);
}

struct WideRecord {
    unsigned char code;
    int width;
    const unsigned char *pixels;
};

std::vector<WideRecord> Records()
{
    std::vector<WideRecord> records;
    for (int record = 0; record < 84; ++record) {
        const unsigned char *at = &new_bmp[record * 200];
        int width = at[196] | at[197] << 8 | at[198] << 16 | at[199] << 24;
        records.push_back({at[0], width, at + 1});
    }
    return records;
}

TEST(ProportionalFont, EightyThreeRecordsThenTheTerminatorOfWidthSeven)
{
    ASSERT_EQ(sizeof new_bmp, 16800u);
    auto records = Records();
    for (int record = 0; record < 83; ++record)
        EXPECT_NE(records[record].code, 0) << record;
    EXPECT_EQ(records[83].code, 0);
    EXPECT_EQ(records[83].width, 7);

    std::string covered;
    for (int record = 0; record < 83; ++record)
        covered += static_cast<char>(records[record].code);
    std::string wanted = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ!+:?*/_,;%=-.'()&#[]";
    EXPECT_EQ(covered.substr(0, wanted.size()), wanted);
    EXPECT_EQ(covered.substr(wanted.size()), "*");
    for (char absent : std::string(" \"@$<>\\^`{|}~"))
        EXPECT_EQ(covered.find(absent), std::string::npos) << absent;
}

TEST(ProportionalFont, AdvanceWidthsAndPixelsWithinThem)
{
    const std::map<int, std::string> byWidth = {
        {2, "!,.:;Iil"},      {4, "'(/fj"},         {5, "*rt"},
        {6, "_aceks"},       {7, "-0123456789=EFJLSbdghnopquz"},
        {8, "+?BDHNPRTUYZvxy"}, {9, "#&)ACGKOQVX[]"}, {10, "%m"},
        {11, "Mw"},           {13, "W"},
    };
    std::map<char, int> expected;
    for (const auto &[width, characters] : byWidth)
        for (char c : characters)
            expected.emplace(c, width);

    std::map<std::vector<unsigned char>, unsigned char> shapes;
    bool firstStar = true;
    for (const WideRecord &record : Records()) {
        if (record.code == 0)
            break;
        SCOPED_TRACE(::testing::Message() << "glyph '" << record.code << "'");
        if (record.code == '*' && !firstStar) {
            EXPECT_EQ(record.width, 11);
            continue;
        }
        firstStar = firstStar && record.code != '*';
        EXPECT_EQ(record.width, expected[static_cast<char>(record.code)]);

        int lit = 0;
        for (int row = 0; row < 15; ++row) {
            for (int column = 0; column < 13; ++column) {
                unsigned char pixel = record.pixels[row * 13 + column];
                EXPECT_LE(pixel, 1);
                if (pixel == 1) {
                    ++lit;
                    EXPECT_LT(column, record.width) << "row " << row;
                }
            }
        }
        EXPECT_GT(lit, 0);
        auto [other, fresh] = shapes.emplace(std::vector<unsigned char>(record.pixels, record.pixels + 195), record.code);
        EXPECT_TRUE(fresh) << "same shape as '" << other->second << "'";
    }
}

}  // namespace
