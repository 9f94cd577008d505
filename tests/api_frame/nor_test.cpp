// NOR parameter store: address and text checks, transfers and their faults,
// the default records; and the error texts, part of the interface byte for
// byte.
#include <set>
#include <thread>

#include "frame_fixture.h"

namespace {

using Pair = std::pair<int, int>;

class Nor : public FrameTest {
protected:
    Nor() { EXPECT_EQ(API_NOR_Init(), 0); }
    ~Nor() override { API_NOR_Cleanup(); }
    // A transfer's result and the count it left, which is then forgotten.
    Pair Did(int result) { return {result, std::exchange(count, -1)}; }
    int count = -1;
    char buffer[8] = {};
};

TEST_F(Nor, UnitAccessesAreAddressCheckedAndTransferFaultsGiveTheirCodes)
{
    EXPECT_EQ(Did(API_Flash_WriteData(0x38FFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_WriteData(0x7FFFFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_ReadData(0x38FFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_WriteData(0x39000, "login", 6, &count)), Pair(0, 6));
    EXPECT_EQ(board.nor->PeekText(0x39000, 7), std::string("login\0\xFF", 7));
    // A byte through each of the four transfers.
    auto each = [this] {
        return std::vector<int>{
            API_Flash_WriteData(0x39000, "1", 1, &count), API_Flash_ReadData(0x39000, buffer, 1, &count),
            API_Flash_APIWriteData(0x39000, "1", 1, &count), API_Flash_APIReadData(0x39000, buffer, 1, &count)};
    };
    board.nor->FailSeek(EIO);
    EXPECT_EQ(each(), std::vector<int>(4, API_ERR_NOR_FLASH_SEEK));
    board.nor->ClearFaults();

    board.nor->LimitWrite(3);
    EXPECT_EQ(Did(API_Flash_WriteData(0x39000, "12345", 5, &count)), Pair(API_ERR_NOR_FLASH_WRITE, -1))
        << "no count on a failed unit write";
    EXPECT_EQ(Did(API_Flash_APIWriteData(0x39000, "12345", 5, &count)), Pair(API_ERR_NOR_FLASH_WRITE, 3));
    board.nor->ClearFaults();

    board.nor->FailRead(EIO);
    EXPECT_EQ(Did(API_Flash_ReadData(0x39000, buffer, 4, &count)), Pair(API_ERR_NOR_FLASH_READ, 0));
    EXPECT_EQ(Did(API_Flash_APIReadData(0x39000, buffer, 4, &count)), Pair(API_ERR_NOR_FLASH_READ, 0));
    board.nor->ClearFaults();
    // A read that runs off the partition's end is short.
    EXPECT_EQ(Did(API_Flash_APIReadData(0x7FFFFC, buffer, 8, &count)), Pair(API_ERR_NOR_FLASH_READ, 4));
    EXPECT_EQ(Did(API_Flash_ReadData(0x7FFFFC, buffer, 8, &count)), Pair(API_ERR_NOR_FLASH_READ, 4));
    const int refused[] = {
        API_Flash_WriteData(0x39000, "1", -1, &count), API_Flash_WriteData(0x39000, nullptr, 1, &count),
        API_Flash_ReadData(0x39000, nullptr, 1, &count), API_Flash_APIReadData(0x39000, nullptr, 1, &count),
        API_Flash_APIWriteData(0x39000, "1", -1, &count)};
    for (int code : refused)
        EXPECT_EQ(code, API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Flash_WriteData(0x39000, "", 0, &count) + API_Flash_ReadData(0x39000, buffer, 0, &count), 0);

    // Closed, every access fails; so does an open of a missing partition.
    EXPECT_EQ(API_NOR_Cleanup() + API_NOR_Cleanup(), 0);
    EXPECT_EQ(board.nor->OpenDescriptors(), 0);
    EXPECT_EQ(each(), std::vector<int>(4, API_ERR_NOR_FLASH_SEEK));
    receiver.FailOpen("/dev/mtd3", ENOENT);
    EXPECT_EQ(API_NOR_Init(), API_ERR_NOR_FLASH_INITIALIZATION);
}

TEST_F(Nor, TextAndBlankChecks)
{
    const std::pair<std::string, int> texts[] = {
        {std::string("internet.provider.com\0\0\0", 24), 0},
        {std::string("user_1 @-x.\0\xFF\xFF", 14), 0},  // whatever follows the zero is free
        {std::string("\0abc", 4), 0},
        {"a/b", 180},
        {std::string(64, 'a'), 180},
        {std::string("caf\xE9\0", 5), 180},
        {"", 180},
    };
    for (const auto &text : texts)
        EXPECT_EQ(API_NOR_Check_String_Param(text.first.data(), int(text.first.size())), text.second) << text.first;
    std::string blank(64, '\xFF');
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 64), 179);
    blank[63] = '\0';
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 64), 0);
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 0), 0);
    EXPECT_EQ(API_NOR_Check_Blank_Param("\xFF", 1), 179);
}

TEST_F(Nor, DefaultsGoToTheirMapAddressesAndRevertRestoresThem)
{
    Started(API_INIT_NOR_DEFAULTS | API_INIT_NO_AUTOSTART);
    uint32_t total = 0;
    for (const sim::NorWrite &write : board.nor->Writes())
        total += write.address == API_SYS_AUTOSTART_ADDRESS ? 0 : write.length;
    EXPECT_EQ(total, 405u);
    // The 9 bytes after the access point name record keep their contents.
    EXPECT_EQ(board.nor->PeekText(0x390FD, 9), std::string(9, '\xFF'));
    EXPECT_EQ(board.nor->PeekText(0x39000, 20), std::string("050012UNDEFINED_APN\0", 20));
    EXPECT_EQ(board.nor->PeekText(0x39146, 19), std::string("UNDEFINED_PASSWORD\0", 19));
    EXPECT_EQ(board.nor->PeekText(0x39186, 24), "05820" + std::string(12, '\0') + "0" + std::string(6, '\0'));

    const std::vector<uint8_t> defaults = board.nor->Peek(0x39000, API_NOR_PARAM_SIZE);
    board.nor->Poke(0x39001, "7");
    board.nor->Poke(0x39187, std::string("1234\0", 5));
    EXPECT_EQ(API_RevertTS9ToDefault(), 0);
    EXPECT_EQ(board.nor->Peek(0x39000, API_NOR_PARAM_SIZE), defaults);
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_RevertTS9ToDefault(), API_ERR_NOR_FLASH_WRITE);
}


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
