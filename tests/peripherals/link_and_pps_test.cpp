// Ethernet link changes and PPS pulses, delivered by real signals from the
// simulated GPIO driver through the API's signal handlers.
#include "API_Errors.h"
#include "API_Ethernet.h"
#include "API_GNSS.h"
#include "API_Signal.h"
#include "peripherals_fixture.h"

namespace {

SignalRecord g_linkChanges;
SignalRecord g_ppsA;
SignalRecord g_ppsB;

int RecordLinkChange(int change)
{
    g_linkChanges.Add(change);
    return 0;
}

int RecordPpsA(void *context, unsigned int events)
{
    g_ppsA.Add(context ? static_cast<int>(events) : -1);
    return 0;
}

int RecordPpsB(void *, unsigned int events)
{
    g_ppsB.Add(static_cast<int>(events));
    return 0;
}

class SignalledUnitTest : public PeripheralsTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(API_Signal_Initialize(), API_ERR_NONE);
        API_ETH_SignalHandler();  // the link state is process-wide: start down
        g_linkChanges.Clear();
    }
    void TearDown() override
    {
        API_Signal_Cleanup();
        PeripheralsTest::TearDown();
    }

    int LinkState()
    {
        int state = -5;
        EXPECT_EQ(API_ETH_GetCnxState(&state), API_ERR_NONE);
        return state;
    }
};

TEST_F(SignalledUnitTest, LinkUpAtStartIsKnownWithoutAnySignal)
{
    receiver.CreateFile("/var/netlink");
    EXPECT_EQ(API_ETH_Init(RecordLinkChange), API_ERR_NONE);
    EXPECT_EQ(LinkState(), 1);
    // A start without a function keeps the registered one and tells it again.
    EXPECT_EQ(API_ETH_Init(nullptr), API_ERR_NONE);
    EXPECT_EQ(g_linkChanges.Values(), (std::vector<int>{0, 0}));
}

TEST_F(SignalledUnitTest, EachLinkChangeIsReportedOnceInItsDirection)
{
    ASSERT_EQ(API_ETH_Init(RecordLinkChange), API_ERR_NONE);
    EXPECT_EQ(LinkState(), 0);

    receiver.CreateFile("/var/netlink");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(g_linkChanges.WaitForCount(1));
    EXPECT_EQ(LinkState(), 1);
    // SIGIOs of the other units, with the file still present: no call.
    board.gpio->RaiseSigio();
    board.gpio->RaiseSigio();

    receiver.RemoveFile("/var/netlink");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(g_linkChanges.WaitForCount(2));
    EXPECT_EQ(g_linkChanges.Values(), (std::vector<int>{0, -1}));
    EXPECT_EQ(LinkState(), 0);
}

TEST_F(SignalledUnitTest, PpsPulsesReachTheRegisteredFunction)
{
    board.gpio->RaiseEvents(0x01);  // nobody registered yet: nothing happens
    EXPECT_EQ(API_GNSS_PPSCallback(nullptr), API_ERR_PPS_CALL_BACK_SET_NULL);

    ASSERT_EQ(API_GNSS_PPSCallback(RecordPpsA), API_ERR_NONE);
    board.gpio->RaiseEvents(0x01);
    ASSERT_TRUE(g_ppsA.WaitForCount(1));
    // A null function keeps the registered one.
    EXPECT_EQ(API_GNSS_PPSCallback(nullptr), API_ERR_PPS_CALL_BACK_SET_NULL);
    board.gpio->RaiseEvents(0x01);
    ASSERT_TRUE(g_ppsA.WaitForCount(2));
    EXPECT_EQ(g_ppsA.Values(), (std::vector<int>{0x01, 0x01}));

    // Its replacement hears only words with the PPS bit, and the whole word.
    ASSERT_EQ(API_GNSS_PPSCallback(RecordPpsB), API_ERR_NONE);
    board.gpio->RaiseEvents(0x08);
    board.gpio->RaiseEvents(0x09);
    ASSERT_TRUE(g_ppsB.WaitForCount(1));
    EXPECT_EQ(g_ppsB.Values(), std::vector<int>{0x09});
    EXPECT_EQ(g_ppsA.Values().size(), 2u);
}

}  // namespace
