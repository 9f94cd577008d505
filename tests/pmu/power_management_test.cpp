// Power management: the queries' arithmetic and markers, and power events
// from the driver's signal to the application's callback.
#include <dirent.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "API_Errors.h"
#include "API_Signal.h"
#include "pmu_fixture.h"
#include "threads.h"

namespace {

TEST_F(PmuTest, TemperatureJoinsItsTwoBytes)
{
    struct Case {
        uint8_t integer, hundredths;
        float celsius;
    } cases[] = {{55, 25, 25.25f}, {0, 0, -30.0f}, {255, 255, 227.55f}};
    for (const Case &c : cases) {
        pmu.SetTemperatureBytes(c.integer, c.hundredths);
        float temperature = 1000;
        EXPECT_EQ(API_PM_GetTemperature(&temperature), 0);
        EXPECT_FLOAT_EQ(temperature, c.celsius);
    }
    pmu.SetTemperatureBytes(55, 25);
    pmu.FailCommand(0x7A, sim::PmuFault::BadChecksum);
    float temperature = 1000;
    EXPECT_EQ(API_PM_GetTemperature(&temperature), API_ERR_CHECKSUM_TEST);
    EXPECT_FLOAT_EQ(temperature, 25.0f);
}

TEST_F(PmuTest, PowerLevelOfEachSource)
{
    float level = -1, voltage = -1;
    pmu.SetSource0(7, 40, 85);
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &voltage), 0);
    EXPECT_FLOAT_EQ(voltage, 7.40f);
    EXPECT_FLOAT_EQ(level, 85.0f);
    pmu.SetSource0(0xFE, 40, 60);
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &voltage), API_ERR_NO_BATTERY);
    pmu.SetSource0(6, 5, 0xFF);
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &voltage), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
    EXPECT_FLOAT_EQ(voltage, 6.05f);
    EXPECT_FLOAT_EQ(level, 85.0f);

    // Source 1 has no invalid marker: 0xFF is a number there.
    pmu.SetSource1(0xFF, 99, 0xFF);
    EXPECT_EQ(API_PM_GetPowerLevel(1, &level, &voltage), 0);
    EXPECT_FLOAT_EQ(voltage, 255.99f);
    EXPECT_FLOAT_EQ(level, 255.0f);
    pmu.SetSource1(0xFE, 40, 85);
    EXPECT_EQ(API_PM_GetPowerLevel(1, &level, &voltage), API_ERR_NO_BATTERY);
    EXPECT_EQ(level, 0.0f);
    EXPECT_EQ(voltage, 0.0f);

    pmu.SetSource2(90);
    EXPECT_EQ(API_PM_GetPowerLevel(2, &level, &voltage), 0);
    EXPECT_FLOAT_EQ(voltage, 12.0f);
    EXPECT_FLOAT_EQ(level, 100.0f);
    pmu.SetSource2(0);
    level = -1;
    EXPECT_EQ(API_PM_GetPowerLevel(2, &level, &voltage), API_ERR_NO_BATTERY);
    EXPECT_EQ(voltage, 0.0f);
    EXPECT_FLOAT_EQ(level, 100.0f);

    int before = pmu.RequestCount();
    EXPECT_EQ(API_PM_GetPowerLevel(5, &level, &voltage), 0);
    EXPECT_EQ(pmu.RequestCount(), before);
    pmu.FailCommand(0x83, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &voltage), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
}

TEST_F(PmuTest, ChargeStatusByType)
{
    struct Case {
        uint8_t first, second;
        int type, result, status;
    } cases[] = {
        {1, 0, 0, 0, 1}, {0, 1, 0, API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY, -1},
        {0, 1, 1, 0, 1}, {1, 0, 1, API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY, -1},
        {1, 1, 2, 0, 0}, {0, 1, 2, 0, 2}, {0, 2, 2, 0, 3},
        {1, 1, 7, 0, 4}, {0, 0, -1, 0, 4},
    };
    for (const Case &c : cases) {
        pmu.SetChargeIndicators(c.first, c.second);
        pmu.Log().Clear();
        int status = -1;
        EXPECT_EQ(API_PM_GetChargeStatus(c.type, &status), c.result) << "type " << c.type;
        EXPECT_EQ(status, c.status) << "type " << c.type;
        EXPECT_EQ(Requests(), (std::vector<std::string>{"02 8C 00 8E", "02 8D 00 8F"}));
    }
}

TEST_F(PmuTest, PowerSourceOutsideTheThreeIsNine)
{
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

TEST_F(PmuTest, RestartReopensTheDeviceWithoutLeakOrSecondTask)
{
    int tasks = ThreadCount();
    EXPECT_EQ(API_PM_Initialize(), 0);
    EXPECT_EQ(ThreadCount(), tasks);
    int open = 0;
    for (const auto &[fd, path] : receiver.OpenDescriptors())
        open += path == "/dev/pmu";
    EXPECT_EQ(open, 1);
}

// Collects what the power-event callback saw.
struct EventSink {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> statuses;
    pthread_t thread{};

    bool WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return statuses.size() >= count; });
    }
};
EventSink g_sink;

void RecordEvent(int status)
{
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    g_sink.statuses.push_back(status);
    g_sink.thread = pthread_self();
    g_sink.changed.notify_all();
}

class PowerEventTest : public PmuTest {
protected:
    void SetUp() override
    {
        PmuTest::SetUp();
        ASSERT_EQ(API_Signal_Initialize(), 0);
        std::lock_guard<std::mutex> lock(g_sink.mutex);
        g_sink.statuses.clear();
    }
    void TearDown() override
    {
        API_Signal_Cleanup();
        PmuTest::TearDown();
    }
};

TEST_F(PowerEventTest, DriverSignalReachesTheCallbackOnThePowerTask)
{
    EXPECT_EQ(API_PM_StatusCallback(RecordEvent), 0);
    EXPECT_EQ(API_PM_StatusCallback(nullptr), API_ERR_PMU_CALL_BACK_SET_NULL);
    pmu.SetEventStatus(0x3412);
    board.gpio->RaiseEvents(0x40);
    ASSERT_TRUE(g_sink.WaitFor(1));
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    EXPECT_EQ(g_sink.statuses, std::vector<int>{0x3412});
    EXPECT_FALSE(pthread_equal(g_sink.thread, pthread_self()));
    EXPECT_EQ(Requests(), (std::vector<std::string>{"02 7F 00 7D", "02 74 00 76"}));
}

TEST_F(PowerEventTest, FailedStatusReadDropsThatEventOnly)
{
    ASSERT_EQ(API_PM_StatusCallback(RecordEvent), 0);
    pmu.SetEventStatus(0x0201);
    pmu.FailCommand(0x74, sim::PmuFault::WrongEcho);
    board.gpio->RaiseEvents(0x40);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (pmu.RequestCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    pmu.ClearFaults();
    pmu.SetEventStatus(0x0003);
    // Other event bits in the same word leave the power event alone.
    board.gpio->RaiseEvents(0x40 | 0x08);
    ASSERT_TRUE(g_sink.WaitFor(1));
    std::lock_guard<std::mutex> lock(g_sink.mutex);
    EXPECT_EQ(g_sink.statuses, std::vector<int>{0x0003});
}

}  // namespace
