// The PMU link (framing, the reply checks in their order, the bus lock, no
// exchange without the device), power management's queries, device, task
// and events, the UHF radio's supply and serial mode, and the GPIO extender.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>

#include <memory>

#include "API.h"
#include "board.h"
#include "event_recorder.h"
#include "internal/API_Extender.h"
#include "internal/API_PM.h"
#include "internal/API_SPI.h"
#include "sim_test.h"
#include "standard_input.h"
#include "threads.h"

namespace {

using Lines = std::vector<std::string>;
using Codes = std::vector<int>;

// Power management started; its task is ended again after each test.
class PmuTest : public simtest::SimTest {
protected:
    void SetUp() override { ASSERT_EQ(API_PM_Initialize(), API_ERR_NONE); }
    void TearDown() override
    {
        API_PM_StopTask();
        unitreset::PowerManagement();
    }
    sim::Pmu &pmu = *board.pmu;
};

// Takes nothing of its first write and leaves errno at EINTR, then all of each.
struct TakesNothingFirst : sim::Device {
    ssize_t Write(const void *, size_t size) override
    {
        errno = EINTR;
        return writes++ ? ssize_t(size) : 0;
    }
    int writes = 0;
};

TEST_F(PmuTest, RepliesAreCheckedInOrderAndEveryFailureReleasesTheLock)
{
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xF4, 0x5A), 0);
    EXPECT_EQ(pmu.Log().Lines(), Lines{"02 F4 5A AC"});
    // clang-format off
    const struct { sim::Pmu::Message reply; unsigned char expected; int result; } cases[] = {
        {{0x02, 0xC3, 0x00, 0x00}, 0xC3, API_ERR_CHECKSUM_TEST},  // echo matches, checksum wrong
        {{0x02, 0xFF, 0xFF, 0x02}, 0xC3, API_ERR_SPI_TRANSMISSION},
        {{0x02, 0xFF, 0xFF, 0x02}, 0xFE, API_ERR_SPI_TRANSMISSION},
        {{0x02, 0xC2, 0x00, 0xC0}, 0xC3, API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY},
        {{0x02, 0xC2, 0x00, 0xC0}, 0xFE, API_ERR_NONE},
        {{0x55, 0xC3, 0x07, 0x55 ^ 0xC3 ^ 0x07}, 0xC3, API_ERR_NONE},  // header not examined
    };
    // clang-format on
    for (const auto &c : cases) {
        pmu.QueueReply(c.reply);
        ASSERT_EQ(API_SPI_Sendmsg(ifd_pmu, 0xC3, 0), 0);
        EXPECT_EQ(API_SPI_Receivemsg(ifd_pmu, nullptr, c.expected), c.result) << std::hex << int(c.reply[1]);
    }
    // A short write is not followed by a read, which would fail with 26.
    for (auto [fault, result] : {std::pair{sim::PmuFault::ShortWrite, API_ERR_WRITING_SPI},
                                 {sim::PmuFault::ShortRead, API_ERR_READING_FROM_SPI}}) {
        pmu.FailRequest(1, fault);
        EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), result);
        EXPECT_EQ(pthread_mutex_trylock(&s_spi_mutex), 0);  // let go on every path
        pthread_mutex_unlock(&s_spi_mutex);
    }
    pmu.InterruptNextExchange();  // a signal during the write and the read: both taken again
    EXPECT_EQ(API_SPI_SendRecv(ifd_pmu, 0xB3, 0), 0);
    pthread_mutex_lock(&s_spi_mutex);
    EXPECT_EQ(API_SPI_Finalize(), EBUSY);
    pthread_mutex_unlock(&s_spi_mutex);
    // The lock outlives the shut-down.
    EXPECT_EQ((Codes{API_SPI_Finalize(), API_SPI_Initialize(), API_SPI_SendRecv(ifd_pmu, 0x7E, 0)}), Codes(3, 0));
    // A write that took nothing is not taken again for an EINTR left over.
    auto device = std::make_shared<TakesNothingFirst>();
    receiver.AddDevice("/dev/spi_probe", device);
    const int fd = Board_Open("/dev/spi_probe", O_RDWR, 0);
    EXPECT_EQ((Codes{API_SPI_Sendmsg(fd, 0xC3, 0), device->writes}), (Codes{API_ERR_WRITING_SPI, 1}));
    Board_Close(fd);
    API_SPI_PauseMicroseconds(2000000);  // whole seconds leave no nanoseconds
    EXPECT_EQ(receiver.Sleeps().back().tv_sec * 1000000000LL + receiver.Sleeps().back().tv_nsec, 2000000000LL);
}

