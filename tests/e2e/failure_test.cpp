// Every way a run can fail, as the user sees it and as the radio saw it.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

const char kImage[] = "/mnt/usbdisk/adl_fw.bin";
const char kUsageA[] =
    "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D 38400\n\n"
    "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";
const char kUsageB[] =
    "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D \n\n"
    "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";

TEST(Refusal, CommandLineAndImageProblemsEndWithStatusOneBeforeThePortOpens)
{
    Runs runs;
    SimRun &version = *runs.Add({}, {"-V"});
    SimRun &help = *runs.Add({}, {"-h"});
    SimRun &four = *runs.Add({}, {"a", "D", "38400", "x"});
    SimRun &letterTwo = *runs.Add({}, {kImage, "E"});
    SimRun &letterThree = *runs.Add({}, {kImage, "DD", "38400"});
    SimRun &missing = *runs.Add({}, {"/mnt/usbdisk/none.bin"});
    SimRun &notAnImage = *runs.Add({}, {});
    notAnImage.files.push_back({kImage, std::string("\xCA\x00\x01\x02", 4)});
    SimRun &noApplication = *runs.Add({}, {});
    noApplication.files.push_back({kImage, "\xDE\xAD" + std::string(0xC100, '\x11') + "\xCA\x00"});
    std::vector<SimRun *> tooSmall;
    for (const char *size : {"0", "1"}) {
        tooSmall.push_back(runs.Add({"--image-size", size}));
        tooSmall.push_back(runs.Add({"--image-size", size, "--bootloader-image"}));
    }
    // One block more than CREATEFILE can announce.
    SimRun &tooLarge = *runs.Add({"--image-size", "16776961"});
    SimRun &tooLargeBootloader = *runs.Add({"--image-size", "16776961", "--bootloader-image"});
    runs.RunAll(4);

    for (SimRun *run : runs.all) {
        SCOPED_TRACE(run->loaderArguments.empty() ? "image" : run->loaderArguments[0]);
        ExpectRefusedBeforeThePort(*run);
    }
    EXPECT_EQ(version.out, "0.01\r\n");
    EXPECT_EQ(help.out, kUsageA);
    EXPECT_EQ(four.out, kUsageA);
    EXPECT_EQ(letterTwo.out, kUsageB);
    EXPECT_EQ(letterThree.out, kUsageA);
    // Refusals after the power-on leave the radio powered.
    EXPECT_TRUE(InOrder(missing.out, {"POWER PDL ON - begin ... end\n", "Can't open file /mnt/usbdisk/none.bin\n"}))
        << missing.out;
    EXPECT_TRUE(InOrder(notAnImage.out, {"File /mnt/usbdisk/adl_fw.bin:\n\tloaded...\n", "NO Application Image in .bin file"}));
    EXPECT_NE(noApplication.out.find("Bootloader image in .bin file BUT NO Application Image in .bin file"),
              std::string::npos)
        << noApplication.out;
    for (size_t i = 0; i < tooSmall.size(); ++i)
        EXPECT_NE(tooSmall[i]->out.find(i % 2 ? "Bootloader image in .bin file BUT NO Application Image"
                                              : "NO Application Image in .bin file"),
                  std::string::npos)
            << tooSmall[i]->out;
    for (SimRun *run : {&tooLarge, &tooLargeBootloader}) {
        EXPECT_EQ(run->out.find("block count"), std::string::npos) << run->out;
        EXPECT_EQ(run->out.find("COM-Port"), std::string::npos);
    }
}

struct FailureCase {
    std::vector<std::string> sim;
    std::vector<std::string> loader;
    std::vector<std::string> console;  // in this order
};

