// Power management started on a fresh simulated receiver; its task is ended
// again after each test.
#ifndef PMU_FIXTURE_H
#define PMU_FIXTURE_H

#include <string>
#include <vector>

#include "API_Errors.h"
#include "API_PM.h"
#include "internal/API_PM.h"
#include "sim_test.h"

using Lines = std::vector<std::string>;

class PmuTest : public simtest::SimTest {
protected:
    void SetUp() override { ASSERT_EQ(API_PM_Initialize(), API_ERR_NONE); }
    void TearDown() override
    {
        API_PM_StopTask();
        unitreset::PowerManagement();
    }

    Lines Requests() const { return pmu.Log().Lines(); }
    // The first `count` sleeps the API asked for, in nanoseconds.
    std::vector<long> Pauses(size_t count = 100) const
    {
        std::vector<long> pauses;
        for (const timespec &sleep : receiver.Sleeps())
            if (pauses.size() < count)
                pauses.push_back(sleep.tv_sec * 1000000000L + sleep.tv_nsec);
        return pauses;
    }

    sim::Pmu &pmu = *board.pmu;
};

constexpr long kRequestPause = 20000000;  // before every PMU request
constexpr long kReplyPause = 1000;        // between request and reply of most queries

#endif