// Without the device the descriptors are 0: every operation refuses at once,
// before the request's pause, and standard input is never touched.  The PMU's
// users (queries, radio, buzzer, GNSS lines) go through the link's check.
void ExpectClosedDevicesRefused(const sim::Receiver &receiver)
{
    const size_t pauses = receiver.Sleeps().size();
    simtest::ExpectStandardInputUntouchedBy([] {
        float f;
        int i;
        EXPECT_EQ((Codes{API_SPI_Sendmsg(0, 0xC3, 0), API_SPI_Receivemsg(0, nullptr, 0xFE), API_PM_GetTemperature(&f),
                         API_MMI_IsRecordPressed(&i), API_Extender_SetStatusGpio(1, 3, 0), API_Extender_Cleanup(),
                         API_EXTUHF_SetSerialMode(0), API_EXTUHF_GetSerialMode(&i)}),
                  (Codes{API_ERR_SPI_TRANSMISSION, API_ERR_SPI_TRANSMISSION, API_ERR_SPI_TRANSMISSION,
                         API_ERR_OPEN_DEV_PUSHBUTTON, API_ERR_READING_FROM_EXTENDER, API_ERR_NONE,
                         API_ERR_EXTERNAL_UHF_IOCTL, API_ERR_EXTERNAL_UHF_IOCTL}));
    });
    EXPECT_EQ(receiver.Sleeps().size(), pauses);
}

using ClosedDevice = simtest::SimTest;

TEST_F(ClosedDevice, BeforeStartUpAndAfterShutDownNothingReachesStandardInput)
{
    ExpectClosedDevicesRefused(receiver);
    const int units = API_INIT_SPI | API_INIT_PM | API_INIT_BUZZER | API_INIT_EXTENDER | API_INIT_SIGNALS |
                      API_INIT_MMI;
    simtest::Stdout([&] { EXPECT_EQ(API_Initialize(units), API_ERR_NONE); });
    EXPECT_EQ(API_PM_RemoteShutdown(), API_ERR_NONE);
    API_Finalize();
    ExpectClosedDevicesRefused(receiver);
}

TEST_F(PmuTest, QueriesJoinTheirBytesAndTellAMissingSourceOrCharger)
{
    for (auto [integer, hundredths, celsius] : {std::tuple{55, 25, 25.25f}, {0, 0, -30.0f}, {255, 255, 227.55f}}) {
        pmu.SetTemperatureBytes(integer, hundredths);
        float temperature = 1000;
        EXPECT_EQ(API_PM_GetTemperature(&temperature), 0);
        EXPECT_FLOAT_EQ(temperature, celsius);
    }
    // clang-format off
    const struct { int source; uint8_t volts, hundredths, level; int result; float levelOut, voltageOut; size_t requests; }
    cases[] = {
        {0, 7, 40, 85, 0, 85.0f, 7.40f, 3},            {0, 0xFE, 40, 60, API_ERR_NO_BATTERY, -1, -1, 1},
        {0, 0xFF, 40, 60, 36, -1, -1, 1},              {0, 6, 5, 0xFE, API_ERR_NO_BATTERY, -1, 6.05f, 3},
        {0, 6, 5, 0xFF, 36, -1, 6.05f, 3},             {1, 0xFF, 99, 0xFF, 0, 255.0f, 255.99f, 3},  // no invalid marker
        {1, 0xFE, 40, 85, API_ERR_NO_BATTERY, 0, 0, 1}, {2, 90, 0, 0, 0, 100, 12.0f, 1},
        {2, 0, 0, 0, API_ERR_NO_BATTERY, 100, 0, 1},   {5, 1, 1, 1, 0, -1, -1, 0},
    };
    // clang-format on
    for (const auto &c : cases) {
        pmu.SetSource0(c.volts, c.hundredths, c.level);
        pmu.SetSource1(c.volts, c.hundredths, c.level);
        pmu.SetSource2(c.volts);
        pmu.Log().Clear();
        float level = -1, voltage = -1;
        SCOPED_TRACE(::testing::Message() << "source " << c.source << ", " << int(c.volts) << " " << int(c.level));
        EXPECT_EQ(API_PM_GetPowerLevel(c.source, &level, &voltage), c.result);
        EXPECT_FLOAT_EQ(level, c.levelOut);
        EXPECT_FLOAT_EQ(voltage, c.voltageOut);
        EXPECT_EQ(pmu.Log().Lines().size(), c.requests);
    }
    float voltage = -1;
    EXPECT_EQ(API_PM_GetPowerLevel(0, nullptr, &voltage), API_ERR_INVALID_PARAMETERS);
    // clang-format off
    const struct { uint8_t first, second; int type, result, status; } charges[] = {
        {1, 0, 0, 0, 1}, {0, 1, 0, 36, -1}, {0, 1, 1, 0, 1}, {1, 0, 1, 36, -1}, {1, 1, 2, 0, 0},
        {0, 1, 2, 0, 2}, {0, 2, 2, 0, 3},   {1, 1, 7, 0, 4}, {0, 0, -1, 0, 4}};
    // clang-format on
    for (const auto &c : charges) {
        pmu.SetChargeIndicators(c.first, c.second);
        int status = -1;
        EXPECT_EQ(API_PM_GetChargeStatus(c.type, &status), c.result) << "type " << c.type;
        EXPECT_EQ(status, c.status) << "type " << c.type;
    }
    int source = -1;
    for (uint8_t data : {2, 3}) {  // beyond the three sources: 9
        pmu.SetPowerSource(data);
        EXPECT_EQ((Codes{API_PM_GetPowerSource(&source), source}), (Codes{0, data == 2 ? 2 : 9}));
    }
}

