// The small peripheral units on a fresh simulated receiver: the buzzer and
// the GNSS lines as the PMU requests they send, Ethernet link changes and
// PPS pulses from the signal dispatch, the push buttons, now and at boot,
// and the board's watchdog.
#include <errno.h>

#include <thread>

#include "API.h"
#include "board.h"
#include "event_recorder.h"
#include "internal/API_MMI.h"
#include "sim_test.h"

namespace {

using Lines = std::vector<std::string>;
using Codes = std::vector<int>;

// Process-wide state reset after each test; the PMU device open as power
// management leaves it, for the units that talk to the PMU.
class PeripheralsTest : public simtest::SimTest {
protected:
    void SetUp() override { OpenPmu(); }
    void TearDown() override
    {
        API_MMI_Cleanup();
        API_Watchdog_Stop();
        unitreset::PushButtons();
        unitreset::Gnss();
        unitreset::Ethernet();
    }
};

std::string Request(unsigned char command, unsigned char parameter)
{
    char text[16];
    snprintf(text, sizeof text, "02 %02X %02X %02X", command, parameter, 0x02 ^ command ^ parameter);
    return text;
}

TEST_F(PeripheralsTest, BuzzerSendsToneDurationAndStartAcrossTheTable)
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
    EXPECT_EQ(API_Buzzer_Init() + API_Buzzer_Cleanup(), API_ERR_NONE);
    EXPECT_FALSE(board.pmu->State().buzzerSounding);
    // A failed request ends the beep there.
    board.pmu->FailCommand(0xF4);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_SPI_TRANSMISSION);
    board.pmu->ClearFaults();
    board.pmu->FailCommand(0xF5, sim::PmuFault::BadChecksum);
    board.pmu->FailCommand(0xF2);
    EXPECT_EQ((Codes{API_Buzzer_Beep(1000, 5), API_Buzzer_Cleanup()}), (Codes{29, 28}));
    const std::vector<uint8_t> commands = board.pmu->Commands();
    EXPECT_EQ(std::vector<uint8_t>(commands.end() - 4, commands.end()), (std::vector<uint8_t>{0xF4, 0xF4, 0xF5, 0xF2}));
}

// Setters send one request each and refuse other levels; queries report 1
// only for an exact 1 and keep the value on a failure.
TEST_F(PeripheralsTest, GnssLinesAndQueries)
{
    // A power state other than 1 is off.
    EXPECT_EQ((Codes{API_GNSS_SetPowerState(1), API_GNSS_SetWakeupPinLevel(1), API_GNSS_SetResetPinLevel(1),
                     API_GNSS_SetBootPinLevel(1), API_GNSS_SetPowerState(5), API_GNSS_SetWakeupPinLevel(0),
                     API_GNSS_SetResetPinLevel(0), API_GNSS_SetBootPinLevel(0)}),
              Codes(8, 0));
    EXPECT_EQ(board.pmu->Log().Lines(),
              (Lines{Request(0x99, 1), Request(0x92, 1), Request(0x96, 1), "02 95 00 97", Request(0x98, 1),
                     Request(0x92, 0), Request(0x96, 0), Request(0x94, 0)}));
    EXPECT_EQ(
        (Codes{API_GNSS_SetResetPinLevel(2), API_GNSS_SetWakeupPinLevel(2), API_GNSS_SetWakeupPinLevel(0xFFFFFFFFu),
               API_GNSS_SetBootPinLevel(2), API_GNSS_SetBootPinLevel(-1)}),
        Codes(5, API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS));
    EXPECT_EQ(board.pmu->RequestCount(), 8);
    board.pmu->FailCommand(0x92, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);

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
        }
        board.pmu->FailRequest(1, sim::PmuFault::WrongEcho);
        int value = 5;
        EXPECT_EQ(query(&value), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
        EXPECT_EQ(value, 5);
    }
    EXPECT_EQ(API_GNSS_GetSourceClk(nullptr), API_ERR_INVALID_PARAMETERS);
}

simtest::EventRecorder g_links, g_pps;

