// A fresh simulated receiver per test, and the API's process-wide state put
// back afterwards.
#ifndef API_FRAME_FIXTURE_H
#define API_FRAME_FIXTURE_H

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_Init.h"
#include "internal/API_Init.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

class FrameTest : public ::testing::Test {
protected:
    FrameTest() : receiver(Options()), board(receiver) { memcpy(m_table, a_devnames, sizeof m_table); }
    ~FrameTest() override
    {
        API_Finalize();
        memcpy(a_devnames, m_table, sizeof m_table);
        FullttyUSB = 0;
    }

    static sim::ReceiverOptions Options()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.001;
        return options;
    }

    // Runs `action` with standard output captured and returns what it printed.
    template <typename Action>
    static std::string Stdout(Action action)
    {
        ::testing::internal::CaptureStdout();
        action();
        return ::testing::internal::GetCapturedStdout();
    }

    static std::string Row(int row) { return a_devnames[row].path; }

    sim::Receiver receiver;
    sim::StandardBoard board;

private:
    API_DevName m_table[API_DEVNAME_COUNT];
};

#endif