// Each status, negated when the callback ran on the test's own thread.
simtest::EventRecorder g_events;
pthread_t g_testThread;
void RecordEvent(int status) { g_events.Record(pthread_equal(pthread_self(), g_testThread) ? -status : status); }

TEST_F(PmuTest, PowerEventsReachTheCallbackOnTheOneTaskUnlessTheirReadFails)
{
    ASSERT_EQ(API_Signal_Initialize(), 0);
    g_testThread = pthread_self();
    pmu.SetEventStatus(0x3412);
    board.gpio->RaiseEvents(0x40);  // before a callback: read and dropped
    ASSERT_TRUE(simtest::Eventually([&] { return pmu.RequestCount() == 2; }));
    EXPECT_EQ((Codes{API_PM_StatusCallback(RecordEvent), API_PM_StatusCallback(nullptr)}),
              (Codes{0, API_ERR_PMU_CALL_BACK_SET_NULL}));
    // A failed read of the high byte: no call.
    pmu.FailCommand(0x74, sim::PmuFault::WrongEcho);
    board.gpio->RaiseEvents(0x40);
    ASSERT_TRUE(simtest::Eventually([&] { return pmu.RequestCount() == 4; }));
    pmu.ClearFaults();
    board.gpio->RaiseEvents(0x40 | 0x08);  // other bits leave the power event alone
    ASSERT_TRUE(simtest::Eventually([] { return g_events.count > 0; }));
    EXPECT_EQ(pmu.Commands(), (std::vector<uint8_t>{0x7F, 0x74, 0x7F, 0x74, 0x7F, 0x74}));
    EXPECT_EQ(g_events.Values(), std::vector<int>{0x3412});
    API_Signal_Cleanup();
    EXPECT_EQ(API_PM_EnablePowerEvents() + API_PM_RemoteShutdown(), 0);
    EXPECT_TRUE(pmu.State().powerEventsEnabled && pmu.State().shutdownRequests == 1);
    // A restart keeps one device and one task.
    const int tasks = ThreadCount();
    EXPECT_EQ((Codes{API_PM_Initialize(), ThreadCount(), int(receiver.OpenDescriptors().size())}),
              (Codes{0, tasks, 1}));
}

TEST_F(PmuTest, RadioSwitchOnStopsAtAFailedCompanionSwitchOffSendsBoth)
{
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(7), 0);
    pmu.FailRequest(1, sim::PmuFault::FailureAnswer);
    EXPECT_EQ((Codes{API_UHF_RX_PacificCrest_TurnOn(0), pmu.State().uhfPower}), (Codes{API_ERR_SPI_TRANSMISSION, 1}));
    pmu.FailRequest(2, sim::PmuFault::ShortRead);
    EXPECT_EQ((Codes{API_UHF_RX_PacificCrest_TurnOn(0), pmu.State().uhfPower}), (Codes{API_ERR_READING_FROM_SPI, 0}));
    pmu.FailCommand(0xB3, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), API_ERR_CHECKSUM_TEST);
    pmu.ClearFaults();
    pmu.FailCommand(0xC3, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
    EXPECT_EQ(pmu.Commands(), (std::vector<uint8_t>{0xB3, 0xC3, 0xC2, 0xB3, 0xC2, 0xB3, 0xB3, 0xB3, 0xC3}));
    int pauses = 0;  // a microsecond between the two commands, when the first went through
    for (const timespec &sleep : receiver.Sleeps())
        pauses += sleep.tv_sec == 0 && sleep.tv_nsec == 1000;
    EXPECT_EQ(pauses, 4);
}

