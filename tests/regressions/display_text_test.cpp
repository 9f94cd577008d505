// Inputs the fuzz targets once found faulty, kept as plain cases.
#include <limits.h>

#include <string>

#include <gtest/gtest.h>

#include "API_Display.h"
#include "API_Errors.h"

namespace {

// Unknown characters are skipped at any scale; a negative one moves the
// position left, down past the smallest int when the text starts far left.
TEST(DisplayTextRegressions, NegativeScaleOverUnknownCharactersFromTheLeftEdge)
{
    EXPECT_EQ(API_Display_PrintText3(INT_MIN + 5, 5, -1.75f, "\xaa\x8c"), API_ERR_NONE);
    std::string unknown(4000, '\xaa');
    EXPECT_EQ(API_Display_PrintText3(-2000000000, 0, -999.0f, unknown.c_str()), API_ERR_NONE);
    // The first known character still refuses the scale.
    EXPECT_EQ(API_Display_PrintText3(INT_MIN + 5, 5, -1.75f,
                                     "\xaa"
                                     "A"),
              API_ERR_SET_CLEAR_PIXEL);
}

}  // namespace
