// Applications on the simulated receiver: how long orva-sim takes from its
// start to the program's main, and what an API call costs through the
// simulated liborva_api.so against the Linux one (both loaded side by side).
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Starts the command; returns the probe's time of main and the whole run's
// end, both from the start.
bool TimeRun(const std::vector<const char *> &command, double *toMainMs, double *wholeMs)
{
    int out[2];
    if (pipe(out) != 0)
        return false;
    long long started = NowNs();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const char *argument : command)
            argv.push_back(const_cast<char *>(argument));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char text[64] = {0};
    ssize_t length = read(out[0], text, sizeof text - 1);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long ended = NowNs();
    if (length <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    *toMainMs = static_cast<double>(atoll(text) - started) / 1e6;
    *wholeMs = static_cast<double>(ended - started) / 1e6;
    return true;
}

void TimeToMain(benchmark::State &state, std::vector<const char *> command)
{
    double toMain = 0, whole = 0, sumWhole = 0;
    for (auto _ : state) {
        if (!TimeRun(command, &toMain, &whole)) {
            state.SkipWithError("the probe did not run");
            return;
        }
        state.SetIterationTime(toMain / 1000);
        sumWhole += whole;
    }
    state.counters["whole_run_ms"] = sumWhole / static_cast<double>(state.iterations());
}
// orva-sim's start to main: its own start, the simulated library's loading and
// the receiver's bring-up (sandbox, device models, peers on pseudo-terminals).
BENCHMARK_CAPTURE(TimeToMain, OrvaSim, std::vector<const char *>{ORVA_SIM, "--", MAIN_PROBE})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);
// The same program on the Linux library, started directly: the floor.
BENCHMARK_CAPTURE(TimeToMain, Direct, std::vector<const char *>{MAIN_PROBE})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

// The two libraries in one process, each with its own symbols.
struct Library {
    explicit Library(const char *path)
    {
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            fprintf(stderr, "%s\n", dlerror());
            abort();
        }
    }
    template <typename Function>
    Function *Get(const char *name)
    {
        return reinterpret_cast<Function *>(dlsym(handle, name));
    }
    void *handle;
};

Library &Linux()
{
    static Library library(LINUX_LIBRARY);
    return library;
}

Library &Simulated()
{
    static Library library(SIMULATED_LIBRARY);
    return library;
}

// No device at all: the same code in both, so the same cost.
void ErrorText(benchmark::State &state, Library &(*library)())
{
    auto *text = library().Get<int(int, char *)>("API_Errors_GetErrorText");
    char buffer[64];
    for (auto _ : state)
        benchmark::DoNotOptimize(text(41, buffer));
}
BENCHMARK_CAPTURE(ErrorText, Linux, Linux);
BENCHMARK_CAPTURE(ErrorText, Simulated, Simulated);

// One presence test through the board ("/var/netlink", absent): a stat() on
// the Linux board, the sandbox's path and a stat() on the simulated one.
void EthernetInit(benchmark::State &state, Library &(*library)())
{
    auto *init = library().Get<int(void *)>("API_ETH_Init");
    for (auto _ : state)
        benchmark::DoNotOptimize(init(nullptr));
}
BENCHMARK_CAPTURE(EthernetInit, Linux, Linux);
BENCHMARK_CAPTURE(EthernetInit, Simulated, Simulated);

// A 16-byte NOR read on the simulated flash (the Linux one would need the
// receiver's "/dev/mtd3").
void NorRead(benchmark::State &state)
{
    Library &library = Simulated();
    if (library.Get<int()>("API_NOR_Init")() != 0) {
        state.SkipWithError("no NOR");
        return;
    }
    auto *read = library.Get<int(unsigned, void *, int, int *)>("API_Flash_ReadData");
    char buffer[16];
    int count = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(read(0x39000, buffer, sizeof buffer, &count));
}
BENCHMARK(NorRead);

}  // namespace
