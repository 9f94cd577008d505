// Readiness polls that run their whole course.
#include "gsm_fixture.h"

namespace {

// Each poll's answer wait is scaled like every sleep: at a twentieth of real
// time the modem had 55 ms to answer, too little on a loaded machine.
class SlowReadiness : public GsmTest {
protected:
    SlowReadiness() : GsmTest(0.2) {}
};

TEST_F(SlowReadiness, WaitGivesUpAfterTwoHundredPollsAndStartUpCarriesOnAfterSixty)
{
    modem.SetInitStatus({1});
    EXPECT_EQ(simtest::Stdout([] { EXPECT_EQ(API_GSM_Initialize(), API_ERR_NONE); }), "");
    EXPECT_EQ(SleepsOf(1000), 60 + 1);  // one sleep per pass, and the supply's
    modem.ClearCommands();
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_GSM_INIT_SEQUENCE_NOT_FINISHED);
    EXPECT_EQ(modem.Commands().size(), 200u);
}

}  // namespace
