// Power management: the queries' arithmetic, markers and pauses, the device
// and task across restarts, and power events from the driver's signal to the
// application's callback.
#include <pthread.h>

#include <atomic>

#include "API_Signal.h"
#include "pmu_fixture.h"
#include "threads.h"

namespace {

TEST_F(PmuTest, TemperatureJoinsItsTwoBytes)
{
    for (auto [integer, hundredths, celsius] : {std::tuple{55, 25, 25.25f}, {0, 0, -30.0f}, {255, 255, 227.55f}}) {
        pmu.SetTemperatureBytes(integer, hundredths);
        float temperature = 1000;
        EXPECT_EQ(API_PM_GetTemperature(&temperature), 0);
        EXPECT_FLOAT_EQ(temperature, celsius);
    }
    EXPECT_EQ(Pauses(5), (std::vector<long>{kRequestPause, kReplyPause, kReplyPause, kRequestPause, kReplyPause}));
    pmu.FailCommand(0x7A, sim::PmuFault::BadChecksum);
    float temperature = 1000;
    EXPECT_EQ(API_PM_GetTemperature(&temperature), API_ERR_CHECKSUM_TEST);
    EXPECT_FLOAT_EQ(temperature, 225.0f);  // the integer part stays
}

TEST_F(PmuTest, PowerLevelOfEachSource)
{
    // clang-format off
    const struct {
        int source; uint8_t volts, hundredths, level; int result; float levelOut, voltageOut; size_t requests;
    } cases[] = {
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
        EXPECT_EQ(Requests().size(), c.requests);
    }
    // The voltage's hundredths are read without the pause.
    EXPECT_EQ(Pauses(5), (std::vector<long>{kRequestPause, kReplyPause, kRequestPause, kRequestPause, kReplyPause}));
    pmu.FailCommand(0x84, sim::PmuFault::WrongEcho);
    float level = -1, voltage = -1;
    EXPECT_EQ(API_PM_GetPowerLevel(0, nullptr, &voltage), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_PM_GetPowerLevel(1, &level, &voltage), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
}

TEST_F(PmuTest, ChargeStatusByTypeAndPowerSource)
{
    // clang-format off
    const struct { uint8_t first, second; int type, result, status; } cases[] = {
        {1, 0, 0, 0, 1}, {0, 1, 0, 36, -1}, {0, 1, 1, 0, 1}, {1, 0, 1, 36, -1}, {1, 1, 2, 0, 0},
        {0, 1, 2, 0, 2}, {0, 2, 2, 0, 3},   {1, 1, 7, 0, 4}, {0, 0, -1, 0, 4}};
    // clang-format on
    for (const auto &c : cases) {
        pmu.SetChargeIndicators(c.first, c.second);
        pmu.Log().Clear();
        int status = -1;
        EXPECT_EQ(API_PM_GetChargeStatus(c.type, &status), c.result) << "type " << c.type;
        EXPECT_EQ(status, c.status) << "type " << c.type;
        EXPECT_EQ(Requests(), (Lines{"02 8C 00 8E", "02 8D 00 8F"}));
    }
    for (uint8_t data : {0, 1, 2, 3, 0xFF}) {
        pmu.SetPowerSource(data);
        int source = -1;
        EXPECT_EQ(API_PM_GetPowerSource(&source), 0);
        EXPECT_EQ(source, data <= 2 ? data : 9);
    }
    pmu.FailCommand(0x88);
    int source = -1;
    EXPECT_EQ(API_PM_GetPowerSource(&source), API_ERR_SPI_TRANSMISSION);
    EXPECT_EQ(source, -1);
}

TEST_F(PmuTest, RestartKeepsOneDeviceAndOneTask)
{
    const int tasks = ThreadCount();
    EXPECT_EQ(API_PM_Initialize(), 0);
    EXPECT_EQ(ThreadCount(), tasks);
    EXPECT_EQ(receiver.OpenDescriptors().size(), 1u);
    receiver.FailOpen("/dev/pmu", EACCES);
    EXPECT_EQ(API_PM_Initialize(), API_ERR_OPENING_PMU);
    EXPECT_EQ(ifd_pmu, -1);
    EXPECT_TRUE(receiver.OpenDescriptors().empty());
}

std::atomic<int> g_events{0}, g_status{0};
std::atomic<bool> g_onTestThread{false};
pthread_t g_testThread;

void RecordEvent(int status)
{
    g_status = status;
    g_onTestThread = pthread_equal(pthread_self(), g_testThread);
    ++g_events;
}

TEST_F(PmuTest, PowerEventsReachTheCallbackOnThePowerTaskUnlessTheirReadFails)
{
    ASSERT_EQ(API_Signal_Initialize(), 0);
    g_testThread = pthread_self();
    pmu.SetEventStatus(0x3412);
    board.gpio->RaiseEvents(0x40);  // before a callback: read and dropped
    ASSERT_TRUE(simtest::Eventually([&] { return pmu.RequestCount() == 2; }));
    EXPECT_EQ(API_PM_StatusCallback(RecordEvent), 0);
    EXPECT_EQ(API_PM_StatusCallback(nullptr), API_ERR_PMU_CALL_BACK_SET_NULL);
    pmu.FailCommand(0x74, sim::PmuFault::WrongEcho);
    board.gpio->RaiseEvents(0x40);
    ASSERT_TRUE(simtest::Eventually([&] { return pmu.RequestCount() == 4; }));
    pmu.FailCommand(0x7F, sim::PmuFault::ShortRead);
    board.gpio->RaiseEvents(0x40);
    ASSERT_TRUE(simtest::Eventually([&] { return pmu.RequestCount() == 5; }));
    pmu.ClearFaults();
    board.gpio->RaiseEvents(0x40 | 0x08);  // other bits leave the power event alone
    ASSERT_TRUE(simtest::Eventually([] { return g_events > 0; }));
    EXPECT_EQ(pmu.RequestCount(), 7);
    EXPECT_EQ(g_events, 1);
    EXPECT_EQ(g_status, 0x3412);
    EXPECT_FALSE(g_onTestThread);
    EXPECT_EQ(Requests(), (Lines{"02 7F 00 7D", "02 74 00 76", "02 7F 00 7D", "02 74 00 76", "02 7F 00 7D",
                                 "02 7F 00 7D", "02 74 00 76"}));
    API_Signal_Cleanup();
    EXPECT_EQ(API_PM_EnablePowerEvents(), 0);
    EXPECT_EQ(API_PM_RemoteShutdown(), 0);
    EXPECT_TRUE(pmu.State().powerEventsEnabled && pmu.State().shutdownRequests == 1);
}

}  // namespace
