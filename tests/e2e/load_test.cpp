// Whole loads through orvaflash-sim: the loader against the simulated radio
// on a real pseudo-terminal (its speeds, escape guards, boot window and line
// mode), with the device API on the simulated board.
#include <stdio.h>
#include <zlib.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

using simproc::InOrder;
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

struct Runs {
    SimRun &Add(std::vector<std::string> sim, std::vector<std::string> loader = {})
    {
        sim.insert(sim.begin(), {"--time-scale", kTimeScale});
        all.push_back(std::make_unique<SimRun>(std::move(sim), std::move(loader)));
        return *all.back();
    }
    void RunAll()
    {
        std::vector<SimRun *> runs;
        for (auto &run : all)
            runs.push_back(run.get());
        simproc::Run(runs, 4);
    }
    std::vector<std::unique_ptr<SimRun>> all;
};

std::string Verified(const std::string &image, size_t blocks)
{
    char text[100];
    snprintf(text, sizeof text, "sim: radio: image verified (%zu blocks, adler32 0x%08lX)", blocks,
             adler32(1, reinterpret_cast<const Bytef *>(image.data()), static_cast<uInt>(image.size())));
    return text;
}

TEST(Load, DefaultArgumentsLoadTheInternalRadioAndPowerItOffOnce)
{
    Runs runs;
    SimRun &run = runs.Add({"--image-size", "513"});
    runs.RunAll();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::string image = run.SandboxFile(kImage);
    EXPECT_TRUE(InOrder(
        run.out,
        {"\nFile /mnt/usbdisk/adl_fw.bin, port=/dev/ttyS5, speed=38400\n", "POWER PDL ON - begin ... end\n",
         "\tblock count : 0x0003 (3)\n", "COM-Port /dev/ttyS5 opened ", "38400\r\n", "ADL Radio Detected\n",
         "Version of ADL Radio Detected V02.10(300)\n", "Reset Hard Done\n", "9600\r\n", ".COM-Port /dev/ttyS5 opened ",
         "115200\r\n", "\nEND of Download with return code 0\r\n", "9600\r\n", "POWER PDL OFF - begin ... end\n"}))
        << run.out;
    EXPECT_NE(run.err.find(Verified(image, 3)), std::string::npos) << run.err;
    EXPECT_EQ(run.RadioBlocks().substr(0, 513), image);
    EXPECT_EQ(run.report.find("flagged"), std::string::npos) << run.report;
    EXPECT_EQ(simproc::PowerOffProblem(run), "");
}

TEST(Load, EveryKindOfRadioPortAndImageEndsWithTheImageVerified)
{
    Runs runs;
    // A bootloader file on an outside radio that says "OK" to the escape.
    SimRun &outside = runs.Add({"--image-size", "300", "--bootloader-image", "--radio-escape-reply", "OK\r\n"},
                               {kImage, "a"});
    SimRun &slower = runs.Add({"--image-size", "300", "--radio-speed", "19200"}, {kImage, "F", "19200"});
    SimRun &wrongModel = runs.Add({"--image-size", "300", "--radio-model", "5"});
    // No firmware: the queries at 38400 bit/s reach a bootloader at 9600; the
    // power cycle's boot window catches the POC frames.
    SimRun &noFirmware = runs.Add({"--image-size", "300", "--radio-no-firmware"});
    // The extra byte goes with the port's closing.
    runs.Add({"--image-size", "300", "--radio-fault", "extra:setbaudrate:115200"});
    runs.RunAll();

    for (auto &run : runs.all) {
        SCOPED_TRACE(run->CommandLine());
        ASSERT_EQ(run->status, 0) << run->out << run->err;
        EXPECT_NE(run->err.find("sim: radio: image verified (2 blocks"), std::string::npos) << run->err;
    }
    EXPECT_NE(outside.out.find("ADL Radio Detected\n"), std::string::npos) << outside.out;
    EXPECT_EQ(outside.out.find("POWER"), std::string::npos);
    EXPECT_EQ(slower.out.find("19200\r"), std::string::npos) << "19200 opens silently";
    EXPECT_TRUE(InOrder(wrongModel.out, {"Radio Model ID not received (4) or not ADL (0x05)\n", "9600\r\n",
                                         "POWER PDL OFF - begin ... end\nPOWER PDL ON - begin ... end\n."}))
        << wrongModel.out;
    EXPECT_EQ(simproc::PowerOffProblem(wrongModel, 1), "");
    EXPECT_NE(noFirmware.out.find("Radio Model ID not received (0) or not ADL (0x00)\n"), std::string::npos);
    EXPECT_EQ(simproc::PowerOffProblem(noFirmware, 1), "");
}

TEST(Load, FailuresEndWith255AndTheRadioOffAndTestModeSendsNoBlock)
{
    Runs runs;
    SimRun &noPort = runs.Add({"--image-size", "1200", "--fail-open", "/dev/ttyS5"});
    SimRun &refused = runs.Add({"--image-size", "1200", "--radio-fault", "refuse:writefileblock:3"});
    SimRun &stuck = runs.Add({"--image-size", "600", "--pmu-fail", "0xC2"});
    SimRun &test = runs.Add({"--image-size", "700"}, {"-t"});
    runs.RunAll();

    EXPECT_EQ(noPort.status, 255);
    EXPECT_EQ(simproc::PowerOffProblem(noPort), "") << noPort.out;
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(simproc::PowerOffProblem(refused), "") << refused.out;
    EXPECT_NE(refused.err.find("image incomplete: 2 of 5 blocks"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("WRITEFILEBLOCK 3, RESET 1"), std::string::npos) << "the radio is still reset";
    // A radio the PMU cannot switch off: the error's text, and the shut-down goes on.
    EXPECT_EQ(stuck.status, 0);
    EXPECT_NE(stuck.out.find("POWER PDL OFF - begin ... ERROR Error if spi transmission fails\n"), std::string::npos);
    EXPECT_NE(stuck.err.find("sim: open descriptors: none\n"), std::string::npos) << stuck.err;

    ASSERT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_NE(test.err.find("POC 1, CREATEFILE 1, SETBAUDRATE 2, WRITEFILEBLOCK 0, RESET 1"), std::string::npos);
    EXPECT_EQ(test.report.find("flagged"), std::string::npos) << "not a byte of a block on the line";
}

}  // namespace
