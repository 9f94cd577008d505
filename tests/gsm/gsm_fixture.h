// The GSM unit against the simulated modem: the PMU open, the application's
// task created and the modem started (unless a test starts it itself); the
// clean-up ends the task before the line goes, and the unit is left as the
// process starts it.
#ifndef GSM_FIXTURE_H
#define GSM_FIXTURE_H

#include <algorithm>
#include <string>
#include <vector>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "internal/API_GSM.h"
#include "internal/API_Uart.h"
#include "sim_test.h"

using simtest::Eventually;
using Lines = std::vector<std::string>;

// At 0.05 a 10 s answer wait lasts 0.5 s, the 1 s one of a readiness poll
// 50 ms (20 ms at 0.02 is too little on a loaded machine), and an escape's
// guard silence is heard as one.
class GsmTest : public simtest::SimTest {
protected:
    explicit GsmTest(double timeScale = 0.05, bool start = true) : SimTest(timeScale), start(start) {}

    void SetUp() override
    {
        OpenPmu();
        ASSERT_EQ(API_SYS_CreateTask(API_TASK_GSM, 10), API_ERR_NONE);
        if (start)
            StartModem();
    }

    void TearDown() override
    {
        API_GSM_Cleanup();
        unitreset::Gsm();
    }

    // Starts the modem and forgets the start-up's traffic.
    void StartModem()
    {
        ASSERT_EQ(API_GSM_Initialize(), API_ERR_NONE);
        modem.ClearCommands();
        pmu.Log().Clear();
    }

    void ConnectFromModem(const std::string &firstPayload = "")
    {
        modem.Connect(firstPayload);
        ASSERT_TRUE(Eventually([] {
            return b_PSD_ConnectionStatus + b_CSD_ConnectionStatus == 1 && b_CommandMode == 0 && b_ExitDataMode == 0;
        }));
    }

    // Reads until `size` bytes came or the reader reports the stream's end.
    static std::string Read(size_t size, int *result = nullptr)
    {
        std::string data;
        int code = API_ERR_NONE;
        char chunk[1000];
        while (data.size() < size && code == API_ERR_NONE) {
            int received = 0;
            code = s_GsmRead(chunk, static_cast<int>(std::min(sizeof chunk, size - data.size())), &received);
            data.append(chunk, static_cast<size_t>(received));
        }
        if (result)
            *result = code;
        return data;
    }

    const bool start;
    sim::GsmModem &modem = *board.gsm;
    sim::Pmu &pmu = *board.pmu;
};

#endif
