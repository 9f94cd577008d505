// Error texts are part of the interface, byte for byte.
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "API_Errors.h"

namespace {

std::string Text(int code, int expectedResult = 0)
{
    char text[API_ERROR_TEXT_SIZE];
    EXPECT_EQ(API_Errors_GetErrorText(code, text), expectedResult) << code;
    return text;
}

// Unknown codes are written in hexadecimal in the caller's buffer: two
// threads asking at once each get the text of their own code.
TEST(ErrorTexts, EveryCodeHasItsOwnTextAndUnknownOnesAreWrittenInTheCallersBuffer)
{
    std::set<std::string> texts;
    for (int code = 0; code < API_ERR_COUNT; ++code)
        texts.insert(Text(code));
    EXPECT_EQ(texts.size(), static_cast<size_t>(API_ERR_COUNT));
    EXPECT_EQ((std::vector<std::string>{Text(0), Text(API_ERR_GSM_READ), Text(219)}),
              (std::vector<std::string>{"No Error", "GSm Read Failed ", "GSM Invalid Network Settings"}));
    auto ask = [](int code, const char *expected) {
        int wrong = 0;
        for (int i = 0; i < 100000; ++i)
            wrong += Text(code, 1) != expected;
        EXPECT_EQ(wrong, 0) << code;
    };
    std::thread first(ask, 220, "Unknown error code: 0xdc");
    ask(-1, "Unknown error code: 0xffffffff");
    first.join();
}

}  // namespace
