// The buzzer and the GNSS lines as the PMU requests they send, Ethernet link
// changes and PPS pulses from the signal dispatch, and the push buttons, now
// and at boot.
#include <errno.h>

#include <thread>

#include "API_Buzzer.h"
#include "API_Ethernet.h"
#include "API_GNSS.h"
#include "API_NOR.h"
#include "API_Signal.h"
#include "board.h"
#include "internal/API_MMI.h"
#include "peripherals_fixture.h"

namespace {

using Lines = std::vector<std::string>;

std::string Request(unsigned char command, unsigned char parameter)
{
    char text[16];
    snprintf(text, sizeof text, "02 %02X %02X %02X", command, parameter, 0x02 ^ command ^ parameter);
    return text;
}

TEST_F(PmuUnitTest, BuzzerSendsToneDurationAndStartAcrossTheTable)
{
    const struct {
        unsigned frequency;
        int duration;
        unsigned char tone, durationByte;
    } cases[] = {
        {0, 1, 255, 1},   {305, 1, 255, 1},     {306, 300, 254, 0x2C}, {400, 1, 203, 1},
        {480, 1, 160, 1}, {500, -1, 155, 0xFF}, {521, 1, 150, 1},      {673, 1, 123, 1},
        {1000, 1, 88, 1}, {1157, 1, 77, 1},     {1465, 1, 63, 1},      {2000, 1, 41, 1},
        {3000, 1, 26, 1}, {4650, 255, 16, 255}, {4651, 1, 255, 1},     {0xFFFFFFFFu, 1, 255, 1},
    };
    for (const auto &c : cases) {
        board.pmu->Log().Clear();
        ASSERT_EQ(API_Buzzer_Beep(c.frequency, c.duration), API_ERR_NONE) << c.frequency;
        EXPECT_EQ(board.pmu->Log().Lines(),
                  (Lines{Request(0xF4, c.tone), Request(0xF5, c.durationByte), "02 F3 00 F1"}))
            << c.frequency << " Hz";
    }
    EXPECT_TRUE(board.pmu->State().buzzerSounding);
    EXPECT_EQ(API_Buzzer_Init(), API_ERR_NONE);
    EXPECT_EQ(API_Buzzer_Cleanup(), API_ERR_NONE);
    EXPECT_FALSE(board.pmu->State().buzzerSounding);

    board.pmu->FailCommand(0xF4);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_SPI_TRANSMISSION);
    board.pmu->ClearFaults();
    board.pmu->FailCommand(0xF5, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_CHECKSUM_TEST);
    board.pmu->FailCommand(0xF2);
    EXPECT_EQ(API_Buzzer_Cleanup(), API_ERR_SPI_TRANSMISSION);
    const std::vector<uint8_t> commands = board.pmu->Commands();
    EXPECT_EQ(std::vector<uint8_t>(commands.end() - 4, commands.end()), (std::vector<uint8_t>{0xF4, 0xF4, 0xF5, 0xF2}));
}

TEST_F(PmuUnitTest, GnssSettersSendOneRequestEachAndRefuseOtherLevels)
{
    for (int level : {1, 0}) {
        EXPECT_EQ(API_GNSS_SetPowerState(level ? 1 : 5), API_ERR_NONE);  // anything but 1 is off
        EXPECT_EQ(API_GNSS_SetWakeupPinLevel(level), API_ERR_NONE);
        EXPECT_EQ(API_GNSS_SetResetPinLevel(level), API_ERR_NONE);
        EXPECT_EQ(API_GNSS_SetBootPinLevel(level), API_ERR_NONE);
    }
    EXPECT_EQ(board.pmu->Log().Lines(),
              (Lines{Request(0x99, 1), Request(0x92, 1), Request(0x96, 1), "02 95 00 97", Request(0x98, 1),
                     Request(0x92, 0), Request(0x96, 0), Request(0x94, 0)}));
    EXPECT_EQ(API_GNSS_SetResetPinLevel(2), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(0xFFFFFFFFu), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(2), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(-1), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(board.pmu->RequestCount(), 8);
    board.pmu->FailCommand(0x92, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
}

TEST_F(PmuUnitTest, GnssQueriesReportOneOnlyForAnExactOneAndKeepTheValueOnFailure)
{
    // clang-format off
    const std::pair<int (*)(int *), uint8_t> queries[] = {{API_GNSS_GetPowerState, 0x9A}, {API_GNSS_GetWakeupPinLevel, 0x9E},
        {API_GNSS_GetResetPinLevel, 0x9F}, {API_GNSS_GetBootPinLevel, 0xA0}, {API_GNSS_GetSourceClk, 0x9B}};
    // clang-format on
    for (auto [query, command] : queries) {
        for (uint8_t data : {1, 2, 0}) {
            board.pmu->QueueReply({0x02, command, data, static_cast<uint8_t>(0x02 ^ command ^ data)});
            int value = -1;
            EXPECT_EQ(query(&value), API_ERR_NONE);
            EXPECT_EQ(value, data == 1) << std::hex << int(command) << " " << int(data);
            EXPECT_EQ(board.pmu->Commands().back(), command);
        }
        board.pmu->FailRequest(1, sim::PmuFault::WrongEcho);
        int value = 5;
        EXPECT_EQ(query(&value), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
        EXPECT_EQ(value, 5);
    }
    EXPECT_EQ(API_GNSS_GetSourceClk(nullptr), API_ERR_INVALID_PARAMETERS);
}


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
    EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(nullptr), API_ERR_INVALID_PARAMETERS);
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
    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    Board_Close(ifd_pb);  // closed behind the unit's back: its own close fails
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_PUSHBUTTON_CLEANUP);
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