// The unit's handlers called as the signal dispatch does, whose own real
// signals other tests send.
TEST_F(PeripheralsTest, EachLinkChangeAndPpsPulseReachesTheRegisteredFunction)
{
    int state = -5;
    EXPECT_EQ((Codes{API_ETH_Init(nullptr), API_ETH_GetCnxState(&state), state}), (Codes{0, 0, 0}));
    // Changes with nobody to tell; the start below finds the link up itself.
    receiver.CreateFile("/var/netlink");
    EXPECT_EQ(API_ETH_SignalHandler(), 0);
    receiver.RemoveFile("/var/netlink");
    EXPECT_EQ(API_ETH_SignalHandler(), 0);
    receiver.CreateFile("/var/netlink");
    // Up at start: known without a signal; a second start keeps the function
    // and tells it again; no change calls nothing.
    EXPECT_EQ((Codes{API_ETH_Init([](int change) { return g_links.Record(change), 40 + change; }),
                     API_ETH_GetCnxState(&state), state, API_ETH_Init(nullptr), API_ETH_SignalHandler()}),
              (Codes{0, 0, 1, 0, 0}));
    receiver.RemoveFile("/var/netlink");
    EXPECT_EQ((Codes{API_ETH_SignalHandler(), API_ETH_GetCnxState(&state), state, API_ETH_SignalHandler()}),
              (Codes{39, 0, 0, 0}));  // the function's result first
    receiver.CreateFile("/var/netlink");
    EXPECT_EQ(API_ETH_SignalHandler(), 40);
    EXPECT_EQ(g_links.Values(), (Codes{0, 0, -1, 0}));
    EXPECT_EQ((Codes{API_ETH_GetCnxState(&state), state, API_ETH_GetCnxState(nullptr)}),
              (Codes{0, 1, API_ERR_INVALID_PARAMETERS}));

    int context = 0;  // nobody registered at first; a null function keeps the last one
    EXPECT_EQ((Codes{API_GNSS_PPSSignalHandler(&context, 1), API_GNSS_PPSCallback(nullptr),
                     API_GNSS_PPSCallback(
                         [](void *context, unsigned events) { return g_pps.Record(context ? int(events) : -1), 7; })}),
              (Codes{0, API_ERR_PPS_CALL_BACK_SET_NULL, 0}));
    EXPECT_EQ((Codes{API_GNSS_PPSSignalHandler(&context, 3), API_GNSS_PPSCallback(nullptr),
                     API_GNSS_PPSSignalHandler(&context, 9),
                     API_GNSS_PPSCallback([](void *, unsigned events) { return g_pps.Record(100 + int(events)), 8; }),
                     API_GNSS_PPSSignalHandler(&context, 1)}),
              (Codes{7, API_ERR_PPS_CALL_BACK_SET_NULL, 7, 0, 8}));
    EXPECT_EQ(g_pps.Values(), (Codes{0x03, 0x09, 101}));
}

