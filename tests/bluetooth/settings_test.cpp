// Settings operations: what reaches the module, what is kept in the cache and
// what lands in the NOR parameter area.
#include <errno.h>

#include "bluetooth_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

class BluetoothSettings : public BluetoothTest {
protected:
    void SetUp() override
    {
        BluetoothTest::SetUp();
        Start();
    }
    Bytes Nor(uint32_t address, uint32_t length) const { return board.nor->Peek(address, length); }
    // The host returns once a line is written; the module takes it a moment later.
    bool Heard(size_t commands)
    {
        return Eventually([&] { return CommandsSinceStart().size() >= commands; });
    }
};

TEST_F(BluetoothSettings, PinAndAuthenticationReachTheModuleAndTheStore)
{
    ASSERT_EQ(API_Bluetooth_SetPIN("1234"), API_ERR_NONE);
    ASSERT_TRUE(Heard(1));
    EXPECT_TRUE(module.Authentication());
    EXPECT_EQ(module.Pin(), "1234");
    Bytes record = {'1', '2', '3', '4'};
    record.resize(16, 0);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);
    char pin[16];
    int length = 0;
    ASSERT_EQ(API_Bluetooth_GetPIN(pin, &length), API_ERR_NONE);
    EXPECT_STREQ(pin, "1234");
    EXPECT_EQ(length, 4);

    ASSERT_EQ(API_Bluetooth_EnablePINRequest(0), API_ERR_NONE);
    ASSERT_TRUE(Heard(2));
    EXPECT_FALSE(module.Authentication());
    ASSERT_EQ(API_Bluetooth_EnablePINRequest(1), API_ERR_NONE);
    ASSERT_TRUE(Heard(3));
    EXPECT_TRUE(module.Authentication());
    ASSERT_EQ(API_Bluetooth_EnableEncryption(1), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ENCRYPTION, 1), Bytes{0x31});
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);  // one byte only, the PIN beside it kept
    ASSERT_EQ(API_Bluetooth_EnableEncryption(0), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ENCRYPTION, 1), Bytes{0x30});
    ASSERT_TRUE(Heard(5));
    EXPECT_FALSE(module.Authentication());
    // The trailing space stays: it is what switches authentication off.
    EXPECT_EQ(CommandsSinceStart(), (Lines{"SET BT AUTH * 1234", "SET BT AUTH * ", "SET BT AUTH * 1234",
                                           "SET BT AUTH * 1234", "SET BT AUTH * "}));
}

TEST_F(BluetoothSettings, AFailedStoreWriteIsReportedAfterTheModuleTookThePin)
{
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_Bluetooth_SetPIN("4321"), API_ERR_NOR_FLASH_WRITE);
    ASSERT_TRUE(Heard(1));
    EXPECT_EQ(module.Pin(), "4321");
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(API_Bluetooth_EnableEncryption(1), API_ERR_NOR_FLASH_WRITE);
    board.nor->ClearFaults();

    // Too long for the module's field: refused before anything is sent.
    EXPECT_EQ(API_Bluetooth_SetPIN("0123456789abcdef"), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_Bluetooth_SetPIN(nullptr), API_ERR_NONE);
    ASSERT_TRUE(Heard(2));
    EXPECT_EQ(CommandsSinceStart(), (Lines{"SET BT AUTH * 4321", "SET BT AUTH * 4321"}));
}

TEST_F(BluetoothSettings, TheStoredAddressIsTheModulesOwnWithItsZeroByte)
{
    unsigned char address[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(API_Bluetooth_SetMACAddress(address), API_ERR_NONE);
    const Bytes own = {0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C};
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ADDRESS, 6), own);
    EXPECT_EQ(Bytes(address, address + 6), own);
    EXPECT_EQ(API_Bluetooth_SetMACAddress(nullptr), API_ERR_INVALID_PARAMETERS);
}

TEST_F(BluetoothSettings, ANewNameIsServedFromTheCacheWithoutAListing)
{
    ASSERT_EQ(API_Bluetooth_SetDeviceName("Rover 2"), API_ERR_NONE);
    ASSERT_TRUE(Heard(1));
    EXPECT_EQ(module.Name(), "Rover 2");
    char name[64];
    int length = 0;
    ASSERT_EQ(API_Bluetooth_GetDeviceName(name, &length), API_ERR_NONE);
    EXPECT_STREQ(name, "Rover 2");
    EXPECT_EQ(length, 7);
    ASSERT_EQ(s_BluetoothGetParameters(1), API_ERR_NONE);  // a new listing keeps the name it was given
    EXPECT_STREQ(a_DeviceName, "Rover 2");

    std::string tooLong(API_BLUETOOTH_NAME_MAX + 1, 'n');
    EXPECT_EQ(API_Bluetooth_SetDeviceName(tooLong.c_str()), API_ERR_INVALID_PARAMETERS);
    // A text that could end the command line and start another is refused.
    for (const char *forged : {"Rover\nRESET", "Rover\r", "\tRover"}) {
        EXPECT_EQ(API_Bluetooth_SetDeviceName(forged), API_ERR_INVALID_PARAMETERS);
        EXPECT_EQ(API_Bluetooth_SetPIN(forged), API_ERR_INVALID_PARAMETERS);
    }
    EXPECT_EQ(API_Bluetooth_SetDeviceName(nullptr), API_ERR_NONE);
    EXPECT_STREQ(a_DeviceName, "Rover 2");
    EXPECT_EQ(CommandsSinceStart(), (Lines{"SET BT NAME Rover 2", "SET"}));

    // A new start-up asks the module again for what the clean-up forgot.
    API_Bluetooth_Cleanup();
    Start();
    ASSERT_EQ(API_Bluetooth_GetDeviceName(name, &length), API_ERR_NONE);
    EXPECT_STREQ(name, "Rover");
    EXPECT_EQ(length, 5);
    std::string longest(API_BLUETOOTH_NAME_MAX, 'n');
    EXPECT_EQ(API_Bluetooth_SetDeviceName(longest.c_str()), API_ERR_NONE);
}

}  // namespace
