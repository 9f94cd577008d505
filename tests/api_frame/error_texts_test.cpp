// Error texts are part of the interface, byte for byte.
#include <stdint.h>
#include <string.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "API_Errors.h"

namespace {

TEST(ErrorTexts, EveryCodeHasItsOwnTextAndTheTableIsUnchanged)
{
    std::set<std::string> texts;
    uint32_t digest = 2166136261u;  // FNV-1a over every text and its terminator
    for (int code = 0; code < API_ERR_COUNT; ++code) {
        char text[API_ERROR_TEXT_SIZE];
        ASSERT_EQ(API_Errors_GetErrorText(code, text), 0) << code;
        ASSERT_LT(strlen(text), sizeof text) << code;
        texts.insert(text);
        for (size_t i = 0; i <= strlen(text); ++i)
            digest = (digest ^ static_cast<unsigned char>(text[i])) * 16777619u;
    }
    EXPECT_EQ(texts.size(), static_cast<size_t>(API_ERR_COUNT));
    EXPECT_EQ(digest, 0x94766de2u) << "a text changed";

    const std::pair<int, const char *> samples[] = {
        {0, "No Error"},
        {31, " Failed to get priority of process"},
        {77, "NOR Flash Initialization failed "},
        {209, "AT+CFUNC=1 (start GSM firmware) not acknowledged"},
        {219, "GSM Invalid Network Settings"},
    };
    for (const auto &sample : samples) {
        char text[API_ERROR_TEXT_SIZE];
        API_Errors_GetErrorText(sample.first, text);
        EXPECT_STREQ(text, sample.second);
    }
}

TEST(ErrorTexts, UnknownCodesAreWrittenInHexadecimalInTheCallersBuffer)
{
    struct Case {
        int code;
        const char *text;
    } const cases[] = {
        {220, "Unknown error code: 0xdc"},
        {255, "Unknown error code: 0xff"},
        {-1, "Unknown error code: 0xffffffff"},
    };
    for (const Case &c : cases) {
        char text[API_ERROR_TEXT_SIZE];
        EXPECT_EQ(API_Errors_GetErrorText(c.code, text), 1) << c.code;
        EXPECT_STREQ(text, c.text);
    }

    // Two threads asking at once each get the text of their own code.
    std::atomic<int> wrong{0};
    auto ask = [&wrong](const Case &c) {
        char text[API_ERROR_TEXT_SIZE];
        for (int i = 0; i < 100000; ++i) {
            API_Errors_GetErrorText(c.code, text);
            wrong += strcmp(text, c.text) != 0;
        }
    };
    std::thread first(ask, cases[0]);
    std::thread second(ask, cases[2]);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
