// The units with tasks and signal handlers used from several threads at once:
// power events handled by the power-management task while other threads talk
// to the PMU and draw.
// Under ThreadSanitizer (preset tsan) these show any state that a task, a
// handler and a caller share without an atomic or the unit's lock.
#include <future>
#include <thread>

#include "API.h"
#include "sim_test.h"
#include "threads.h"

namespace {

using namespace std::chrono_literals;

std::atomic<int> g_powerEvents{0}, g_wrongStatus{0};
void CountPowerEvent(int status) { g_wrongStatus += status != 0x0102, ++g_powerEvents; }

class Concurrency : public simtest::SimTest {
protected:
    Concurrency() : SimTest(0)
    {
        board.pmu->SetEventStatus(0x0102);
        g_powerEvents = 0, g_wrongStatus = 0;
    }
};

TEST_F(Concurrency, PowerEventsWhileOtherThreadsUseThePmuAndTheDisplay)
{
    // What the loader starts, without the Bluetooth module.
    ASSERT_EQ(API_Initialize(0x2D7E7 & ~API_INIT_BLUETOOTH), 0);
    ASSERT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
    // One event at a time, each served before the next is raised: every one
    // is served exactly once, whatever the other threads hold.
    const int kEvents = 200;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 1; i <= kEvents; ++i) {
            board.gpio->RaiseEvents(API_EVENT_POWER | API_EVENT_USB_CONNECTED | API_EVENT_USB_DISCONNECTED);
            board.gpio->RaiseSigio();
            if (!simtest::Eventually([&] { return g_powerEvents.load() >= i; }, 10000)) {
                ADD_FAILURE() << "event " << i << " was never served";
                break;
            }
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
    API_Finalize();
    EXPECT_EQ(g_powerEvents.load(), kEvents);
    EXPECT_EQ(g_wrongStatus.load(), 0);
    EXPECT_EQ(board.pmu->Overlaps(), 0) << "every exchange had the bus to itself";
}

// The task may still be serving the last event while the API shuts down;
// nothing it does afterwards may reach the PMU, up to its end.
TEST_F(Concurrency, ShutDownWhileThePowerTaskServesAnEvent)
{
    const std::set<std::string> before = ThreadIds();
    ASSERT_EQ(API_Initialize(API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM), 0);
    ASSERT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
    for (int i = 0; i < 20; ++i)
        board.gpio->RaiseEvents(API_EVENT_POWER);
    API_Finalize();
    int requests = board.pmu->RequestCount();
    EXPECT_TRUE(simtest::Eventually([&] { return NoneNew(before); })) << "the task outlived the shut-down";
    EXPECT_EQ(board.pmu->RequestCount(), requests);
}

// The callback runs on the power task and may wait for the very thread that
// shuts down: the shut-down waits a short while, then leaves the task behind.
// A restart meanwhile is served by a task of its own, and the one left behind
// ends when its callback returns, without another exchange or call.
std::atomic<bool> g_release{false};
std::atomic<int> g_held{0};
std::atomic<long> g_holder{0};
void HoldUntilReleased(int)
{
    g_holder = ThreadId();
    ++g_held;
    while (!g_release)
        std::this_thread::sleep_for(1ms);
}

TEST_F(Concurrency, ShutDownLeavesACallbackBehindThatWaitsForIt)
{
    const int units = API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM;
    g_powerEvents = 0;
    ASSERT_EQ(API_Initialize(units), 0);
    // Twice: the task left behind in the first round has ended by the second.
    for (int round = 1; round <= 2; ++round) {
        g_release = false;
        ASSERT_EQ(API_PM_StatusCallback(HoldUntilReleased), 0);
        board.gpio->RaiseEvents(API_EVENT_POWER);
        ASSERT_TRUE(simtest::Eventually([&] { return g_held == round; }));
        auto finalized = std::async(std::launch::async, API_Finalize);
        const bool returned = finalized.wait_for(10s) == std::future_status::ready;
        EXPECT_TRUE(returned) << "waited for the callback";
        if (returned) {
            EXPECT_EQ(API_Initialize(units), 0);
            EXPECT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
            board.gpio->RaiseEvents(API_EVENT_POWER);
            EXPECT_TRUE(simtest::Eventually([&] { return g_powerEvents == round; }));
        }
        // Other threads (the finalizer's) may end meanwhile: watch the holder itself.
        const std::string holder = std::to_string(g_holder.load());
        const int requests = board.pmu->RequestCount();
        g_release = true;
        EXPECT_TRUE(simtest::Eventually([&] { return ThreadIds().count(holder) == 0; }))
            << "the task left behind ended";
        EXPECT_EQ((std::vector<int>{board.pmu->RequestCount() - requests, g_powerEvents, g_held}),
                  (std::vector<int>{0, round, round}));
    }
    API_Finalize();
}

}  // namespace
