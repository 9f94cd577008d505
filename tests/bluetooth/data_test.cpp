// Links and the remote's data: the link event, the ring in both directions
// and across its end, a full ring, and the link's end.
#include <atomic>
#include <future>

#include "bluetooth_fixture.h"

namespace {

std::atomic<int> g_links{0};
void CountLink() { ++g_links; }

// Bytes that differ from one position to the next, so that misplaced or
// repeated pieces show.
std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed * 13 + i / 251) & 0xFF);
    return bytes;
}

class BluetoothData : public BluetoothTest {
protected:
    void SetUp() override
    {
        BluetoothTest::SetUp();
        g_links = 0;
        Start();
    }
};

TEST_F(BluetoothData, TheLinkEventStartsTheRingWithItsPayloadAndCallsBack)
{
    ASSERT_EQ(API_Bluetooth_ConnectedCallback(CountLink), API_ERR_NONE);
    EXPECT_EQ(API_Bluetooth_ConnectedCallback(nullptr), API_ERR_BLUETOOTH_CALL_BACK_SET_NULL);

    Connect("hello");
    EXPECT_TRUE(Eventually([] { return g_links == 1; }));  // the previous callback was kept
    EXPECT_EQ(i_WPtr.load(), 5);
    EXPECT_EQ(ReadAll(5), "hello");

    ASSERT_TRUE(module.Disconnect());
    EXPECT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 0; }));
    Connect();
    EXPECT_TRUE(Eventually([] { return g_links == 2; }));
    EXPECT_EQ(i_WPtr.load(), 0);
}

TEST_F(BluetoothData, ReadsTakeAtMostWhatTheCallerAsks)
{
    Connect();
    ASSERT_TRUE(module.SendData(Pattern(25, 1)));
    ASSERT_TRUE(Eventually([] { return i_WPtr.load() == 25; }));
    char buffer[10];
    int none = -1;
    EXPECT_EQ(API_Bluetooth_ReadData(buffer, 0, &none), API_ERR_NONE);
    EXPECT_EQ(none, 0);
    std::vector<int> counts;
    for (int i = 0; i < 3; ++i) {
        int count = -1;
        ASSERT_EQ(API_Bluetooth_ReadData(buffer, sizeof buffer, &count), API_ERR_NONE);
        counts.push_back(count);
    }
    EXPECT_EQ(counts, (std::vector<int>{10, 10, 5}));
}

TEST_F(BluetoothData, DataFlowsBothWaysAcrossTheRingsEnd)
{
    int written = 77;
    EXPECT_EQ(API_Bluetooth_WriteData("abc", 3, &written), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    EXPECT_EQ(written, 77);

    Connect();
    for (unsigned round = 0; round < 4; ++round) {
        std::string sent = Pattern(3000, round);
        ASSERT_TRUE(module.SendData(sent));
        ASSERT_EQ(ReadAll(sent.size(), 700), sent) << "round " << round;
    }
    EXPECT_EQ(i_RPtr.load(), 12000 % BT_RING_SIZE);

    std::string out = Pattern(5000, 9);
    ASSERT_EQ(API_Bluetooth_WriteData(out.data(), int(out.size()), &written), API_ERR_NONE);
    EXPECT_EQ(written, 5000);
    ASSERT_TRUE(module.WaitForRemoteBytes(out.size(), 3000));
    EXPECT_EQ(module.RemoteReceived(), out);
}

TEST_F(BluetoothData, AFullRingHoldsTheRemoteBackInsteadOfOverwritingUnreadData)
{
    Connect();
    std::string sent = Pattern(20000, 3);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(module.SendData(sent));
    bool filled = Eventually([] { return (i_WPtr.load() - i_RPtr.load() + BT_RING_SIZE) % BT_RING_SIZE == 4095; });
    usleep(50000);  // the task would overwrite now if it were going to
    std::string got = ReadAll(sent.size(), 1000);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(filled);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent);
    EXPECT_EQ(out.find("Overflow"), std::string::npos);
}

// A reset ends the link while the task waits for room in a full ring: the
// task drops the rest and goes back to the line for the module's "READY.".
TEST_F(BluetoothData, AResetFreesATaskWaitingForRoom)
{
    Connect();
    ASSERT_TRUE(module.SendData(Pattern(20000, 5)));
    ASSERT_TRUE(Eventually([] { return (i_WPtr.load() - i_RPtr.load() + BT_RING_SIZE) % BT_RING_SIZE == 4095; }));
    std::string out = simtest::Stdout([] { ASSERT_EQ(API_Bluetooth_Reset(), API_ERR_NONE); });
    int count = -1;
    char buffer[8];
    EXPECT_EQ(API_Bluetooth_ReadData(buffer, sizeof buffer, &count), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    ASSERT_TRUE(module.WaitForRestarts(3, 3000));
    EXPECT_EQ(s_BluetoothGetAnswer("READY.", 10), API_ERR_NONE);
    int length = 0;
    EXPECT_EQ(API_Bluetooth_GetVersion(nullptr, &length), API_ERR_NONE);
}

TEST_F(BluetoothData, TheLinksEndIsReportedAfterTheLastBytes)
{
    // Bytes in front of the end marker, in the same chunk, are data.
    Connect("x");
    ASSERT_TRUE(module.Disconnect("abc"));
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 1);  // draining
    EXPECT_EQ(ReadAll(100), "xabc");
    int count = -1;
    char buffer[8];
    EXPECT_EQ(API_Bluetooth_ReadData(buffer, sizeof buffer, &count), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);

    // A chunk that begins with the marker stores nothing.
    Connect();
    ASSERT_TRUE(module.Disconnect());
    EXPECT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 0; }));
    EXPECT_EQ(i_WPtr.load(), 0);
    count = -1;
    EXPECT_EQ(API_Bluetooth_ReadData(buffer, sizeof buffer, &count), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
}

TEST_F(BluetoothData, ABlockedReaderLearnsOfTheLinksEnd)
{
    auto blockedRead = [] {
        return std::async(std::launch::async, [] {
            char buffer[8];
            int count = -1;
            return API_Bluetooth_ReadData(buffer, sizeof buffer, &count);
        });
    };
    auto waiting = [] { return Eventually([] { return b_BT_WaitForData.load() == 1; }); };

    Connect();
    auto reader = blockedRead();
    ASSERT_TRUE(waiting());
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);

    // A hardware reset and the clean-up end the link without the module saying so.
    Connect();
    reader = blockedRead();
    ASSERT_TRUE(waiting());
    ASSERT_EQ(API_Bluetooth_Reset(), API_ERR_NONE);
    EXPECT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);

    ASSERT_TRUE(module.WaitForRestarts(3, 2000));
    ASSERT_TRUE(module.ProfileOpen());
    Connect();
    reader = blockedRead();
    ASSERT_TRUE(waiting());
    API_Bluetooth_Cleanup();
    EXPECT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
}

}  // namespace
