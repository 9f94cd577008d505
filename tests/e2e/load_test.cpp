// Whole loads through orvaflash-sim: the loader against the simulated radio
// on a real pseudo-terminal (its speeds, escape guards, boot window and line
// mode), with the device API on the simulated board.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

using simproc::SimRun;

// Sleeps at a tenth of real time: the escape's guards and the radio's boot
// window keep 50 ms of margin.  Under an emulator (the ARM build) every step
// is several times slower, so the margins are widened to match.
#if defined(__arm__)
const char kTimeScale[] = "0.4";
#else
const char kTimeScale[] = "0.1";
#endif
const char kImage[] = "/mnt/usbdisk/adl_fw.bin";
const char kOk[] = "sim: radio: image verified";
const int kAway = -1;  // no power cycles to count: the radio is not the internal one

TEST(Load, EveryRadioAndFailureEndsAsItShouldWithTheRadioOffOnce)
{
    const struct {
        const char *imageSize;
        std::vector<std::string> sim, loader;
        int cycles;  // the bootloader entry's power cycles
        const char *out, *err;
    } cases[] = {
        {"513", {}, {}, 0, "\nFile /mnt/usbdisk/adl_fw.bin, port=/dev/ttyS5, speed=38400\n", "verified (3 blocks"},
        // A bootloader file on an outside radio that says "OK" to the escape.
        {"300",
         {"--bootloader-image", "--radio-escape-reply", "OK\r\n"},
         {kImage, "a"},
         kAway,
         "ADL Radio Detected\n",
         kOk},
        {"300", {"--radio-speed", "19200"}, {kImage, "F", "19200"}, kAway, "", kOk},
        // No firmware: the queries at 38400 bit/s reach a bootloader at 9600;
        // the power cycle's boot window catches the POC frames.
        {"300", {"--radio-no-firmware"}, {}, 1, "(0) or not ADL (0x00)\n", kOk},
        // A radio the PMU cannot switch off: the error's text, and the shut-down goes on.
        {"600", {"--pmu-fail", "0xC2"}, {}, 0, "OFF - begin ... ERROR Error if spi transmission fails\n", kOk},
        {"700", {}, {"-t"}, 0, "", "POC 1, CREATEFILE 1, SETBAUDRATE 2, WRITEFILEBLOCK 0, RESET 1"},
    };
    std::vector<std::unique_ptr<SimRun>> runs;
    std::vector<SimRun *> all;
    for (const auto &c : cases) {
        std::vector<std::string> sim = {"--time-scale", kTimeScale, "--image-size", c.imageSize};
        sim.insert(sim.end(), c.sim.begin(), c.sim.end());
        runs.push_back(std::make_unique<SimRun>(sim, c.loader));
        all.push_back(runs.back().get());
    }
    simproc::Run(all, 4);
    for (size_t i = 0; i < runs.size(); ++i) {
        const SimRun &run = *runs[i];
        SCOPED_TRACE(run.CommandLine() + "\n" + run.out + run.err);
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find(cases[i].out), std::string::npos);
        EXPECT_NE(run.err.find(cases[i].err), std::string::npos);
        EXPECT_NE(run.err.find("sim: open descriptors: none\n"), std::string::npos);
        // Not a byte of a block on the line in test mode, nor any other slip;
        // only a radio without firmware hears the queries at the wrong speed.
        bool noFirmware = cases[i].sim == std::vector<std::string>{"--radio-no-firmware"};
        EXPECT_TRUE(noFirmware || run.report.find("flagged") == std::string::npos) << run.report;
        if (cases[i].cycles == kAway) {
            EXPECT_EQ(run.out.find("POWER"), std::string::npos);
        } else {
            EXPECT_EQ(simproc::PowerOffProblem(run, cases[i].cycles), "");
        }
    }
}

}  // namespace
