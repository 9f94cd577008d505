// The bench's actions, in-process on the standard board: how long from the
// request (Control::Perform) to the application's callback, through the
// paths the hardware would take: the PMU's event with SIGUSR2 and the power
// task's two PMU exchanges (each after the API's own 20 ms pause, 1 ms at
// this time scale); the Ethernet marker with SIGIO; a Bluetooth link over
// the module's pseudo-terminal and the Bluetooth task.  And what an action
// costs its caller.
#include <time.h>

#include <atomic>
#include <memory>
#include <thread>

#include <benchmark/benchmark.h>

#include "API.h"
#include "sim/gsm_services.h"
#include "sim/standard_board.h"
#include "sim_control.h"
#include "sim_timeline.h"

namespace {

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Set by the callbacks, some in signal handlers: atomics only.
std::atomic<long long> g_calledAt{0};
std::atomic<int> g_calls{0};
void Called()
{
    g_calledAt = NowNs();
    g_calls.fetch_add(1);
}

// One receiver for every benchmark, at 5 % of real time (the Bluetooth
// module's start-up and its restarts are waits of the receiver's time).
struct Bench {
    Bench()
    {
        receiver = std::make_unique<sim::Receiver>(Options());
        board = std::make_unique<sim::StandardBoard>(*receiver);
        gsm = std::make_unique<sim::GsmServices>(*board->gsm);
        control = std::make_unique<simsession::Control>(simsession::BenchParts{*board, *gsm, timeline});
    }
    static sim::ReceiverOptions Options()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.05;
        options.recordSleeps = false;
        return options;
    }
    simsession::Timeline timeline{0.05};
    std::unique_ptr<sim::Receiver> receiver;
    std::unique_ptr<sim::StandardBoard> board;
    std::unique_ptr<sim::GsmServices> gsm;
    std::unique_ptr<simsession::Control> control;
};

Bench &TheBench()
{
    static Bench *bench = [] {
        auto *made = new Bench;
        API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_NOR |
                       API_INIT_BLUETOOTH | API_INIT_POWER_EVENTS | API_INIT_NO_AUTOSTART);
        API_PM_StatusCallback([](int) { Called(); });
        API_ETH_Init([](int) { return Called(), 0; });
        API_Bluetooth_ConnectedCallback(Called);
        return made;
    }();
    return *bench;
}

// Performs each action in turn and times the first callback after it.
void Latency(benchmark::State &state, std::vector<const char *> actions, bool (*settled)())
{
    simsession::Control &control = *TheBench().control;
    size_t next = 0;
    double receiverMs = 0;
    for (auto _ : state) {
        const char *action = actions[next++ % actions.size()];
        int before = g_calls.load();
        long long start = NowNs();
        if (!control.Perform(action).done) {
            // A run before this one left the state the other way round.
            action = actions[next++ % actions.size()];
            start = NowNs();
            if (!control.Perform(action).done) {
                state.SkipWithError(action);
                return;
            }
        }
        long long deadline = start + 5000000000LL;
        while (g_calls.load() == before && NowNs() < deadline)
            std::this_thread::yield();
        if (g_calls.load() == before) {
            state.SkipWithError("no callback");
            return;
        }
        double seconds = static_cast<double>(g_calledAt.load() - start) / 1e9;
        state.SetIterationTime(seconds);
        receiverMs += seconds * 1000 / TheBench().timeline.TimeScale();
        // The link's end has no callback: wait until the unit has seen it.
        while (settled && !settled())
            std::this_thread::yield();
    }
    state.counters["receiver_ms"] = receiverMs / static_cast<double>(state.iterations());
}

BENCHMARK_CAPTURE(Latency, PowerEvent, std::vector<const char *>{"power-event=0x0012"}, nullptr)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Latency, Ethernet, std::vector<const char *>{"ethernet=up", "ethernet=down"}, nullptr)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(
    Latency, BluetoothLink, std::vector<const char *>{"bt-link=open"},
    +[] {
        if (API_Bluetooth_CheckCnxStatus() == 1)
            TheBench().control->Perform("bt-link=close");
        return API_Bluetooth_CheckCnxStatus() == 0 && !TheBench().board->bluetooth->LinkUp();
    })
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

// What carrying out an action costs the caller: a button press, whose
// effect is the driver's state the next poll reads.
void PerformPress(benchmark::State &state)
{
    simsession::Control &control = *TheBench().control;
    for (auto _ : state)
        benchmark::DoNotOptimize(control.Perform("press=record"));
}
BENCHMARK(PerformPress);

}  // namespace
