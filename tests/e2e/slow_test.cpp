// Failures that take the loader's real receive time-outs: 100 POC attempts of
// two idle reads each, and a block's 10 s of silence.
#include <string>
#include <vector>

#include "e2e_support.h"

namespace e2e {
namespace {

TEST(SlowFailure, SilentRadioAndRadioThatStopsMidDownload)
{
    Runs runs;
    SimRun &silent = *runs.Add({"--image-size", "1200", "--radio-silent"});
    SimRun &stops = *runs.Add({"--image-size", "2000", "--radio-fault", "stop:writefileblock:5"});
    runs.RunAll();

    EXPECT_EQ(silent.status, 255) << silent.out << silent.err;
    EXPECT_TRUE(InOrder(silent.out, {"Radio Model ID not received (0) or not ADL (0x00)\n",
                                     "Version of ADL Radio Detected V00.00(0)\n", "POWER PDL ON - begin ... end\n",
                                     std::string(100, '.') + "\nSwitch to POC failed (0)\n"}))
        << silent.out;
    size_t failed = silent.out.find("\nSwitch to POC failed");
    ASSERT_GT(failed, 100u);
    EXPECT_NE(silent.out[failed - 101], '.') << "exactly 100 attempts";
    EXPECT_NE(silent.err.find("sim: radio: no image announced"), std::string::npos);
    ExpectPoweredOffOnceAtTheEnd(silent, 1);

    EXPECT_EQ(stops.status, 255) << stops.out << stops.err;
    EXPECT_TRUE(InOrder(stops.out, {"\nEND of Download with return code -1\r\n",
                                    "Bad response length to SetBaudRate at 9600 (0)\n"}))
        << stops.out;
    EXPECT_NE(stops.err.find("sim: radio: image incomplete: 5 of 8 blocks"), std::string::npos) << stops.err;
    ExpectPoweredOffOnceAtTheEnd(stops);
}

}  // namespace
}  // namespace e2e
