// The units with tasks and signal handlers used from several threads at once:
// power events handled by the power-management task while other threads talk
// to the PMU and draw.
// Under ThreadSanitizer (preset tsan) these show any state that a task, a
// handler and a caller share without an atomic or the unit's lock.
#include <thread>

#include "API.h"
#include "sim_test.h"
#include "threads.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_lastStatus{0}, g_wrongStatus{0};
void CountPowerEvent(int status) { g_wrongStatus += status != 0x0102 && status != 0x0203, g_lastStatus = status; }

class Concurrency : public simtest::SimTest {
protected:
    Concurrency() : SimTest(0) { board.pmu->SetEventStatus(0x0102); }
};

TEST_F(Concurrency, PowerEventsWhileOtherThreadsUseThePmuAndTheDisplay)
{
    // What the loader starts, without the Bluetooth module.
    ASSERT_EQ(API_Initialize(0x2D7E7 & ~API_INIT_BLUETOOTH), 0);
    ASSERT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i, std::this_thread::sleep_for(1ms)) {
            board.gpio->RaiseEvents(API_EVENT_POWER | API_EVENT_USB_CONNECTED | API_EVENT_USB_DISCONNECTED);
            board.gpio->RaiseSigio();
        }
        stop = true;
    });
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            float temperature = 0;
            EXPECT_EQ(API_PM_GetTemperature(&temperature), 0);
            EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(i & 1), 0);
        }
    });
    for (int i = 0; !stop; ++i) {
        int status = 0;
        API_PM_GetChargeStatus(2, &status);
        API_Extender_SetStatusGpio(1, 3, i & 1);
        API_Display_PrintText(i % 100, i % 50, 0, "12:30");
        API_Display_Update();
    }
    for (std::thread &thread : threads)
        thread.join();
    // The task came through: an event raised after all the others is served.
    board.pmu->SetEventStatus(0x0203);
    board.gpio->RaiseEvents(API_EVENT_POWER);
    EXPECT_TRUE(simtest::Eventually([] { return g_lastStatus == 0x0203; }));
    API_Finalize();
    EXPECT_EQ(g_wrongStatus.load(), 0);
    EXPECT_EQ(board.pmu->Overlaps(), 0) << "every exchange had the bus to itself";
}

// The task may still be serving the last event while the API shuts down;
// nothing it does afterwards may reach the PMU.
TEST_F(Concurrency, ShutDownWhileThePowerTaskServesAnEvent)
{
    const int threads = ThreadCount();
    ASSERT_EQ(API_Initialize(API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM), 0);
    ASSERT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
    for (int i = 0; i < 20; ++i)
        board.gpio->RaiseEvents(API_EVENT_POWER);
    API_Finalize();
    int requests = board.pmu->RequestCount();
    EXPECT_TRUE(simtest::Eventually([&] { return ThreadCount() == threads; })) << "the task outlived the shut-down";
    EXPECT_EQ(board.pmu->RequestCount(), requests);
}

}  // namespace
