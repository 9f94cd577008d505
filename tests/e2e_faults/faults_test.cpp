// The load against the simulated radio's faults.
//
// The fault matrix: every exchange of a load crossed with every way its answer
// can go wrong, and a failed opening of the port at each opening.  Each cell
// names the exit status and the console text it must produce; every cell also
// ran the power-off sequence exactly once, left no board descriptor open, and
// (in a sanitizer build) leaked nothing.
//
// Then the radio's and the receiver's other switches, alone and in random
// combinations, against what must hold whatever the radio does: exit status 0
// only for an image the radio verified, 1 only when the port was never
// opened, 255 for every other failure; once the port was opened the power-off
// sequence ran exactly once and left the radio off; no crash, no hang.
#include <stdlib.h>

#include <iostream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace faults {
namespace {

using simproc::Count;
using simproc::SimRun;

const char kImage[] = "/mnt/usbdisk/adl_fw.bin";
const char kOffMarker[] = "POWER PDL OFF - begin";
const char kOnMarker[] = "POWER PDL ON - begin";
const char kPmuRadioOff[] = "02 C2 00 C0";
const char kPmuRadioOn[] = "02 C3 00 C1";
// Most of a run is waiting on sleeps and serial time-outs, so many share the cores.
const int kParallel = 8;

#if defined(__SANITIZE_ADDRESS__)
// The children are sanitizer builds too: their leak check runs whatever the
// environment the suite was started with says.
[[maybe_unused]] const bool kLeakCheckInChildren = [] {
    const char *options = getenv("ASAN_OPTIONS");
    std::string value = options && *options ? std::string(options) + ":" : std::string();
    return setenv("ASAN_OPTIONS", (value + "detect_leaks=1").c_str(), 1) == 0;
}();
#endif

std::vector<std::string> Loader(const char *port = "D") { return {kImage, port, "38400"}; }

std::string Printable(const std::string &text)
{
    std::string shown;
    for (char c : text)
        shown += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return shown;
}

// ---- The matrix ---------------------------------------------------------

// Sleeps at half of real time: five times the margins of the other end-to-end
// runs around the escape and the radio's boot window. The radio's peer stamps
// bytes when it reads them, so on a loaded machine thinner margins let the
// escape and the boot window miss, and every cell must hold its exact text.
const char kMatrixTimeScale[] = "0.5";
// Six blocks: the middle one is block 3, the last one holds 20 image bytes.
const char kMatrixImageSize[] = "1300";

const char *const kAnswerFaults[] = {"drop", "refuse", "wrong-code", "short", "garble", "extra", "bad-etx"};
constexpr size_t kFaultCount = std::size(kAnswerFaults);

struct Cell {
    int status;
    std::string console;  // must appear on standard output as it stands
};

struct Row {
    const char *exchange;
    const char *rule;  // COMMAND[:WHICH] of the radio's fault rule
    Cell cells[kFaultCount];
};

const std::string kModelAnswered = "ADL Radio Detected\n";
const std::string kVersion = "Version of ADL Radio Detected V02.10(300)\n";
const std::string kHardResetAnswered = "Version of ADL Radio Detected V02.10(300)\nReset Hard Done\n";
const std::string kHardResetPassedOver = "Version of ADL Radio Detected V02.10(300)\nCOM-Port /dev/ttyS5 opened";
const std::string kSecondPoc = "9600\r\n..COM-Port";
const std::string kNoPoc = "9600\r\n" + std::string(100, '.') + "\nSwitch to POC failed (0)\n";
// An extra byte after the POC answer is the first byte of the CREATEFILE answer.
const std::string kShiftedCreateFile = "CREATEFILE failed: (8 of 8 expected) 00020B0001060012\n";
const std::string kDownloadOk = "\nEND of Download with return code 0\r\n";
const std::string kBlockRefused = "\nEND of Download with return code -1\r\nCOM-Port /dev/ttyS5 opened";
// An extra byte after a block's answer shifts the next answer: the next block
// is refused and the byte its answer leaves behind spoils SETBAUDRATE 9600.
const std::string kShiftedBlock = "\nEND of Download with return code -1\r\nSetBaudRate to 9600 is bad\n";
const std::string kBadLowering = kDownloadOk + "SetBaudRate to 9600 is bad\n";
const std::string kBadReset = "9600\r\nReset failed\n";

// The text of each cell follows the loader's receive: a query takes whatever
// comes within two idle reads, a bootloader answer is exactly 8 bytes and
// what follows it stays queued until the port is closed.
const Row kRows[] = {
    {"model query",
     "model",
     {{0, "Radio Model ID not received (0) or not ADL (0x00)\n"},
      {0, "Radio Model ID not received (0) or not ADL (0x00)\n"},
      {0, kModelAnswered},  // the command byte is not examined
      {0, "Radio Model ID not received (1) or not ADL (0x00)\n"},
      {0, "Radio Model ID not received (4) or not ADL (0xA2)\n"},
      {0, "Radio Model ID not received (5) or not ADL (0x07)\n"},
      {0, kModelAnswered}}},
    {"version query",
     "version",
     {{0, "Version of ADL Radio Detected V00.00(0)\n"},
      {0, "Version of ADL Radio Detected V00.00(0)\n"},
      {0, kVersion},
      {0, "Version of ADL Radio Detected V02.10(0)\n"},
      {0, "Version of ADL Radio Detected V42407.42415(42121)\n"},
      {0, kVersion},
      {0, kVersion}}},
    {"hard-reset query",
     "hard-reset",
     {{0, kHardResetPassedOver},
      {0, kHardResetPassedOver},
      {0, kHardResetAnswered},
      {0, kHardResetPassedOver},
      {0, kHardResetAnswered},
      {0, kHardResetPassedOver},
      {0, kHardResetAnswered}}},
    {"first POC",
     "poc:1",
     {{0, kSecondPoc},
      {0, kSecondPoc},
      {0, kSecondPoc},
      {0, kSecondPoc},
      {0, kSecondPoc},
      {255, kShiftedCreateFile},
      {0, kSecondPoc}}},
    {"every POC",
     "poc",
     {{255, kNoPoc}, {255, kNoPoc}, {255, kNoPoc}, {255, kNoPoc}, {255, kNoPoc}, {255, kShiftedCreateFile}, {255, kNoPoc}}},
    {"CREATEFILE",
     "createfile",
     {{255, "CREATEFILE failed: (0 of 8 expected) \n"},
      {255, "CREATEFILE failed: (8 of 8 expected) 020B000115002103\n"},
      {255, "CREATEFILE failed: (8 of 8 expected) 0207000106000E03\n"},
      {255, "CREATEFILE failed: (5 of 8 expected) 020B000106\n"},
      {255, "CREATEFILE failed: (8 of 8 expected) A7AEA5A4A3A5B7A6\n"},
      {255, "Switch ADL Radio to 115200 bauds failed : (8) 000207000106000E\n"},
      {255, "CREATEFILE failed: (8 of 8 expected) 020B0001060012FC\n"}}},
    {"SETBAUDRATE 115200",
     "setbaudrate:115200",
     {{255, "Switch ADL Radio to 115200 bauds failed : (0 of 8 expected) \n"},
      {255, "Switch ADL Radio to 115200 bauds failed : (8) 0207000115001D03\n"},
      {255, "Switch ADL Radio to 115200 bauds failed : (8) 020B000106001203\n"},
      {255, "Switch ADL Radio to 115200 bauds failed : (5 of 8 expected) 0207000106\n"},
      {255, "Switch ADL Radio to 115200 bauds failed : (8) A7A2A5A4A3A5ABA6\n"},
      {0, kDownloadOk},  // the closing of the port drops the extra byte
      {255, "Switch ADL Radio to 115200 bauds failed : (8) 0207000106000EFC\n"}}},
    {"first WRITEFILEBLOCK",
     "writefileblock:1",
     {{255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kShiftedBlock},
      {255, kBlockRefused}}},
    {"middle WRITEFILEBLOCK",
     "writefileblock:3",
     {{255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kShiftedBlock},
      {255, kBlockRefused}}},
    {"last WRITEFILEBLOCK",
     "writefileblock:6",
     {{255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBlockRefused},
      {255, kBadLowering},  // the download is complete; SETBAUDRATE 9600 gets the byte
      {255, kBlockRefused}}},
    {"SETBAUDRATE 9600",
     "setbaudrate:9600",
     {{255, kDownloadOk + "Bad response length to SetBaudRate at 9600 (0)\n"},
      {255, kBadLowering},
      {255, kBadLowering},
      {255, kDownloadOk + "Bad response length to SetBaudRate at 9600 (5)\n"},
      {255, kBadLowering},
      {0, kDownloadOk + "COM-Port /dev/ttyS5 opened"},
      {255, kBadLowering}}},
    {"RESET",
     "reset",
     {{255, "9600\r\nBad response length to Reset (0)\n"},
      {255, kBadReset},
      {255, kBadReset},
      {255, "9600\r\nBad response length to Reset (5)\n"},
      {255, kBadReset},
      {0, "9600\r\nPOWER PDL OFF - begin ... end\n"},
      {255, kBadReset}}},
};

struct PortFailure {
    const char *opening;
    std::vector<std::string> sim;
    Cell cell;
};

const std::string kCantOpen = "Can't open COM-Port /dev/ttyS5 !\n";
const std::string kPowerOff = "POWER PDL OFF - begin ... end\n";

const PortFailure kPortFailures[] = {
    {"first opening", {"--fail-open", "/dev/ttyS5"}, {255, kCantOpen + "Open Serial Port /dev/ttyS5 failed\n" + kPowerOff}},
    {"reopening at 9600 in the bootloader entry",
     {"--radio-fault", "fail-reopen:hard-reset"},
     {255, kCantOpen + "Open Serial Port at 9600 failed\n" + kPowerOff + "\nSwitch to POC failed (-1)\n"}},
    {"reopening at 115200 before the download",
     {"--radio-fault", "fail-reopen:setbaudrate:115200"},
     {255, kCantOpen + "Open Serial Port at 115200 failed\n" + kPowerOff}},
    {"reopening at 9600 before RESET",
     {"--radio-fault", "fail-reopen:setbaudrate:9600"},
     {255, kDownloadOk + kCantOpen + "Open Serial Port at 9600 failed\n" + kPowerOff}},
};

struct MatrixCell {
    std::string name;
    std::vector<std::string> sim;
    Cell expected;
};

std::vector<MatrixCell> Matrix()
{
    std::vector<MatrixCell> cells;
    auto add = [&cells](std::string name, std::vector<std::string> extra, const Cell &expected) {
        std::vector<std::string> sim{"--time-scale", kMatrixTimeScale, "--image-size", kMatrixImageSize};
        sim.insert(sim.end(), extra.begin(), extra.end());
        cells.push_back({std::move(name), std::move(sim), expected});
    };
    for (const Row &row : kRows)
        for (size_t f = 0; f < kFaultCount; ++f)
            add(std::string(kAnswerFaults[f]) + " on the " + row.exchange,
                {"--radio-fault", std::string(kAnswerFaults[f]) + ":" + row.rule}, row.cells[f]);
    for (const PortFailure &failure : kPortFailures)
        add(std::string("port failure at the ") + failure.opening, failure.sim, failure.cell);
    return cells;
}

std::vector<std::string> CellProblems(const SimRun &run, const Cell &expected)
{
    std::vector<std::string> problems;
    if (!run.started || run.hung) {
        problems.push_back(run.hung ? "hung" : "not started");
        return problems;
    }
    if (run.signal)
        problems.push_back("ended by signal " + std::to_string(run.signal));
    else if (run.status != expected.status)
        problems.push_back("exit status " + std::to_string(run.status) + ", " + std::to_string(expected.status) +
                           " expected");
    if (run.out.find(expected.console) == std::string::npos)
        problems.push_back("no \"" + Printable(expected.console) + "\" on the console");
    if (run.status == 0 && run.err.find("sim: radio: image verified") == std::string::npos)
        problems.push_back("success without an image the radio verified");
    // An unidentified radio is power-cycled once before the POC frames.
    size_t cycles = expected.console.rfind("Radio Model ID not received", 0) == 0 ? 1 : 0;
    std::string powerOff = simproc::PowerOffProblem(run, cycles);
    if (!powerOff.empty())
        problems.push_back(powerOff);
    if (run.SandboxHas("/var/ts9.pid"))
        problems.push_back("the lock file is left: the API was not shut down");
    if (run.err.find("sim: open descriptors: none\n") == std::string::npos) {
        size_t line = run.err.find("sim: open descriptors:");
        problems.push_back(line == std::string::npos ? "no descriptor line in the report"
                                                     : run.err.substr(line, run.err.find('\n', line) - line));
    }
    if (run.err.find("LeakSanitizer") != std::string::npos)
        problems.push_back("LeakSanitizer report");
    return problems;
}

std::string Joined(const std::vector<std::string> &problems)
{
    std::string text;
    for (const std::string &problem : problems)
        text += "\n  - " + problem;
    return text;
}

TEST(LoadFaults, EveryExchangeAgainstEveryAnswerFaultAndEveryPortOpening)
{
    std::vector<MatrixCell> cells = Matrix();
    std::vector<std::unique_ptr<SimRun>> runs;
    auto runCells = [&](const std::vector<size_t> &which) {
        std::vector<SimRun *> batch;
        for (size_t i : which) {
            runs[i] = std::make_unique<SimRun>(cells[i].sim, Loader());
            batch.push_back(runs[i].get());
        }
        simproc::Run(batch, kParallel);
    };
    std::vector<size_t> all(cells.size());
    for (size_t i = 0; i < cells.size(); ++i)
        all[i] = i;
    runs.resize(cells.size());
    runCells(all);

    // A loaded machine can starve a run past one of the loader's receive
    // time-outs: a cell that fails is run once more before it counts.
    std::vector<size_t> failed;
    std::vector<std::string> firstProblems(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        std::vector<std::string> problems = CellProblems(*runs[i], cells[i].expected);
        if (!problems.empty()) {
            failed.push_back(i);
            firstProblems[i] = Joined(problems);
        }
    }
    runCells(failed);
    for (size_t i : failed) {
        const SimRun &run = *runs[i];
        std::vector<std::string> problems = CellProblems(run, cells[i].expected);
        if (problems.empty()) {
            std::cout << "note: \"" << cells[i].name << "\" passed on its second run; first:" << firstProblems[i]
                      << "\n";
            continue;
        }
        ADD_FAILURE() << cells[i].name << ":" << Joined(problems) << "\n" << run.CommandLine()
                      << "\n--- stdout:\n" << run.out << "--- stderr:\n" << run.err;
    }
}

// ---- Switches and combinations ------------------------------------------

const char *const kFaults[] = {"refuse", "wrong-code", "short",       "garble", "extra", "bad-etx",
                               "drop",   "delay",      "fail-reopen", "stop"};
const char *const kCommands[] = {"model",      "version",     "hard-reset",     "poc",
                                 "createfile", "setbaudrate", "writefileblock", "reset"};

// The sim's defaults for these runs: small sleeps, a 6-block image.
std::vector<std::string> Sim(std::vector<std::string> extra, bool withImage = true)
{
    std::vector<std::string> arguments{"--time-scale", "0.02"};
    if (withImage)
        arguments.insert(arguments.end(), {"--image-size", "1300"});
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

void ExpectInvariants(const SimRun &run, bool internalRadio = true)
{
    SCOPED_TRACE(run.CommandLine() + "\n--- stdout:\n" + run.out + "--- stderr:\n" + run.err);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.hung) << "no end within " << run.timeoutSeconds << " s";
    ASSERT_EQ(run.signal, 0) << "ended by signal " << run.signal;
    ASSERT_TRUE(run.status == 0 || run.status == 1 || run.status == 255) << "status " << run.status;
    EXPECT_EQ(run.err.find("LeakSanitizer"), std::string::npos);

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
    // The API was shut down: lock file gone, GPIO driver closed at most once,
    // nothing left open.
    EXPECT_FALSE(run.SandboxHas("/var/ts9.pid"));
    size_t gpioCloses = 0;
    for (const std::string &line : run.LogLines("gpio"))
        gpioCloses += line == "close";
    EXPECT_LE(gpioCloses, 1u);
    EXPECT_NE(run.err.find("sim: open descriptors: none\n"), std::string::npos);
}

struct Batch {
    std::vector<std::unique_ptr<SimRun>> runs;
    SimRun &Add(std::vector<std::string> sim, std::vector<std::string> loader = Loader())
    {
        runs.push_back(std::make_unique<SimRun>(std::move(sim), std::move(loader)));
        return *runs.back();
    }
    void RunAndCheck(bool internalRadio = true)
    {
        std::vector<SimRun *> all;
        for (auto &run : runs)
            all.push_back(run.get());
        simproc::Run(all, kParallel);
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
        {"--fail-open", "/dev/gpio"},
        {"--fail-open", "/dev/extender"},
        {"--fail-open", "/dev/mtd3"},
        {"--fail-open", "/dev/pmu"},
        {"--fail-open", kImage},
        // Answers that come late, and a radio that falls silent.
        {"--radio-fault", "delay:createfile:1:300"},
        {"--radio-fault", "delay:writefileblock:2:300"},
        {"--radio-fault", "stop:createfile:1"},
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