// The buttons as the driver reports them now, and as the boot left them in
// NOR: read once, cleared there, then remembered.
TEST_F(PeripheralsTest, PushButtonsNowAndAtBoot)
{
    int record = -1, scroll = 42;
    receiver.FailOpen("/dev/pushbuttons", ENOENT);
    EXPECT_EQ(
        (Codes{API_MMI_Init(), API_MMI_IsScrollPressed(&scroll), scroll, API_MMI_WasRecordPressedOnBoot(nullptr),
               API_MMI_Cleanup()}),
        (Codes{API_ERR_PUSHBUTTON_INITIALIZAION, API_ERR_OPEN_DEV_PUSHBUTTON, 42, API_ERR_INVALID_PARAMETERS, 0}));
    receiver.ClearOpenFault("/dev/pushbuttons");
    ASSERT_EQ((Codes{API_MMI_Init(), API_MMI_Init()}), (Codes{0, 0}));
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 1);
    board.pushbuttons->SetRecord(1);
    board.pushbuttons->SetScroll(7);  // passed on as the driver gives it
    EXPECT_EQ((Codes{API_MMI_IsRecordPressed(&record), API_MMI_IsScrollPressed(&scroll), record, scroll,
                     API_MMI_IsRecordPressed(nullptr)}),
              (Codes{0, 0, 1, 7, API_ERR_INVALID_PARAMETERS}));
    board.pushbuttons->FailIoctl(EIO);
    EXPECT_EQ((Codes{API_MMI_IsRecordPressed(&record), record}), (Codes{API_ERR_IOCTL_DEV_PUSHBUTTON, 1}));
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 0);
    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    Board_Close(ifd_pb);  // closed behind the unit's back: its own close fails
    EXPECT_EQ((Codes{API_MMI_Cleanup(), API_MMI_Cleanup(), API_MMI_IsScrollPressed(&scroll)}),
              (Codes{API_ERR_PUSHBUTTON_CLEANUP, 0, API_ERR_OPEN_DEV_PUSHBUTTON}));

    sim::SetBootButtons(*board.nor, 0x00, 0x05);
    record = scroll = -1;
    // Failed reads and clears remember nothing: the bytes stay for the next try.
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_READING_NOR_FLASH);
    ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
    board.nor->FailWrite(EIO);
    EXPECT_EQ((Codes{API_MMI_WasRecordPressedOnBoot(&record), record}), (Codes{API_ERR_NOR_FLASH_WRITE, -1}));
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0x00}, uint8_t{0x05}));
    board.nor->ClearFaults();

    // Two first readers at once: each still sees the bytes the boot left.
    board.nor->SetAccessDelayUs(2000);
    std::thread recordReader([&] { EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&record), API_ERR_NONE); });
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_NONE);
    recordReader.join();
    EXPECT_EQ(record * 10 + scroll, 1);
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0}, uint8_t{0}));
    board.nor->ClearWrites();
    EXPECT_EQ((Codes{API_MMI_WasScrollPressedOnBoot(&scroll), scroll}), (Codes{0, 1}));  // from memory
    EXPECT_TRUE(board.nor->Writes().empty());
    API_NOR_Cleanup();
}

// Nothing is opened or written before the first arm; one descriptor serves
// every later arm, and each driver failure has its own code.
TEST_F(PeripheralsTest, WatchdogArmsWithSixtySecondsByDefaultAndReportsEachFailure)
{
    sim::Watchdog &dog = *board.watchdog;
    EXPECT_EQ((Codes{API_Watchdog_Restart(), API_Watchdog_Init(20, 0), API_Watchdog_Init(20, 2), dog.Opens()}),
              Codes(4, 0));
    receiver.FailOpen("/dev/watchdog", ENOENT);
    EXPECT_EQ((Codes{API_Watchdog_Init(20, 1), API_Watchdog_Restart()}),
              (Codes{API_ERR_OPENING_WATCHDOG, 0}));  // nothing open to feed
    receiver.ClearOpenFault("/dev/watchdog");
    EXPECT_EQ((Codes{API_Watchdog_Init(0, 1), dog.TimeoutSeconds(), API_Watchdog_Init(30, 1), API_Watchdog_Restart(),
                     dog.Opens(), dog.TimeoutSeconds(), API_Watchdog_Init(0, 0)}),
              (Codes{0, 60, 0, 0, 1, 30, 0}));
    EXPECT_TRUE(dog.IsOpen());  // disarming leaves the closing to Stop
    // Once closed, 0 keeps the stored time-out.
    EXPECT_EQ((Codes{API_Watchdog_Stop(), API_Watchdog_Init(0, 1), dog.Opens(), dog.TimeoutSeconds()}),
              (Codes{0, 0, 2, 30}));
    dog.SetTimeoutRange(1, 100);  // a refused time-out leaves the device open
    EXPECT_EQ((Codes{API_Watchdog_Init(500, 1), API_Watchdog_Init(50, 1), dog.Opens()}),
              (Codes{API_ERR_SETTING_WATCHDOG_TIMEOUT, 0, 2}));
    dog.FailWrite(EIO);
    EXPECT_EQ((Codes{API_Watchdog_Restart(), API_Watchdog_Init(0, 0)}),
              (Codes{API_ERR_KEEP_WATCHDOG_TIME_ALIVE, API_ERR_WATCHDOG_WRITE}));
    dog.FailWrite(0);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);  // still armed: the retry writes the character
}

}  // namespace
