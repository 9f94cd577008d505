// The API frame's tests: the base fixture, with the start-up's state put back.
#ifndef API_FRAME_FIXTURE_H
#define API_FRAME_FIXTURE_H

#include <string>
#include <vector>

#include "API.h"
#include "internal/API_Init.h"
#include "sim_test.h"

class FrameTest : public simtest::SimTest {
protected:
    ~FrameTest() override
    {
        simtest::Stdout([] { API_Finalize(); });
        unitreset::Init();
    }
    using simtest::SimTest::SimTest;

    static std::string Row(int row) { return a_devnames[row].path; }
    // What the start-up printed; its result is left in `result`.
    std::string Started(int flags)
    {
        return simtest::Stdout([this, flags] { result = API_Initialize(flags); });
    }
    int result = -1;
};

using simtest::Stdout;
using Codes = std::vector<int>;

#endif