TEST_F(PmuTest, SerialModeGoesToTheDriverAndToNorAsACharacterOrNowhere)
{
    ASSERT_EQ(API_Signal_Initialize(), 0);
    ASSERT_EQ(API_NOR_Init(), 0);
    int read = -1;
    for (int mode : {1, 0}) {
        EXPECT_EQ(
            (Codes{API_EXTUHF_SetSerialMode(mode), API_EXTUHF_GetSerialMode(&read), read, board.gpio->SerialMode()}),
            (Codes{0, 0, mode, mode}));
        EXPECT_EQ(board.nor->PeekText(0x39197, 1), mode ? "1" : "0");
    }
    EXPECT_EQ((Codes{API_EXTUHF_SetSerialMode(2), API_EXTUHF_SetSerialMode(-1), API_EXTUHF_GetSerialMode(nullptr)}),
              (Codes{API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF, API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF,
                     API_ERR_INVALID_PARAMETERS}));
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), API_ERR_NOR_FLASH_WRITE);
    API_NOR_Cleanup();
    API_Signal_Cleanup();
}

class Extender : public simtest::SimTest {
protected:
    ~Extender() override
    {
        API_Extender_Cleanup();
        unitreset::Extender();
    }
    Lines Log() const { return board.extender->Log().Lines(); }
};

TEST_F(Extender, StartLatchesPinLevelsBeforeSettingDirectionsAndStopsAtAFailure)
{
    board.extender->SetInputLevels(true, 0xA5);
    board.extender->SetInputLevels(false, 0x3C);
    ASSERT_EQ(API_Extender_Init(), 0);
    EXPECT_EQ(Log(),
              (Lines{"read 12 = A5", "write 12 A5", "read 13 = 3C", "write 13 3C", "write 00 02", "write 01 00"}));
    ASSERT_EQ(API_Extender_Init(), 0);  // again: the first device is not left open
    EXPECT_EQ(receiver.OpenDescriptors().size(), 1u);
    board.extender->FailRead(0x13);
    EXPECT_EQ(API_Extender_Init(), API_ERR_READING_FROM_EXTENDER);
    board.extender->ClearFaults();
    board.extender->FailWrite(0x00);
    EXPECT_EQ(API_Extender_Init(), API_ERR_WRITING_EXTENDER);
    receiver.FailOpen("/dev/extender", ENOENT);
    EXPECT_EQ((Codes{API_Extender_Init(), fd_extender, API_Extender_Cleanup()}),
              (Codes{API_ERR_OPEN_EXTENDER, -1, API_ERR_EXTENDER_CLEANUP}));
}

TEST_F(Extender, LevelAndDirectionChangesRewriteOneBit)
{
    ASSERT_EQ(API_Extender_Init(), 0);
    board.extender->Log().Clear();
    int a3 = -1, b8 = -1;
    EXPECT_EQ((Codes{API_Extender_SetStatusGpio(1, 3, 0), API_Extender_SetStatusGpio(0, 8, 0),
                     API_Extender_SetStatusGpio(0, 8, 5), API_Extender_SetStatusGpio(1, 2, 1)}),
              (Codes{0, 0, 0, API_ERR_EXTENDER_INPUT_NOT_FORCEABLE}));
    board.extender->SetRegister(0x01, 0xFF);
    EXPECT_EQ((Codes{API_Extender_SetConfigGpio(0, 8, 1), API_Extender_SetConfigGpio(1, 5, 0),
                     API_Extender_GetStatusGpio(1, 3, &a3), API_Extender_GetStatusGpio(0, 8, &b8), a3, b8}),
              (Codes{0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(Log(),
              (Lines{"read 00 = 02", "read 12 = FF", "write 12 FB", "read 01 = 00", "read 13 = FF", "write 13 7F",
                     "read 01 = 00", "read 13 = 7F", "write 13 FF", "read 00 = 02", "read 01 = FF", "write 01 7F",
                     "read 00 = 02", "write 00 12", "read 12 = FB", "read 13 = FF"}));
    EXPECT_EQ(API_Extender_GetStatusGpio(1, 1, &a3), 0);  // line 1 is a line
    board.extender->FailWrite();
    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 0), API_ERR_WRITING_EXTENDER);
    // Closes nothing twice.
    EXPECT_EQ((Codes{API_Extender_Cleanup(), fd_extender, API_Extender_Cleanup()}), (Codes{0, 0, 0}));
}

}  // namespace
