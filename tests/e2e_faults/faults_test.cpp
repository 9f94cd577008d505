// The load against the simulated radio's and receiver's faults, alone and in
// random combinations, checked for what must hold whatever the radio does:
// exit status 0 only for an image the radio verified, 1 only when the port
// was never opened, 255 for every other failure; once the port was opened
// the power-off ran exactly once and left the radio off, the API was shut
// down and no descriptor was left open; no crash, no hang, no leak.  Each
// fault alone ends with its own status: one the load can get over, with a
// verified image.
#include <stdlib.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

using simproc::Count;
using simproc::SimRun;

#if defined(__SANITIZE_ADDRESS__)
// The children are sanitizer builds too: their leak check runs whatever the
// environment the suite was started with says.
[[maybe_unused]] const bool kLeakCheckInChildren = [] {
    const char *options = getenv("ASAN_OPTIONS");
    std::string value = options && *options ? std::string(options) + ":" : std::string();
    return setenv("ASAN_OPTIONS", (value + "detect_leaks=1").c_str(), 1) == 0;
}();
#endif

void ExpectInvariants(const SimRun &run, bool internalRadio)
{
    SCOPED_TRACE(run.CommandLine() + "\n--- stdout:\n" + run.out + "--- stderr:\n" + run.err);
    ASSERT_EQ(run.signal, 0) << "9: killed after " << run.timeoutSeconds << " s without an end";
    ASSERT_TRUE(run.status == 0 || run.status == 1 || run.status == 255) << "status " << run.status;
    EXPECT_EQ(run.err.find("LeakSanitizer"), std::string::npos);
    EXPECT_TRUE(run.status != 0 || run.err.find("radio: image verified") != std::string::npos)
        << "success without a verified image";
    const bool opened = run.report.find("port /dev/ttyS5: opened") != std::string::npos ||
                        run.report.find("port /dev/ttyS4: opened") != std::string::npos;
    EXPECT_EQ(run.status == 1, !opened) << "status 1 is for refusals before the port is opened, and only them";
    if (!opened) {
        EXPECT_EQ(Count(run.out, "POWER PDL OFF"), 0u);
        return;
    }
    if (internalRadio) {
        // Every switch-on (the start, each power cycle of the bootloader
        // entry) is matched by one switch-off, the last one at the end.
        EXPECT_EQ(Count(run.out, "POWER PDL OFF"), Count(run.out, "POWER PDL ON"));
        EXPECT_GT(run.out.rfind("POWER PDL OFF"), run.out.rfind("POWER PDL ON"));
        std::vector<std::string> pmu = run.LogLines("pmu");
        auto last = [&pmu](const char *line) { return std::find(pmu.rbegin(), pmu.rend(), line) - pmu.rbegin(); };
        EXPECT_EQ(std::count(pmu.begin(), pmu.end(), "02 C2 00 C0"), std::count(pmu.begin(), pmu.end(), "02 C3 00 C1"));
        EXPECT_LE(last("02 C2 00 C0"), last("02 C3 00 C1"));
    } else {
        EXPECT_EQ(run.out.find("POWER PDL"), std::string::npos);
    }
    EXPECT_EQ(run.SandboxFile("/var/ts9.pid"), "") << "the API is shut down";
    EXPECT_NE(run.err.find("sim: open descriptors: none\n"), std::string::npos);
}

// One run: the simulator's switches and the exit status it must end with
// (kAny: whatever the invariants allow).
const int kAny = -1;
struct Case {
    int status;
    std::vector<std::string> sim;
};

