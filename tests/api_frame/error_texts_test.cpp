// Error texts are part of the interface, byte for byte.
#include <string.h>

#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "API_Errors.h"

namespace {

std::string Text(int code, int expectedResult = 0)
{
    char text[API_ERROR_TEXT_SIZE];
    EXPECT_EQ(API_Errors_GetErrorText(code, text), expectedResult) << code;
    EXPECT_LT(strlen(text), sizeof text) << code;
    return text;
}

TEST(ErrorTexts, EveryCodeHasItsOwnTextAndTheTableIsUnchanged)
{
    std::set<std::string> texts;
    uint32_t digest = 2166136261u;  // FNV-1a over every text and its terminator
    for (int code = 0; code < API_ERR_COUNT; ++code) {
        std::string text = Text(code);
        texts.insert(text);
        for (size_t i = 0; i <= text.size(); ++i)
            digest = (digest ^ static_cast<unsigned char>(text.c_str()[i])) * 16777619u;
    }
    EXPECT_EQ(texts.size(), static_cast<size_t>(API_ERR_COUNT));
    EXPECT_EQ(digest, 0x94766de2u) << "a text changed";
    EXPECT_EQ(Text(219), "GSM Invalid Network Settings");
}

// Unknown codes are written in hexadecimal in the caller's buffer: two
// threads asking at once each get the text of their own code.
TEST(ErrorTexts, UnknownCodesAreWrittenInTheCallersBuffer)
{
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
