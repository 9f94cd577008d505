// Start-up on the wire, its failures, the power operations, the carrier line,
// the clean-up, the task's life across restarts of the unit and the
// readiness polls that run their whole course.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <future>

#include "API_Init.h"
#include "API_Signal.h"
#include "gsm_fixture.h"
#include "internal/API_Init.h"
#include "internal/API_SYS.h"
#include "threads.h"

namespace {

// Whole power sequences back to back: at 0.02 a 10 s answer wait is 200 ms.
class Startup : public GsmTest {
protected:
    Startup() : GsmTest(0.02, false) {}
};

TEST_F(Startup, PowersTheModemAndBringsItsFirmwareUp)
{
    termios stale = modem.Line().HostSettings();  // a line left with a read time-out
    stale.c_cc[VTIME] = 5;
    int slave = open(modem.Line().SlaveName().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(tcsetattr(slave, TCSANOW, &stale), 0);
    close(slave);
    modem.SetEcho(true);  // as a modem fresh from the factory would
    modem.SetInitStatus({1, 2});
    int result = -1;
    EXPECT_EQ(simtest::Stdout([&] { result = API_GSM_Initialize(); }), "Modem ready\r");
    ASSERT_EQ(result, API_ERR_NONE);
    EXPECT_EQ(pmu.Log().Lines(),
              (Lines{"02 A5 01 A6", "02 A4 01 A7", "02 A1 00 A3", "02 A2 01 A1", "02 A1 00 A3", "02 A2 00 A0"}));
    EXPECT_EQ(SleepsOf(500), 1);
    EXPECT_EQ(SleepsOf(8000), 1);
    EXPECT_EQ(modem.Commands(), (Lines{"ATE0\r", "AT&F0\r", "AT+CFUN=1\r", "AT+WSTR=1\r", "AT+WSTR=1\r"}));
    termios line = modem.Line().HostSettings();
    EXPECT_EQ(modem.Line().HostBitRate(), 115200u);
    EXPECT_EQ(line.c_cflag & (CRTSCTS | CLOCAL | CREAD | CSIZE), static_cast<tcflag_t>(CLOCAL | CREAD | CS8));
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_EQ(b_GSM_DCD_Stable, 1);
    // Started once: a second call touches nothing.
    EXPECT_EQ(API_GSM_Initialize(), API_ERR_NONE);
    EXPECT_EQ(pmu.RequestCount(), 6);
    EXPECT_EQ(modem.Commands().size(), 5u);
}

TEST_F(Startup, FailuresLeaveThePortClosedAndTheSupplyOff)
{
    const sim::GsmOverride silent{"", true}, error{"ERROR"};
    const std::pair<std::function<void()>, int> cases[] = {
        {[&] { receiver.FailOpen("/dev/ttyS1", EIO); }, API_ERR_OPEN_GSM_PORT},
        {[&] { pmu.FailCommand(0xA5); }, API_ERR_SET_GSM_POWER_FALSE},
        {[&] { pmu.FailCommand(0xA2, sim::PmuFault::ShortRead); }, API_ERR_SET_GSM_MODULE_SIGNAL_TRUE},
        {[&] { modem.Override("ATE0", silent); }, API_ERR_ATE0_NOT_ACKNOWLEDGED},
        {[&] { modem.Override("AT+CFUN", error); }, API_ERR_AT_CFUNC_NOT_ACKNOWLEDGED},
        {[&] { modem.SetInitStatus({3}); }, API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS},
        {[&] { modem.Override("AT+WSTR", sim::GsmOverride{"+WSTR: 1,x\nOK"}); }, API_ERR_CHAR_NOT_DIGIT},
    };
    for (const auto &[arrange, code] : cases) {
        arrange();
        EXPECT_EQ(API_GSM_Initialize(), code);
        EXPECT_EQ(ai_fd[GSM_UART], 0) << code;
        EXPECT_FALSE(pmu.State().gsmPower) << code;
        EXPECT_EQ(b_GSM_API_Initialized, 0) << code;
        int received = 0;
        char byte;
        EXPECT_EQ(s_GsmRead(&byte, 1, &received), API_ERR_GSM_CONNEXION) << code << ": ring released";
        receiver.ClearOpenFault("/dev/ttyS1");
        pmu.ClearFaults();
        modem.ClearOverrides();
        modem.SetInitStatus({2});
    }
    EXPECT_EQ(API_GSM_Initialize(), API_ERR_NONE);
}

TEST_F(Startup, PowerOperationsAndTheCarrierLine)
{
    int state = -1;
    for (int on : {1, 0}) {
        ASSERT_EQ(API_GSM_SetPowerState(on), API_ERR_NONE);
        ASSERT_EQ(API_GSM_GetPowerState(&state), API_ERR_NONE);
        EXPECT_EQ(state, on);
    }
    EXPECT_EQ(SleepsOf(1000), 1);
    EXPECT_EQ(SleepsOf(500), 1);
    // Already asserted: nothing is sent and the 8 s hold is skipped.
    sim::PmuState asserted = pmu.State();
    asserted.gsmModuleSignal = true;
    pmu.SetState(asserted);
    pmu.Log().Clear();
    EXPECT_EQ(API_GSM_Mod_ON_OFF(1), API_ERR_NONE);
    EXPECT_EQ(pmu.Log().Lines(), Lines{"02 A1 00 A3"});
    EXPECT_EQ(SleepsOf(8000), 0);
    EXPECT_EQ(API_GSM_Mod_ON_OFF(2), API_ERR_INVALID_PARAMETERS);
    pmu.FailCommand(0xA4, sim::PmuFault::ShortWrite);
    EXPECT_EQ(API_GSM_SetPowerState(1), API_ERR_WRITING_SPI);
    pmu.FailCommand(0xA6, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_GSM_GetPowerState(&state), API_ERR_READING_FROM_SPI);
    pmu.FailCommand(0xA1, sim::PmuFault::FailureAnswer);
    EXPECT_EQ(API_GSM_Mod_ON_OFF(0), API_ERR_READING_FROM_SPI);
    pmu.ClearFaults();
    // The PMU closed: its descriptor 0 is no device to write to.
    unitreset::ClosePmu();
    int saved = dup(0), ends[2];
    ASSERT_EQ(pipe(ends), 0);
    dup2(ends[1], 0);
    EXPECT_EQ(API_GSM_SetPowerState(1), API_ERR_WRITING_SPI);
    dup2(saved, 0);
    pollfd written{ends[0], POLLIN, 0};
    EXPECT_EQ(poll(&written, 1, 0), 0) << "a PMU message went to descriptor 0";
    for (int fd : {saved, ends[0], ends[1]})
        close(fd);
    OpenPmu();

    ASSERT_EQ(API_Signal_Initialize(), API_ERR_NONE);
    StartModem();
    int level = -1;
    for (int driverLevel : {1, 0, 5}) {
        board.gpio->SetDcdLevel(driverLevel);
        ASSERT_EQ(API_GSM_GetDCDPinLevel(&level), API_ERR_NONE);
        EXPECT_EQ(level, driverLevel == 1 ? 1 : 0);
    }
    board.gpio->FailIoctl(sim::GpioDriver::kGetDcdLevel, EIO);
    EXPECT_EQ(API_GSM_GetDCDPinLevel(&level), API_ERR_IOCTL_GPIO_DRIVER);
    API_Signal_Cleanup();
}

// The task ends with the unit and comes back with it: an application that
// created it once keeps it across shut-downs and start-ups of the API.
TEST_F(Startup, TheApplicationsTaskFollowsTheUnitAcrossRestarts)
{
    for (int run = 0; run < 2; ++run) {
        if (run > 0)
            OpenPmu();  // the shut-down closed it
        ASSERT_EQ(API_Initialize(API_INIT_GSM), API_ERR_NONE) << run;
        int policy = -1;
        sched_param priority{};
        ASSERT_EQ(pthread_getschedparam(gsm_thread_id, &policy, &priority), 0);
        EXPECT_EQ(policy == SCHED_FIFO && priority.sched_priority == 10, true) << run;
        ConnectFromModem();
        const int withTask = ThreadCount();
        // A reader waiting for payload learns of the shut-down.
        auto reader = std::async(std::launch::async, [] { return Read(1); });
        API_Finalize();
        EXPECT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
        EXPECT_EQ(ai_fd[GSM_UART], 0);
        EXPECT_EQ(b_PSD_ConnectionStatus + b_GSM_API_Initialized, 0);
        EXPECT_EQ(b_CommandMode, 1);
        EXPECT_TRUE(pmu.State().gsmPower);  // the clean-up leaves the supply
        EXPECT_TRUE(Eventually([&] { return ThreadCount() == withTask - 1; })) << "the task outlived the shut-down";
    }
}

// Each poll's answer wait is scaled like every sleep: at a twentieth of real
// time the modem had 55 ms to answer, too little on a loaded machine.
class SlowReadiness : public GsmTest {
protected:
    SlowReadiness() : GsmTest(0.2, false) {}
};

TEST_F(SlowReadiness, WaitGivesUpAfterTwoHundredPollsAndStartUpCarriesOnAfterSixty)
{
    modem.SetInitStatus({1});
    EXPECT_EQ(simtest::Stdout([] { EXPECT_EQ(API_GSM_Initialize(), API_ERR_NONE); }), "");
    EXPECT_EQ(SleepsOf(1000), 60 + 1);  // one sleep per pass, and the supply's
    modem.ClearCommands();
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_GSM_INIT_SEQUENCE_NOT_FINISHED);
    EXPECT_EQ(modem.Commands().size(), 200u);
}

}  // namespace