void RunAndCheck(const std::vector<Case> &cases, std::vector<std::string> loader = {}, bool internalRadio = true,
                 const char *timeScale = "0.02")
{
    std::vector<std::unique_ptr<SimRun>> runs;
    std::vector<SimRun *> all;
    for (const Case &c : cases) {
        // The last --image-size counts.
        std::vector<std::string> sim{"--time-scale", timeScale, "--image-size", "1300"};
        sim.insert(sim.end(), c.sim.begin(), c.sim.end());
        runs.push_back(std::make_unique<SimRun>(sim, loader));
        all.push_back(runs.back().get());
    }
    // Most of a run is waiting on sleeps and serial time-outs.
    simproc::Run(all, 8);
    for (size_t i = 0; i < runs.size(); ++i) {
        ExpectInvariants(*runs[i], internalRadio);
        EXPECT_TRUE(cases[i].status == kAny || runs[i]->status == cases[i].status)
            << runs[i]->CommandLine() << ": status " << runs[i]->status << ", " << cases[i].status << " expected\n"
            << runs[i]->out << runs[i]->err;
    }
}

// Each switch alone: a fault the load gets over must still end in a verified
// image.  A tenth of real time leaves the escape's guards the margin a loaded
// machine needs (eight runs share it); the receive time-outs are real time.
TEST(LoadFaults, RadioAndReceiverSwitches)
{
    RunAndCheck({{0, {}},
                 {255, {"--radio-silent"}},
                 {0, {"--radio-version-answer", "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"}},
                 {0, {"--radio-ignore-poc", "99"}},
                 {255, {"--radio-ignore-poc", "100"}},
                 {0, {"--radio-pacing", "--radio-program-ms", "40"}},
                 {0, {"--radio-speed", "9600", "--time-scale", "1"}},  // the boot window after a power cycle: 3 s
                 {0, {"--fail-open", "/dev/gpio"}},
                 {0, {"--fail-open", "/dev/extender"}},
                 {0, {"--fail-open", "/dev/mtd3"}},
                 {255, {"--fail-open", "/dev/pmu"}},
                 {255, {"--radio-fault", "delay:createfile:1:3000"}},  // far past its 200 ms, however loaded
                 {0, {"--radio-fault", "delay:writefileblock:2:300"}},
                 {255, {"--radio-fault", "stop:createfile:1"}},
                 {1, {"--image-size", "1"}}},  // no application image: refused before the port
                {}, true, "0.1");
    RunAndCheck({{255, {"--radio-fault", "refuse:poc"}},
                 {255, {"--radio-fault", "garble:createfile"}},
                 {255, {"--radio-fault", "fail-reopen:writefileblock:2"}},
                 {255, {"--fail-open", "/dev/ttyS4"}}},
                {"/mnt/usbdisk/adl_fw.bin", "A"}, false, "0.1");
}

// Combinations drawn with a fixed seed: the same runs every time.
TEST(LoadFaults, RandomCombinations)
{
    const char *const faults[] = {"refuse",  "wrong-code", "short", "garble",      "extra",
                                  "bad-etx", "drop",       "delay", "fail-reopen", "stop"};
    const char *const commands[] = {"model",      "version",     "hard-reset",     "poc",
                                    "createfile", "setbaudrate", "writefileblock", "reset"};
    const std::vector<std::vector<std::string>> switches = {
        {"--radio-model", "5"},          {"--radio-no-firmware"}, {"--radio-ignore-poc", "2"},
        {"--radio-escape-reply", "+++"}, {"--bootloader-image"},  {"--radio-speed", "any"}};
    std::mt19937 random(20240611);
    auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
    std::vector<Case> sims;
    for (int i = 0; i < 40; ++i) {
        std::vector<std::string> extra;
        for (size_t rules = 1 + pick(3); rules > 0; --rules) {
            std::string fault = faults[pick(std::size(faults))], command = commands[pick(std::size(commands))];
            std::string which = command == "writefileblock" ? std::to_string(1 + pick(6))
                                : command == "setbaudrate"  ? (pick(2) ? "115200" : "9600")
                                                            : std::to_string(1 + pick(3));
            std::string rule = fault + ":" + command + ":" + (pick(3) == 0 ? "*" : which);
            extra.insert(extra.end(), {"--radio-fault", fault == "delay" ? rule + ":300" : rule});
        }
        if (pick(2) == 0) {
            const std::vector<std::string> &chosen = switches[pick(switches.size())];
            extra.insert(extra.end(), chosen.begin(), chosen.end());
        }
        sims.push_back({kAny, extra});
    }
    RunAndCheck(sims);
}

}  // namespace
