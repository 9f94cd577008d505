// Links and the remote's data: the link event, the ring in both directions
// and across its end, a full ring, and the link's end.
#include <future>

#include "bluetooth_fixture.h"

namespace {

using BluetoothData = BluetoothStarted;

// Bytes that differ from one position to the next, so that misplaced or
// repeated pieces show.
std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed * 13 + i / 251) & 0xFF);
    return bytes;
}

int Unread() { return (i_WPtr.load() - i_RPtr.load() + BT_RING_SIZE) % BT_RING_SIZE; }

std::future<int> BlockedRead()
{
    auto reader = std::async(std::launch::async, ReadOnce);
    EXPECT_TRUE(Eventually([] { return b_BT_WaitForData.load() == 1; }));
    return reader;
}


TEST_F(BluetoothData, LinksCarryDataBothWaysAcrossTheRingsEnd)
{
    int written = 77;
    EXPECT_EQ((Codes{API_Bluetooth_ConnectedCallback(CountLink), API_Bluetooth_ConnectedCallback(nullptr),
                     API_Bluetooth_WriteData("abc", 3, &written), written}),
              (Codes{0, API_ERR_BLUETOOTH_CALL_BACK_SET_NULL, API_ERR_BLUETOOTH_REMOTE_DISCONNECTED, 77}));
    Connect("hello");
    EXPECT_TRUE(Eventually([] { return g_links == 1; }));  // the first callback was kept
    char buffer[10];
    int counts[4] = {-1, -1, -1, -1};
    EXPECT_EQ(API_Bluetooth_ReadData(buffer, 0, &counts[0]), API_ERR_NONE);
    ASSERT_TRUE(module.SendData(Pattern(20, 1)));
    ASSERT_TRUE(Eventually([] { return i_WPtr.load() == 25; }));
    for (int i = 1; i < 4; ++i)
        ASSERT_EQ(API_Bluetooth_ReadData(buffer, sizeof buffer, &counts[i]), API_ERR_NONE);
    EXPECT_EQ(std::vector<int>(counts, counts + 4), (std::vector<int>{0, 10, 10, 5}));
    for (unsigned round = 0; round < 4; ++round) {
        std::string sent = Pattern(3000, round);
        ASSERT_TRUE(module.SendData(sent));
        ASSERT_EQ(ReadAll(sent.size(), 700), sent) << "round " << round;
    }
    std::string out = Pattern(5000, 9);
    ASSERT_EQ(API_Bluetooth_WriteData(out.data(), int(out.size()), &written), API_ERR_NONE);
    EXPECT_EQ(written, 5000);
    ASSERT_TRUE(module.WaitForRemoteBytes(out.size(), 3000));
    EXPECT_EQ(module.RemoteReceived(), out);
}

TEST_F(BluetoothData, AFullRingHoldsTheRemoteBackAndAResetFreesTheTask)
{
    EXPECT_EQ(Got(API_Bluetooth_GetVersion), "/0");  // not asked for yet
    Connect();
    std::string sent = Pattern(20000, 3);
    std::string printed = simtest::Stdout([&] {
        ASSERT_TRUE(module.SendData(sent));
        ASSERT_TRUE(Eventually([] { return Unread() == BT_RING_SIZE - 1; }));
        EXPECT_TRUE(ReadAll(sent.size(), 1000) == sent);
        // Full again: a reset ends the link and the task goes back to the
        // line, where the module's "READY." comes.
        ASSERT_TRUE(module.SendData(sent));
        ASSERT_TRUE(Eventually([] { return Unread() == BT_RING_SIZE - 1; }));
        memset(Buffer_Cmd, 0, sizeof Buffer_Cmd);  // forget the start-up's "READY."
        ASSERT_EQ(API_Bluetooth_Reset(), API_ERR_NONE);
        ASSERT_TRUE(module.WaitForRestarts(3, 3000));
        EXPECT_EQ(s_BluetoothGetAnswer("READY.", 10), API_ERR_NONE);  // the task has dropped the rest
    });
    EXPECT_EQ(printed, "###### Overflow on BT ########\n") << "dropped only once the link was over";
    // The task serves the line again: the version is asked for, then kept.
    module.SetAnswerPieces(4);
    int length = -1;
    EXPECT_EQ((Codes{ReadOnce(), API_Bluetooth_GetVersion(nullptr, &length), length}),
              (Codes{API_ERR_BLUETOOTH_REMOTE_DISCONNECTED, API_ERR_NONE, 5}));
    EXPECT_EQ(CommandsSinceStart(), Lines{"INFO"});
    EXPECT_EQ(Got(API_Bluetooth_GetVersion), "3.2.1/5");
}

TEST_F(BluetoothData, TheLinksEndIsReportedAfterTheLastBytesAndToABlockedReader)
{
    Connect("x");
    ASSERT_TRUE(module.Disconnect("abc"));  // bytes in front of the end marker are data
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 1);  // draining
    EXPECT_EQ(ReadAll(100), "xabc");
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);
    // A chunk that begins with the marker stores nothing.
    Connect();
    auto reader = BlockedRead();
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    EXPECT_EQ(i_WPtr.load(), 0);
    // A hardware reset and the clean-up end the link without the module saying so.
    Connect();
    reader = BlockedRead();
    ASSERT_EQ(API_Bluetooth_Reset(), API_ERR_NONE);
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    ASSERT_TRUE(module.WaitForRestarts(3, 2000));
    Connect();
    reader = BlockedRead();
    API_Bluetooth_Cleanup();
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
}

}  // namespace