TEST(Failure, EveryFailureAfterThePortOpensEndsWith255AndOnePowerOff)
{
    const std::string file = kImage;
    const FailureCase cases[] = {
        {{"--fail-open", "/dev/ttyS5"}, {}, {"Can't open COM-Port /dev/ttyS5 !\n", "Open Serial Port /dev/ttyS5 failed\n"}},
        {{}, {file, "d", "4800"}, {"COM-Port /dev/ttyS5 opened", "unknown baudrate 4800\n", "Open Serial Port /dev/ttyS5 failed\n"}},
        {{"--radio-fault", "fail-reopen:hard-reset"}, {}, {"Reset Hard Done\n", "Open Serial Port at 9600 failed\n", "\nSwitch to POC failed (-1)\n"}},
        {{"--radio-fault", "refuse:createfile"}, {}, {"CREATEFILE failed: (8 of 8 expected) 020B000115002103\n"}},
        {{"--radio-fault", "drop:createfile"}, {}, {"CREATEFILE failed: (0 of 8 expected) \n"}},
        {{"--radio-fault", "garble:createfile"}, {}, {"CREATEFILE failed: (8 of 8 expected) A7AEA5A4A3A5B7A6\n"}},
        {{"--radio-fault", "short:setbaudrate:115200"}, {}, {"Switch ADL Radio to 115200 bauds failed : (5 of 8 expected) 0207000106\n"}},
        {{"--radio-fault", "wrong-code:setbaudrate:115200"}, {}, {"Switch ADL Radio to 115200 bauds failed : (8) 020B000106001203\n"}},
        // The extra byte stays in the line and shifts the next answer.
        {{"--radio-fault", "extra:createfile"}, {}, {"Switch ADL Radio to 115200 bauds failed : (8) 000207000106000E\n"}},
        {{"--radio-fault", "fail-reopen:setbaudrate:115200"}, {}, {"Open Serial Port at 115200 failed\n"}},
        {{"--radio-fault", "short:setbaudrate:9600"}, {}, {"\nEND of Download with return code 0\r\n", "Bad response length to SetBaudRate at 9600 (5)\n"}},
        {{"--radio-fault", "refuse:setbaudrate:9600"}, {}, {"\nEND of Download with return code 0\r\n", "SetBaudRate to 9600 is bad\n"}},
        {{"--radio-fault", "fail-reopen:setbaudrate:9600"}, {}, {"\nEND of Download with return code 0\r\n", "Open Serial Port at 9600 failed\n"}},
        {{"--radio-fault", "short:reset"}, {}, {"\nEND of Download with return code 0\r\n", "Bad response length to Reset (5)\n"}},
        {{"--radio-fault", "refuse:reset"}, {}, {"\nEND of Download with return code 0\r\n", "Reset failed\n"}},
        // A refused block ends the download; the radio is still reset.
        {{"--radio-fault", "refuse:writefileblock:3"}, {}, {"\nEND of Download with return code -1\r\n", "POWER PDL OFF - begin ... end\n"}},
    };
    Runs runs;
    for (const FailureCase &failure : cases) {
        std::vector<std::string> sim{"--image-size", "1200"};
        sim.insert(sim.end(), failure.sim.begin(), failure.sim.end());
        runs.Add(sim, failure.loader);
    }
    runs.RunAll(4);
    for (size_t i = 0; i < runs.all.size(); ++i) {
        const SimRun &run = *runs.all[i];
        SCOPED_TRACE(run.simArguments.back());
        EXPECT_EQ(run.status, 255) << run.out << run.err;
        EXPECT_TRUE(InOrder(run.out, cases[i].console)) << run.out;
        ExpectPoweredOffOnceAtTheEnd(run);
    }

    const SimRun &refusedBlock = *runs.all.back();
    EXPECT_NE(refusedBlock.err.find("sim: radio: image incomplete: 2 of 5 blocks"), std::string::npos) << refusedBlock.err;
    EXPECT_NE(refusedBlock.err.find("frames: POC 1, CREATEFILE 1, SETBAUDRATE 2, WRITEFILEBLOCK 3, RESET 1"),
              std::string::npos);
    EXPECT_EQ(refusedBlock.out.find("failed"), std::string::npos) << "block failures are level-3 lines";
    const SimRun &noReopen = *runs.all[9];
    EXPECT_NE(noReopen.err.find("WRITEFILEBLOCK 0, RESET 0"), std::string::npos) << noReopen.err;
}

// A radio the PMU cannot switch off: the text of the PMU's error is shown,
// and shut-down goes on; the load itself was complete.
TEST(PowerOff, APmuFailurePrintsTheErrorTextAndShutDownGoesOn)
{
    Runs runs;
    SimRun &run = *runs.Add({"--image-size", "600", "--pmu-fail", "0xC2"});
    runs.RunAll();
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(InOrder(run.out, {"\nEND of Download with return code 0\r\n",
                                  "POWER PDL OFF - begin ... ERROR Error if spi transmission fails\n"}))
        << run.out;
    EXPECT_EQ(Count(run.out, "POWER PDL OFF"), 1u);
    EXPECT_NE(run.err.find("sim: radio: image verified"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace e2e
