// The settings listing and the version: parsing into the cache, answers that
// arrive in pieces or cut short, and reads served from the cache.
#include "bluetooth_fixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

class BluetoothListing : public BluetoothTest {
protected:
    static Bytes CachedAddress() { return Bytes(a_MACAddress, a_MACAddress + 6); }
    // Forgets the cached items so that the next listing is parsed again.
    static void ForgetCache()
    {
        b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = 0;
        b_GotBTParameters = 0;
    }
};

TEST_F(BluetoothListing, AListingInPiecesFillsTheCacheAndLaterReadsStayLocal)
{
    module.SetAnswerPieces(9);
    Start();
    char text[64];
    int length = -1;
    ASSERT_EQ(API_Bluetooth_GetDeviceName(text, &length), API_ERR_NONE);
    EXPECT_STREQ(text, "Orva");  // the first word of "Orva GNSS"
    EXPECT_EQ(length, 4);
    ASSERT_EQ(API_Bluetooth_GetType(text, &length), API_ERR_NONE);
    EXPECT_STREQ(text, "001f00");
    EXPECT_EQ(length, 6);
    ASSERT_EQ(API_Bluetooth_GetPIN(text, &length), API_ERR_NONE);
    EXPECT_STREQ(text, "5820");  // authentication is off: the PIN as it stands
    EXPECT_EQ(length, 4);
    unsigned char address[6] = {};
    ASSERT_EQ(API_Bluetooth_GetMACAddress(address), API_ERR_NONE);
    EXPECT_EQ(Bytes(address, address + 6), (Bytes{0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C}));
    EXPECT_TRUE(CommandsSinceStart().empty());
}

TEST_F(BluetoothListing, ACutListingTimesOutAndKeepsOnlyCompleteItems)
{
    // The listing ends inside the name: "SET BT NAME Or".
    const size_t addressLine = strlen("SET BT BDADDR 00:07:80:1a:2b:3c\r\n");
    module.SetListingLimit(addressLine + strlen("SET BT NAME Or"));
    EXPECT_EQ(API_Bluetooth_Init(), API_ERR_TIME_OUT);
    EXPECT_EQ(b_GotMacAddress, 1);
    EXPECT_EQ(CachedAddress(), (Bytes{0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C}));
    EXPECT_EQ(b_GotDevName, 0);
    EXPECT_EQ(b_GotDevType, 0);
    EXPECT_EQ(b_GotBTParameters, 0);

    // Cut inside the address: nothing of it is taken.
    ForgetCache();
    module.SetListingLimit(addressLine - 3);  // "...:2b:3"
    EXPECT_EQ(s_BluetoothGetParameters(1), API_ERR_TIME_OUT);
    EXPECT_EQ(b_GotMacAddress, 0);

    module.SetListingLimit(static_cast<size_t>(-1));
    char type[16];
    int length = 0;
    ASSERT_EQ(API_Bluetooth_GetType(type, &length), API_ERR_NONE);
    EXPECT_STREQ(type, "001f00");
    EXPECT_EQ(b_GotBTParameters, 1);
}

TEST_F(BluetoothListing, ThePinComesFromTheListingWhenRequestsAreOnAndLongWordsAreCut)
{
    Start();
    std::string longName(80, 'n');
    ASSERT_EQ(s_BluetoothSendCmd(("SET BT NAME " + longName).c_str()), API_ERR_NONE);
    ASSERT_EQ(s_BluetoothSendCmd("SET BT AUTH * 9876"), API_ERR_NONE);
    ASSERT_TRUE(module.WaitForCommand("SET BT AUTH * 9876", 2000));
    ForgetCache();
    b_EnablePinRequest = 1;
    ASSERT_EQ(s_BluetoothGetParameters(1), API_ERR_NONE);
    EXPECT_STREQ(a_PinCode, "9876");
    EXPECT_EQ(i_PinCodeLength, 4);
    EXPECT_EQ(i_DevNameLength, API_BLUETOOTH_NAME_MAX);
    EXPECT_EQ(std::string(a_DeviceName), longName.substr(0, API_BLUETOOTH_NAME_MAX));
}

TEST_F(BluetoothListing, TheVersionIsQueriedWithoutABufferAndThenReadFromTheCache)
{
    Start();
    char version[16] = "stale";
    int length = -1;
    ASSERT_EQ(API_Bluetooth_GetVersion(version, &length), API_ERR_NONE);
    EXPECT_STREQ(version, "");
    EXPECT_EQ(length, 0);

    module.SetAnswerPieces(4);
    ASSERT_EQ(API_Bluetooth_GetVersion(nullptr, &length), API_ERR_NONE);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(CommandsSinceStart(), std::vector<std::string>{"INFO"});
    ASSERT_EQ(API_Bluetooth_GetVersion(version, &length), API_ERR_NONE);
    EXPECT_STREQ(version, "3.2.1");
}

}  // namespace
