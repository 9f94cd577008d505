// The load against every fault switch of the simulated radio, alone and in
// random combinations, checked against what must hold whatever the radio does:
// exit status 0 only for an image the radio verified, 1 only when the port
// was never opened, 255 for every other failure; once the port was opened the
// power-off sequence ran exactly once and left the radio off; no crash, no
// hang.
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace faults {
namespace {

const char kImage[] = "/mnt/usbdisk/adl_fw.bin";
const char kOffMarker[] = "POWER PDL OFF - begin";
const char kOnMarker[] = "POWER PDL ON - begin";
const char kPmuRadioOff[] = "02 C2 00 C0";
const char kPmuRadioOn[] = "02 C3 00 C1";
// Most of a run is waiting on sleeps and serial time-outs, so many share the cores.
const int kParallel = 12;

const char *const kFaults[] = {"refuse", "wrong-code", "short",       "garble", "extra",
                               "drop",   "delay",      "fail-reopen", "stop"};
const char *const kCommands[] = {"model",      "version",     "hard-reset",     "poc",
                                 "createfile", "setbaudrate", "writefileblock", "reset"};

size_t Count(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The sim's defaults for every run: small sleeps, a 6-block image.
std::vector<std::string> Sim(std::vector<std::string> extra, bool withImage = true)
{
    std::vector<std::string> arguments{"--time-scale", "0.02"};
    if (withImage)
        arguments.insert(arguments.end(), {"--image-size", "1300"});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

std::vector<std::string> Loader(const char *port = "D") { return {kImage, port, "38400"}; }

void ExpectInvariants(const SimProcess &run, bool internalRadio = true)
{
    SCOPED_TRACE(run.CommandLine() + "\n--- stdout:\n" + run.out + "--- stderr:\n" + run.err);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.hung) << "no end within " << run.deadlineSeconds << " s";
    ASSERT_EQ(run.signal, 0) << "ended by signal " << run.signal;
    ASSERT_TRUE(run.status == 0 || run.status == 1 || run.status == 255) << "status " << run.status;

    if (run.status == 0) {
        EXPECT_NE(run.report.find("radio: image verified"), std::string::npos) << "success without a verified image";
    }

    const bool opened = run.report.find("port /dev/ttyS5: opened") != std::string::npos ||
                        run.report.find("port /dev/ttyS4: opened") != std::string::npos;
    EXPECT_EQ(run.status == 1, !opened) << "status 1 is for refusals before the port is opened, and only them";

    std::vector<std::string> pmu = run.LogLines("pmu");
    size_t radioOff = 0, radioOn = 0, lastOff = 0, lastOn = 0;
    for (size_t i = 0; i < pmu.size(); ++i) {
        if (pmu[i] == kPmuRadioOff) {
            ++radioOff;
            lastOff = i + 1;
        }
        if (pmu[i] == kPmuRadioOn) {
            ++radioOn;
            lastOn = i + 1;
        }
    }
    size_t offMarkers = Count(run.out, kOffMarker);
    size_t onMarkers = Count(run.out, kOnMarker);
    if (!opened) {
        EXPECT_EQ(offMarkers, 0u);
        EXPECT_EQ(radioOff, 0u);
        return;
    }
    // Every switch-on (the start, each power cycle of the bootloader entry) is
    // matched by one switch-off: the final power-off ran once, after the last on.
    EXPECT_EQ(offMarkers, onMarkers);
    EXPECT_EQ(radioOff, radioOn);
    EXPECT_GE(lastOff, lastOn);
    if (internalRadio) {
        EXPECT_GE(offMarkers, 1u);
        EXPECT_GT(run.out.rfind(kOffMarker), run.out.rfind(kOnMarker));
    }
    // The API was shut down: lock file gone, GPIO driver closed at most once.
    EXPECT_FALSE(run.SandboxHas("/var/ts9.pid"));
    size_t gpioCloses = 0;
    for (const std::string &line : run.LogLines("gpio"))
        gpioCloses += line == "close";
    EXPECT_LE(gpioCloses, 1u);
}

struct Batch {
    std::vector<std::unique_ptr<SimProcess>> runs;
    SimProcess &Add(std::vector<std::string> sim, std::vector<std::string> loader = Loader())
    {
        runs.push_back(std::make_unique<SimProcess>(std::move(sim), std::move(loader)));
        return *runs.back();
    }
    void RunAndCheck(bool internalRadio = true)
    {
        std::vector<SimProcess *> all;
        for (auto &run : runs)
            all.push_back(run.get());
        RunAll(all, kParallel);
        for (auto &run : runs)
            ExpectInvariants(*run, internalRadio);
    }
};

std::string Rule(const std::string &fault, const std::string &command, const std::string &which)
{
    std::string rule = fault + ":" + command;
    if (fault == "delay")
        return rule + ":" + (which.empty() ? "*" : which) + ":300";
    return which.empty() ? rule : rule + ":" + which;
}

// The occurrence a single-shot fault hits: the second block, the raise to
// 115200 bit/s, the first of the other frames.
std::string FirstOccurrence(const std::string &command)
{
    if (command == "writefileblock")
        return "2";
    if (command == "setbaudrate")
        return "115200";
    return "1";
}

TEST(LoadFaults, EachFaultOnceForEachCommand)
{
    Batch batch;
    for (const char *fault : kFaults)
        for (const char *command : kCommands)
            batch.Add(Sim({"--radio-fault", Rule(fault, command, FirstOccurrence(command))}));
    batch.RunAndCheck();
}

TEST(LoadFaults, EachFaultOnEveryFrameOfEachCommand)
{
    Batch batch;
    for (const char *fault : kFaults)
        for (const char *command : kCommands)
            batch.Add(Sim({"--radio-fault", Rule(fault, command, "")}));
    // The way back to 9600 bit/s, which only the bit rate selects.
    for (const char *fault : kFaults)
        batch.Add(Sim({"--radio-fault", Rule(fault, "setbaudrate", "9600")}));
    batch.RunAndCheck();
}

TEST(LoadFaults, RadioAndReceiverSwitches)
{
    Batch batch;
    const std::vector<std::vector<std::string>> switches = {
        {},
        {"--radio-silent"},
        {"--radio-model", "5"},
        {"--radio-version-answer", "01 33"},
        {"--radio-version-answer", "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"},
        {"--radio-escape-reply", "OK\r\n"},
        {"--radio-no-firmware"},
        {"--radio-ignore-poc", "3"},
        // The last of the 100 attempts, and one too many.
        {"--radio-ignore-poc", "99"},
        {"--radio-ignore-poc", "100"},
        {"--radio-pacing"},
        {"--radio-program-ms", "40"},
        {"--radio-speed", "9600"},
        {"--radio-speed", "any"},
        {"--bootloader-image"},
        {"--fail-open", "/dev/ttyS5"},
        {"--fail-open", "/dev/gpio"},
        {"--fail-open", "/dev/extender"},
        {"--fail-open", "/dev/mtd3"},
        {"--fail-open", "/dev/pmu"},
        {"--fail-open", kImage},
    };
    for (const auto &extra : switches)
        batch.Add(Sim(extra));
    // Images refused before the port is opened: none, empty, one byte.
    batch.Add(Sim({}, false));
    batch.Add(Sim({"--image-size", "0"}, false));
    batch.Add(Sim({"--image-size", "1"}, false));
    batch.RunAndCheck();
}

TEST(LoadFaults, ExternalRadioPortWithFaults)
{
    Batch batch;
    for (const char *fault : {"refuse", "garble", "fail-reopen", "stop"})
        for (const char *command : {"poc", "createfile", "writefileblock"})
            batch.Add(Sim({"--radio-fault", Rule(fault, command, FirstOccurrence(command))}), Loader("A"));
    batch.Add(Sim({"--fail-open", "/dev/ttyS4"}), Loader("A"));
    batch.RunAndCheck(false);
}

// Combinations drawn with a fixed seed: the same runs every time.
TEST(LoadFaults, RandomCombinations)
{
    std::mt19937 random(20240611);
    auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
    const std::vector<std::vector<std::string>> switches = {
        {"--radio-model", "5"}, {"--radio-no-firmware"}, {"--radio-ignore-poc", "2"},
        {"--radio-escape-reply", "+++"}, {"--radio-program-ms", "5"}, {"--bootloader-image"},
        {"--radio-speed", "any"},
    };
    Batch batch;
    for (int i = 0; i < 40; ++i) {
        std::vector<std::string> extra;
        size_t rules = 1 + pick(3);
        for (size_t r = 0; r < rules; ++r) {
            std::string command = kCommands[pick(std::size(kCommands))];
            std::string which = pick(3) == 0 ? "" : command == "writefileblock" ? std::to_string(1 + pick(6))
                                                  : command == "setbaudrate"    ? (pick(2) ? "115200" : "9600")
                                                                                : std::to_string(1 + pick(3));
            extra.insert(extra.end(), {"--radio-fault", Rule(kFaults[pick(std::size(kFaults))], command, which)});
        }
        if (pick(2) == 0) {
            const auto &chosen = switches[pick(switches.size())];
            extra.insert(extra.end(), chosen.begin(), chosen.end());
        }
        batch.Add(Sim(extra));
    }
    batch.RunAndCheck();
}

}  // namespace
}  // namespace faults
