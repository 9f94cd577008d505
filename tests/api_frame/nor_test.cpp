// NOR parameter store: address and text checks, transfers and their faults,
// the default records, and accesses from several threads.
#include <errno.h>

#include <thread>

#include "API_NOR.h"
#include "API_SYS.h"
#include "frame_fixture.h"
#include "internal/API_NOR.h"

namespace {

class Nor : public FrameTest {
protected:
    Nor() { EXPECT_EQ(API_NOR_Init(), 0); }
    ~Nor() override { API_NOR_Cleanup(); }
};

TEST_F(Nor, UnitAccessesAreAddressCheckedAndStoreExactlyTheirBytes)
{
    int count = -1;
    char byte = '1';
    EXPECT_EQ(API_Flash_WriteData(0x38FFF, &byte, 1, &count), API_ERR_INVALID_NOR_FLASH_ADDRESS);
    EXPECT_EQ(API_Flash_WriteData(0x7FFFFF, &byte, 1, &count), API_ERR_INVALID_NOR_FLASH_ADDRESS);
    EXPECT_EQ(API_Flash_ReadData(0x38FFF, &byte, 1, &count), API_ERR_INVALID_NOR_FLASH_ADDRESS);
    EXPECT_EQ(count, -1);
    EXPECT_TRUE(board.nor->Writes().empty());

    board.nor->Poke(0x7FFFFE, "\x42", 1);
    EXPECT_EQ(API_Flash_ReadData(0x7FFFFE, &byte, 1, &count), 0);
    EXPECT_EQ(byte, 0x42);
    EXPECT_EQ(count, 1);
    board.nor->Poke(0, "boot", 4);
    char start[4];
    EXPECT_EQ(API_Flash_APIReadData(0, start, 4, &count), 0);  // no address test
    EXPECT_EQ(std::string(start, 4), "boot");

    EXPECT_EQ(API_Flash_WriteData(0x39000, "login", 6, &count), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(board.nor->PeekText(0x39000, 7), std::string("login\0\xFF", 7));
    ASSERT_EQ(board.nor->Writes().size(), 1u);
}

TEST_F(Nor, TransferFaultsGiveTheirCodes)
{
    int count = -1;
    char buffer[8] = {};
    board.nor->FailSeek(EIO);
    EXPECT_EQ(API_Flash_WriteData(0x39000, "1", 1, &count), API_ERR_NOR_FLASH_SEEK);
    EXPECT_EQ(API_Flash_ReadData(0x39000, buffer, 1, &count), API_ERR_NOR_FLASH_SEEK);
    EXPECT_EQ(API_Flash_APIWriteData(0x39000, "1", 1, &count), API_ERR_NOR_FLASH_SEEK);
    EXPECT_EQ(API_Flash_APIReadData(0x39000, buffer, 1, &count), API_ERR_NOR_FLASH_SEEK);
    board.nor->ClearFaults();

    board.nor->LimitWrite(3);
    EXPECT_EQ(API_Flash_WriteData(0x39000, "12345", 5, &count), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(count, -1) << "no count on a failed unit write";
    EXPECT_EQ(API_Flash_APIWriteData(0x39000, "12345", 5, &count), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(count, 3);
    board.nor->ClearFaults();

    board.nor->FailRead(EIO);
    EXPECT_EQ(API_Flash_ReadData(0x39000, buffer, 4, &count), API_ERR_NOR_FLASH_READ);
    EXPECT_EQ(count, 0);
    count = -1;
    EXPECT_EQ(API_Flash_APIReadData(0x39000, buffer, 4, &count), API_ERR_NOR_FLASH_READ);
    EXPECT_EQ(count, 0);
    board.nor->ClearFaults();
    // A read that runs off the partition's end is short.
    EXPECT_EQ(API_Flash_APIReadData(0x7FFFFC, buffer, 8, &count), API_ERR_NOR_FLASH_READ);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(API_Flash_ReadData(0x7FFFFC, buffer, 8, &count), API_ERR_NOR_FLASH_READ);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(API_Flash_WriteData(0x39000, "1", -1, &count), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Flash_WriteData(0x39000, nullptr, 1, &count), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Flash_WriteData(0x39000, "", 0, &count), 0);
    EXPECT_EQ(API_Flash_ReadData(0x39000, buffer, 0, &count), 0);
    EXPECT_EQ(API_Flash_ReadData(0x39000, nullptr, 1, &count), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Flash_APIReadData(0x39000, nullptr, 1, &count), API_ERR_INVALID_PARAMETERS);

    // Closed, every access fails; so does an open of a missing partition.
    EXPECT_EQ(API_NOR_Cleanup(), 0);
    EXPECT_EQ(API_NOR_Cleanup(), 0);
    EXPECT_EQ(board.nor->OpenDescriptors(), 0);
    EXPECT_EQ(API_SYS_AutoStart(1), API_ERR_NOR_FLASH_SEEK);
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
        {std::string(16, '\xFF'), 180},
        {std::string("caf\xE9\0", 5), 180},
        {"", 180},
    };
    for (const auto &text : texts) {
        std::string out = Stdout([&] {
            EXPECT_EQ(API_NOR_Check_String_Param(text.first.data(), int(text.first.size())), text.second) << text.first;
        });
        EXPECT_EQ(out, text.second ? "Param is not a string !\n" : "");
    }
    std::string blank(64, '\xFF');
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 64), 179); }), "Param is blank !\n");
    blank[0] = '\0';
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 64), 0);
    blank[0] = '\xFF';
    blank[63] = '\0';
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 64), 0);
    EXPECT_EQ(API_NOR_Check_Blank_Param(blank.data(), 0), 0);
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(API_NOR_Check_Blank_Param("\xFF", 1), 179); }), "Param is blank !\n");
}

