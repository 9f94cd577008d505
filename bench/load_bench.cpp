// Complete loads through orvaflash-sim, each one a child process:
//   - 1 MiB in real time against a radio that answers at once: the host's
//     overhead per block;
//   - 256 KiB in real time against a radio that paces every byte at the line's
//     speed: the run against its ideal (fixed waits + line time of every frame
//     and answer), which it must come within 2 % of;
//   - the peak resident memory of a 16 MiB load against a small one.
#include <stdlib.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "sim_process.h"

namespace {

// The loader waits two idle reads of 0.1 s after each of its three queries in
// command mode (it asks for up to 256 bytes and gets 4 or 9).
constexpr double kQueryIdleMs = 3 * 200.0;

struct Child {
    int status = -1;
    double wallMs = 0;
    rusage usage{};
    std::string err;
};

Child RunSim(std::vector<std::string> arguments)
{
    simproc::SimRun run(std::move(arguments), {});
    run.timeoutSeconds = 3600;
    simproc::Run(run);
    return {run.status, run.wallMs, run.usage, run.err};
}

// A number that follows `label` in the sim's report.
double Field(const std::string &text, const std::string &label)
{
    size_t at = text.find(label);
    return at == std::string::npos ? -1 : atof(text.c_str() + at + label.size());
}

struct Timing {
    double sleepsMs, rxMs, txMs, programMs, downloadMs;
};

Timing TimingOf(const Child &child)
{
    return {Field(child.err, "requested, ") /* "N requested, S ms" */, Field(child.err, "line time: received "),
            Field(child.err, "ms, sent "), Field(child.err, "programming "), Field(child.err, "download ")};
}

bool Verified(const Child &child) { return child.status == 0 && child.err.find("image verified") != std::string::npos; }

void BM_Load1MiBInstantRadio(benchmark::State &state)
{
    const double blocks = 4096;
    for (auto _ : state) {
        Child child = RunSim({"--time-scale", "1", "--image-size", "1048576", "--radio-discard"});
        if (!Verified(child)) {
            state.SkipWithError("the load failed");
            return;
        }
        Timing timing = TimingOf(child);
        state.SetIterationTime(child.wallMs / 1000);
        state.counters["wall_ms"] = child.wallMs;
        state.counters["fixed_waits_ms"] = timing.sleepsMs + kQueryIdleMs;
        state.counters["overhead_ms"] = child.wallMs - timing.sleepsMs - kQueryIdleMs;
        state.counters["download_ms"] = timing.downloadMs;
        state.counters["us_per_block"] = timing.downloadMs * 1000 / blocks;
    }
}
BENCHMARK(BM_Load1MiBInstantRadio)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Load256KiBPacedRadio(benchmark::State &state)
{
    for (auto _ : state) {
        Child child = RunSim({"--time-scale", "1", "--image-size", "262144", "--radio-pacing", "--radio-discard"});
        if (!Verified(child)) {
            state.SkipWithError("the load failed");
            return;
        }
        Timing timing = TimingOf(child);
        double ideal = timing.sleepsMs + kQueryIdleMs + timing.rxMs + timing.txMs + timing.programMs;
        state.SetIterationTime(child.wallMs / 1000);
        state.counters["wall_ms"] = child.wallMs;
        state.counters["ideal_ms"] = ideal;
        state.counters["line_ms"] = timing.rxMs + timing.txMs;
        state.counters["excess_pct"] = (child.wallMs / ideal - 1) * 100;
        if (child.wallMs > ideal * 1.02)
            state.SkipWithError("more than 2 % above the ideal");
    }
}
BENCHMARK(BM_Load256KiBPacedRadio)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PeakMemory16MiB(benchmark::State &state)
{
    const double imageBytes = 16776960;  // 65535 blocks, the largest image
    for (auto _ : state) {
        Child small = RunSim({"--time-scale", "0.01", "--image-size", "256", "--radio-discard"});
        Child large = RunSim({"--time-scale", "0.01", "--image-size", "16776960", "--radio-discard"});
        if (!Verified(small) || !Verified(large)) {
            state.SkipWithError("a load failed");
            return;
        }
        state.SetIterationTime(large.wallMs / 1000);
        double smallKiB = static_cast<double>(small.usage.ru_maxrss);
        double largeKiB = static_cast<double>(large.usage.ru_maxrss);
        state.counters["rss_small_MiB"] = smallKiB / 1024;
        state.counters["rss_16MiB_MiB"] = largeKiB / 1024;
        state.counters["growth_per_image_byte"] = (largeKiB - smallKiB) * 1024 / imageBytes;
    }
}
BENCHMARK(BM_PeakMemory16MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
