// Ethernet link changes and PPS pulses, delivered by real signals from the
// simulated GPIO driver; the push buttons, now and at boot.
#include <errno.h>

#include <thread>

#include "API_Ethernet.h"
#include "API_GNSS.h"
#include "API_NOR.h"
#include "API_Signal.h"
#include "peripherals_fixture.h"

namespace {

SignalRecord g_links, g_pps;

int RecordLinkChange(int change)
{
    g_links.Add(change);
    return 40 + change;
}

int RecordPps(void *context, unsigned int events)
{
    g_pps.Add(context ? static_cast<int>(events) : -1);
    return 7;
}

int RecordPpsElsewhere(void *, unsigned int events)
{
    g_pps.Add(100 + static_cast<int>(events));
    return 8;
}

// One real SIGIO and SIGUSR2 each; the other cases call the unit's handler
// as the signal dispatch does.
TEST_F(PeripheralsTest, EachLinkChangeAndPpsPulseReachesTheRegisteredFunction)
{
    ASSERT_EQ(API_Signal_Initialize(), API_ERR_NONE);
    int state = -5;
    EXPECT_EQ(API_ETH_Init(nullptr), API_ERR_NONE);
    EXPECT_EQ(API_ETH_GetCnxState(&state), API_ERR_NONE);
    EXPECT_EQ(state, 0);
    receiver.CreateFile("/var/netlink");
    EXPECT_EQ(API_ETH_Init(RecordLinkChange), API_ERR_NONE);
    EXPECT_EQ(API_ETH_GetCnxState(&state), API_ERR_NONE);
    EXPECT_EQ(state, 1);                             // up at start: known without a signal
    EXPECT_EQ(API_ETH_Init(nullptr), API_ERR_NONE);  // keeps the function and tells it again
    EXPECT_EQ(API_ETH_SignalHandler(), 0);           // no change: nothing called
    receiver.RemoveFile("/var/netlink");
    EXPECT_EQ(API_ETH_SignalHandler(), 39);  // the function's result
    EXPECT_EQ(API_ETH_GetCnxState(&state), API_ERR_NONE);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(API_ETH_SignalHandler(), 0);
    receiver.CreateFile("/var/netlink");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(g_links.WaitForCount(4));
    EXPECT_EQ(g_links.Values(), (std::vector<int>{0, 0, -1, 0}));
    EXPECT_EQ(API_ETH_GetCnxState(nullptr), API_ERR_INVALID_PARAMETERS);

    int context = 0;
    EXPECT_EQ(API_GNSS_PPSSignalHandler(&context, 1), 0);  // nobody registered yet
    EXPECT_EQ(API_GNSS_PPSCallback(nullptr), API_ERR_PPS_CALL_BACK_SET_NULL);
    ASSERT_EQ(API_GNSS_PPSCallback(RecordPps), API_ERR_NONE);
    board.gpio->RaiseEvents(0x03);
    ASSERT_TRUE(g_pps.WaitForCount(1));
    EXPECT_EQ(API_GNSS_PPSCallback(nullptr), API_ERR_PPS_CALL_BACK_SET_NULL);  // keeps it
    EXPECT_EQ(API_GNSS_PPSSignalHandler(&context, 9), 7);
    ASSERT_EQ(API_GNSS_PPSCallback(RecordPpsElsewhere), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_PPSSignalHandler(&context, 1), 8);
    EXPECT_EQ(g_pps.Values(), (std::vector<int>{0x03, 0x09, 101}));
    API_Signal_Cleanup();
}

using PushButtons = PeripheralsTest;

TEST_F(PushButtons, ReadsEachButtonAsTheDriverReportsIt)
{
    int record = -1, scroll = 42;
    receiver.FailOpen("/dev/pushbuttons", ENOENT);
    EXPECT_EQ(API_MMI_Init(), API_ERR_PUSHBUTTON_INITIALIZAION);
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_OPEN_DEV_PUSHBUTTON);
    EXPECT_EQ(scroll, 42);
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    receiver.ClearOpenFault("/dev/pushbuttons");

    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 1);
    board.pushbuttons->SetRecord(1);
    board.pushbuttons->SetScroll(7);  // passed on as the driver gives it
    EXPECT_EQ(API_MMI_IsRecordPressed(&record), API_ERR_NONE);
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_NONE);
    EXPECT_EQ(record, 1);
    EXPECT_EQ(scroll, 7);
    board.pushbuttons->FailIoctl(EIO);
    EXPECT_EQ(API_MMI_IsRecordPressed(&record), API_ERR_IOCTL_DEV_PUSHBUTTON);
    EXPECT_EQ(record, 1);

    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 0);
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_OPEN_DEV_PUSHBUTTON);
}

TEST_F(PushButtons, BootStateIsReadOnceClearedInNorAndThenRemembered)
{
    sim::SetBootButtons(*board.nor, 0x00, 0x05);
    int pressed = -1;
    // Failed reads and clears remember nothing: the bytes stay for the next try.
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&pressed), API_ERR_READING_NOR_FLASH);
    ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&pressed), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(pressed, -1);
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0x00}, uint8_t{0x05}));
    board.nor->ClearFaults();

    // Two first readers at once: each still sees the bytes the boot left.
    board.nor->SetAccessDelayUs(2000);
    int record = -1, scroll = -1;
    std::thread recordReader([&] { EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&record), API_ERR_NONE); });
    std::thread scrollReader([&] { EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_NONE); });
    recordReader.join();
    scrollReader.join();
    EXPECT_EQ(record, 0);
    EXPECT_EQ(scroll, 1);
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0}, uint8_t{0}));

    board.nor->ClearWrites();
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_NONE);  // from memory
    EXPECT_EQ(scroll, 1);
    EXPECT_TRUE(board.nor->Writes().empty());
    API_NOR_Cleanup();
}

}  // namespace