TEST_F(Nor, DefaultsGoToTheirMapAddressesAndRevertRestoresThem)
{
    Started(API_INIT_NOR_DEFAULTS | API_INIT_NO_AUTOSTART);
    uint32_t total = 0;
    for (const sim::NorWrite &write : board.nor->Writes())
        total += write.address == API_SYS_AUTOSTART_ADDRESS ? 0 : write.length;
    EXPECT_EQ(total, 405u);
    for (uint32_t address : board.nor->ProgrammedAddresses()) {
        bool inRecords = (address >= 0x39000 && address < 0x390FD) || (address >= 0x39106 && address < 0x3919E) ||
                         address == API_SYS_AUTOSTART_ADDRESS;
        EXPECT_TRUE(inRecords) << std::hex << address;
    }
    // The 9 bytes after the access point name record keep their contents.
    EXPECT_EQ(board.nor->PeekText(0x390FD, 9), std::string(9, '\xFF'));
    EXPECT_EQ(board.nor->PeekText(0x39000, 20), std::string("050012UNDEFINED_APN\0", 20));
    EXPECT_EQ(board.nor->PeekText(0x39106, 16), std::string("UNDEFINED_LOGIN\0", 16));
    EXPECT_EQ(board.nor->PeekText(0x39146, 19), std::string("UNDEFINED_PASSWORD\0", 19));
    EXPECT_EQ(board.nor->PeekText(0x39186, 24), std::string("05820\0\0\0\0\0\0\0\0\0\0\0\0" "0\0\0\0\0\0\0", 24));

    const std::vector<uint8_t> defaults = board.nor->Peek(0x39000, API_NOR_PARAM_SIZE);
    board.nor->Poke(0x39001, "7");
    board.nor->Poke(0x39006, std::string("my.apn\0", 7));
    board.nor->Poke(0x39187, std::string("1234\0", 5));
    EXPECT_EQ(API_RevertTS9ToDefault(), 0);
    EXPECT_EQ(board.nor->Peek(0x39000, API_NOR_PARAM_SIZE), defaults);
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_RevertTS9ToDefault(), API_ERR_NOR_FLASH_WRITE);
}

TEST_F(Nor, AccessesFromSeveralThreadsNeverInterleave)
{
    // Slow accesses make an unserialised seek of one thread land between the
    // seek and the write of the other.
    board.nor->SetAccessDelayUs(200);
    auto writer = [](uint32_t address, char fill) {
        std::string bytes(16, fill);
        for (int round = 0; round < 40; ++round) {
            int count = 0;
            EXPECT_EQ(API_Flash_WriteData(address, bytes.data(), 16, &count), 0);
            char back[16];
            EXPECT_EQ(API_Flash_ReadData(address, back, 16, &count), 0);
            EXPECT_EQ(std::string(back, 16), bytes);
        }
    };
    std::thread first(writer, 0x39106, 'a');
    std::thread second(writer, 0x39146, 'b');
    first.join();
    second.join();
    for (const sim::NorWrite &write : board.nor->Writes())
        EXPECT_TRUE(write.address == 0x39106 || write.address == 0x39146) << std::hex << write.address;
}

}  // namespace
