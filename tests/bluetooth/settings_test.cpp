// The settings: what reaches the module, what the cache keeps from the
// module's listing (whole or in pieces, or cut short) and what lands in NOR.
#include <errno.h>

#include "bluetooth_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kAddress = {0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C};

class BluetoothSettings : public BluetoothTest {
protected:
    Bytes Nor(uint32_t address, uint32_t length) const { return board.nor->Peek(address, length); }
    static void ForgetCache() { b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = b_GotBTParameters = 0; }
};

TEST_F(BluetoothSettings, PinAndAuthenticationReachTheModuleAndTheStore)
{
    Start();
    ASSERT_EQ((Codes{API_Bluetooth_SetPIN("1234"), API_Bluetooth_EnablePINRequest(0), Heard(2)}), (Codes{0, 0, true}));
    EXPECT_FALSE(module.Authentication());
    EXPECT_EQ(module.Pin(), "1234");
    const Bytes record = {'1', '2', '3', '4', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);
    EXPECT_EQ(Got(API_Bluetooth_GetPIN), "1234/4");
    for (int enable : {1, 0}) {
        ASSERT_EQ(API_Bluetooth_EnableEncryption(enable), API_ERR_NONE);
        EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ENCRYPTION, 1), Bytes{static_cast<uint8_t>('0' + enable)});
    }
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);  // one byte only, the PIN beside it kept
    ASSERT_TRUE(Heard(4));
    // The trailing space stays: it is what switches authentication off.
    EXPECT_EQ(CommandsSinceStart(),
              (Lines{"SET BT AUTH * 1234", "SET BT AUTH * ", "SET BT AUTH * 1234", "SET BT AUTH * "}));
    // A failed store write is reported after the module took the PIN.
    board.nor->FailWrite(EIO);
    ASSERT_EQ((Codes{API_Bluetooth_SetPIN("4321"), API_Bluetooth_EnableEncryption(1), Heard(6)}),
              (Codes{API_ERR_NOR_FLASH_WRITE, API_ERR_NOR_FLASH_WRITE, true}));
    EXPECT_EQ(module.Pin(), "4321");
    board.nor->ClearFaults();
    // Too long, or able to end the command line and start another: refused
    // before anything is sent.
    for (const char *forged : {"Rover\nRESET", "Rover\r", "\tRover"})
        EXPECT_EQ((Codes{API_Bluetooth_SetDeviceName(forged), API_Bluetooth_SetPIN(forged)}),
                  Codes(2, API_ERR_INVALID_PARAMETERS))
            << forged;
    EXPECT_EQ(
        (Codes{API_Bluetooth_SetPIN("0123456789abcdef"),
               API_Bluetooth_SetDeviceName(std::string(API_BLUETOOTH_NAME_MAX + 1, 'n').c_str()),
               API_Bluetooth_SetPIN(nullptr), API_Bluetooth_SetDeviceName(nullptr), int(CommandsSinceStart().size())}),
        (Codes{API_ERR_INVALID_PARAMETERS, API_ERR_INVALID_PARAMETERS, 0, 0, 6}));
    // The stored address is the module's own, zero byte included.
    unsigned char address[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(API_Bluetooth_SetMACAddress(address), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ADDRESS, 6), kAddress);
    EXPECT_EQ(Bytes(address, address + 6), kAddress);
    EXPECT_EQ(API_Bluetooth_SetMACAddress(nullptr), API_ERR_INVALID_PARAMETERS);
    ASSERT_EQ(API_Bluetooth_SetPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);  // nothing of the address behind the PIN
}

TEST_F(BluetoothSettings, AListingInPiecesFillsTheCacheAndLaterReadsStayLocal)
{
    module.SetAnswerPieces(9);
    Start();
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Orva/4");  // the first word of "Orva GNSS"
    EXPECT_EQ(Got(API_Bluetooth_GetType), "001f00/6");
    EXPECT_EQ(Got(API_Bluetooth_GetPIN), "5820/4");  // authentication is off: the PIN as it stands
    ASSERT_EQ(API_Bluetooth_SetDeviceName("Rover 2"), API_ERR_NONE);
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Rover 2/7");
    ASSERT_TRUE(Heard(1));
    EXPECT_EQ(CommandsSinceStart(), Lines{"SET BT NAME Rover 2"});
    // A new listing is asked for, and keeps the name it was given.
    ASSERT_EQ(s_BluetoothGetParameters(1), API_ERR_NONE);
    EXPECT_EQ(CommandsSinceStart().back(), "SET");
    EXPECT_STREQ(a_DeviceName, "Rover 2");
    // With PIN requests on, the PIN comes from the listing; long words are cut.
    std::string longName(80, 'n');
    ASSERT_EQ(API_Bluetooth_EnablePINRequest(1), API_ERR_NONE);
    ASSERT_EQ(s_BluetoothSendCmd(("SET BT NAME " + longName).c_str()), API_ERR_NONE);
    ASSERT_EQ(s_BluetoothSendCmd("SET BT AUTH * 9876"), API_ERR_NONE);
    ASSERT_TRUE(module.WaitForCommand("SET BT AUTH * 9876", 2000));
    ForgetCache();
    unsigned char address[6] = {};
    ASSERT_EQ(API_Bluetooth_GetMACAddress(address), API_ERR_NONE);
    EXPECT_EQ(Bytes(address, address + 6), kAddress);
    EXPECT_STREQ(a_PinCode, "9876");
    EXPECT_EQ(i_PinCodeLength, 4);
    EXPECT_EQ(std::string(a_DeviceName), longName.substr(0, API_BLUETOOTH_NAME_MAX));
    // Authentication switched off, by either operation: the PIN is the one held.
    strcpy(a_PinCode, "1111");
    for (auto switchOff : {API_Bluetooth_EnablePINRequest, API_Bluetooth_EnableEncryption}) {
        ASSERT_EQ(switchOff(0), API_ERR_NONE);
        ForgetCache();
        ASSERT_EQ(s_BluetoothGetParameters(1), API_ERR_NONE);
        EXPECT_STREQ(a_PinCode, "1111");
    }
}

TEST_F(BluetoothSettings, ACutListingTimesOutAndKeepsOnlyCompleteItems)
{
    // The listing ends inside the name: "SET BT NAME Or".
    const size_t addressLine = strlen("SET BT BDADDR 00:07:80:1a:2b:3c\r\n");
    module.SetListingLimit(addressLine + strlen("SET BT NAME Or"));
    EXPECT_EQ(API_Bluetooth_Init(), API_ERR_TIME_OUT);
    EXPECT_EQ(Bytes(a_MACAddress, a_MACAddress + 6), kAddress);
    EXPECT_EQ(b_GotMacAddress + b_GotDevName + b_GotDevType + b_GotBTParameters, 1);
    ForgetCache();
    module.SetListingLimit(addressLine - 3);  // cut inside the address: "...:2b:3"
    EXPECT_EQ(s_BluetoothGetParameters(1), API_ERR_TIME_OUT);
    EXPECT_EQ(b_GotMacAddress, 0);
    module.SetListingLimit(static_cast<size_t>(-1));
    EXPECT_EQ(Got(API_Bluetooth_GetType), "001f00/6");
    EXPECT_EQ(b_GotBTParameters, 1);
}

}  // namespace
