// Complete loads through orvaflash-sim: what the user sees and what the radio got.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const char kImage[] = "/mnt/usbdisk/adl_fw.bin";

std::string SummaryLines(size_t blocks, size_t size, unsigned long adler)
{
    char text[200];
    snprintf(text, sizeof text, "\tblock count : 0x%04zX (%zu)\n\tchecksum : %s\n\timage size : 0x%08zX (%zu)\n",
             blocks, blocks, Hex8(adler).c_str(), size, size);
    return text;
}

TEST(Load, DefaultArgumentsLoadTheInternalRadioAndPowerItOffOnce)
{
    Runs runs;
    SimRun &run = *runs.Add({"--image-size", "513"});
    runs.RunAll();
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    std::string image = run.SandboxFile(kImage);
    ASSERT_EQ(image.size(), 513u);
    EXPECT_TRUE(InOrder(run.out, {
                                     "\nFile /mnt/usbdisk/adl_fw.bin, port=/dev/ttyS5, speed=38400\n",
                                     "POWER PDL ON - begin ... end\n",
                                     "File /mnt/usbdisk/adl_fw.bin:\n\tloaded...\n",
                                     "Application Image in .bin file\n",
                                     "\tblock count : 0x0003 (3)\n",
                                     "\tchecksum : " + Hex8(Adler(image)) + "\n",
                                     "\timage size : 0x00000201 (513)\n",
                                     "COM-Port /dev/ttyS5 opened ",
                                     "38400\r\n",
                                     "ADL Radio Detected\n",
                                     "Version of ADL Radio Detected V02.10(300)\n",
                                     "Reset Hard Done\n",
                                     "9600\r\n",
                                     ".COM-Port /dev/ttyS5 opened ",
                                     "115200\r\n",
                                     "\nEND of Download with return code 0\r\n",
                                     "9600\r\n",
                                     "POWER PDL OFF - begin ... end\n",
                                 }))
        << run.out;
    EXPECT_EQ(Count(run.out, "POWER PDL ON - begin"), 1u);
    EXPECT_NE(run.err.find("sim: radio: image verified (3 blocks, adler32 " + Hex8(Adler(image)) + ")"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.report.find("flagged"), std::string::npos) << run.report;
    ExpectPoweredOffOnceAtTheEnd(run);
    std::string blocks = run.RadioBlocks();
    ASSERT_EQ(blocks.size(), 3u * 256);
    EXPECT_EQ(blocks.substr(0, 513), image);
}

TEST(Load, TheRadioReceivesExactlyTheApplicationImageOfEitherKindAndSize)
{
    Runs runs;
    std::vector<std::pair<SimRun *, size_t>> loads;
    for (bool bootloader : {false, true}) {
        for (size_t size : {2ul, 255ul, 256ul, 257ul, 513ul, 16776960ul}) {
            std::vector<std::string> sim{"--image-size", std::to_string(size)};
            if (bootloader)
                sim.push_back("--bootloader-image");
            loads.emplace_back(runs.Add(sim), size);
        }
    }
    runs.RunAll(2);
    for (auto &load : loads) {
        SimRun &run = *load.first;
        size_t size = load.second;
        SCOPED_TRACE(run.simArguments.back() + " " + std::to_string(size));
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        std::string image = ApplicationImage(run.SandboxFile(kImage));
        ASSERT_EQ(image.size(), size);
        size_t blocks = (size + 255) / 256;
        std::string received = run.RadioBlocks();
        ASSERT_EQ(received.size(), blocks * 256);
        EXPECT_TRUE(received.compare(0, size, image) == 0) << "the radio got other bytes";
        char verdict[100];
        snprintf(verdict, sizeof verdict, "sim: radio: image verified (%zu blocks, adler32 %s)", blocks,
                 Hex8(Adler(image)).c_str());
        EXPECT_NE(run.err.find(verdict), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("sim: radio: image length " + std::to_string(size) + "\n"), std::string::npos);
        EXPECT_NE(run.out.find(SummaryLines(blocks, size, Adler(image))), std::string::npos) << run.out;
    }
}

TEST(Load, OtherPortsSwitchNoPowerAndTestModeSendsNoBlock)
{
    Runs runs;
    SimRun &portA = *runs.Add({"--image-size", "700"}, {kImage, "A"});
    SimRun &portF = *runs.Add({"--image-size", "700", "--radio-speed", "19200"}, {kImage, "f", "19200"});
    SimRun &test = *runs.Add({"--image-size", "700"}, {"-t"});
    runs.RunAll();

    for (SimRun *run : {&portA, &portF}) {
        ASSERT_EQ(run->status, 0) << run->out << run->err;
        EXPECT_EQ(run->out.find("POWER PDL"), std::string::npos) << run->out;
        for (const std::string &line : run->LogLines("pmu"))
            EXPECT_TRUE(line != kPmuOn && line != kPmuOff && line != kPmuCompanion) << line;
        EXPECT_NE(run->err.find("sim: radio: image verified (3 blocks"), std::string::npos) << run->err;
    }
    EXPECT_NE(portA.out.find("port=/dev/ttyS4, speed=38400\n"), std::string::npos);
    EXPECT_NE(portF.out.find("port=/dev/ttyUSB0, speed=19200\n"), std::string::npos);
    EXPECT_EQ(portF.out.find("19200\r"), std::string::npos) << "19200 opens silently";
    EXPECT_EQ(Count(portA.err, "opened 4 times"), 1u);

    ASSERT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_EQ(test.out.find("port="), std::string::npos) << "no file line in test mode";
    EXPECT_NE(test.out.find("\nEND of Download with return code 0\r\n"), std::string::npos);
    EXPECT_NE(test.err.find("sim: radio: frames: POC 1, CREATEFILE 1, SETBAUDRATE 2, WRITEFILEBLOCK 0, RESET 1"),
              std::string::npos)
        << test.err;
    EXPECT_NE(test.err.find("sim: radio: image incomplete: 0 of 3 blocks"), std::string::npos);
    EXPECT_EQ(test.report.find("flagged"), std::string::npos) << "not a byte of a block on the line";
    ExpectPoweredOffOnceAtTheEnd(test);
}

TEST(Load, AnUnidentifiedRadioIsPowerCycledOnTheInternalPortOnly)
{
    Runs runs;
    SimRun &wrongModel = *runs.Add({"--image-size", "300", "--radio-model", "5"});
    SimRun &noFirmware = *runs.Add({"--image-size", "300", "--radio-no-firmware"});
    SimRun &externalWrongModel = *runs.Add({"--image-size", "300", "--radio-model", "5"}, {kImage, "A"});
    SimRun &slowBootloader = *runs.Add({"--image-size", "300", "--radio-ignore-poc", "2", "--radio-version-answer",
                                        "01 33 00 01 00 02 00 03 C6"});
    runs.RunAll();

    ASSERT_EQ(wrongModel.status, 0) << wrongModel.out << wrongModel.err;
    EXPECT_TRUE(InOrder(wrongModel.out, {"Radio Model ID not received (4) or not ADL (0x05)\n", "Reset Hard Done\n",
                                         "9600\r\n", "POWER PDL OFF - begin ... end\n",
                                         "POWER PDL ON - begin ... end\n", "."}))
        << wrongModel.out;
    ExpectPoweredOffOnceAtTheEnd(wrongModel, 1);

    // Garbage at 38400 bit/s to a bootloader at 9600: nothing identified; the
    // power cycle's boot window catches the POC frames.
    ASSERT_EQ(noFirmware.status, 0) << noFirmware.out << noFirmware.err;
    EXPECT_TRUE(InOrder(noFirmware.out, {"Radio Model ID not received (0) or not ADL (0x00)\n",
                                         "Version of ADL Radio Detected V00.00(0)\n", "POWER PDL ON - begin"}));
    EXPECT_EQ(noFirmware.out.find("Reset Hard Done"), std::string::npos);
    EXPECT_NE(noFirmware.err.find("image verified"), std::string::npos) << noFirmware.err;
    ExpectPoweredOffOnceAtTheEnd(noFirmware, 1);

    ASSERT_EQ(externalWrongModel.status, 0) << externalWrongModel.out;
    EXPECT_NE(externalWrongModel.out.find("Radio Model ID not received (4) or not ADL (0x05)\n"), std::string::npos);
    EXPECT_EQ(externalWrongModel.out.find("POWER"), std::string::npos);

    ASSERT_EQ(slowBootloader.status, 0) << slowBootloader.out;
    EXPECT_NE(slowBootloader.out.find("Version of ADL Radio Detected V01.02(3)\n"), std::string::npos);
    EXPECT_NE(slowBootloader.out.find("\n...COM-Port"), std::string::npos) << "three POC attempts";
}

}  // namespace
}  // namespace e2e
