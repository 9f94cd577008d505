// A fresh simulated receiver per test with the PMU device opened by power
// management.  The power-management task outlives each test (it is never
// stopped); tests that raise events wait until their handling is complete.
#ifndef PMU_FIXTURE_H
#define PMU_FIXTURE_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_PM.h"
#include "board.h"
#include "internal/API_PM.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

inline sim::ReceiverOptions PmuTestReceiver()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    return options;
}

class PmuTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(API_PM_Initialize(), 0); }
    void TearDown() override
    {
        if (ifd_pmu > 0)
            Board_Close(ifd_pmu);
        ifd_pmu = 0;
    }

    std::vector<std::string> Requests() const { return board.pmu->Log().Lines(); }

    sim::Receiver receiver{PmuTestReceiver()};
    sim::StandardBoard board{receiver};
    sim::Pmu &pmu = *board.pmu;
};

#endif
