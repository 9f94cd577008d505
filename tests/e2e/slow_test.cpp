// The loader's real receive time-outs: 100 POC attempts of two idle reads
// each, and a block's 10 s of silence.
#include <gtest/gtest.h>

#include "sim_process.h"

namespace {

TEST(SlowFailure, SilentRadioAndRadioThatStopsMidDownload)
{
    simproc::SimRun silent({"--time-scale", "0.1", "--image-size", "1200", "--radio-silent"}, {});
    simproc::SimRun stops({"--time-scale", "0.1", "--image-size", "2000", "--radio-fault", "stop:writefileblock:5"},
                          {});
    simproc::Run({&silent, &stops});

    EXPECT_EQ(silent.status, 255) << silent.out << silent.err;
    // Exactly 100 attempts, straight after the power cycle.
    EXPECT_NE(
        silent.out.find("POWER PDL ON - begin ... end\n" + std::string(100, '.') + "\nSwitch to POC failed (0)\n"),
        std::string::npos)
        << silent.out;
    EXPECT_EQ(simproc::PowerOffProblem(silent, 1), "");

    EXPECT_EQ(stops.status, 255) << stops.out << stops.err;
    EXPECT_TRUE(simproc::InOrder(
        stops.out, {"\nEND of Download with return code -1\r\n", "Bad response length to SetBaudRate at 9600 (0)\n"}))
        << stops.out;
    EXPECT_NE(stops.err.find("sim: radio: image incomplete: 5 of 8 blocks"), std::string::npos) << stops.err;
    EXPECT_EQ(simproc::PowerOffProblem(stops), "");
}

}  // namespace
