// A fresh simulated receiver per test with the PMU open and the GSM task
// running; the clean-up at the end of each test ends the task before its
// modem's line goes away.
#ifndef GSM_FIXTURE_H
#define GSM_FIXTURE_H

#include <dirent.h>
#include <fcntl.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_GSM.h"
#include "internal/API_PM.h"
#include "internal/API_Uart.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"
#include "threads.h"

// At 0.01 a 10 s answer wait lasts about 0.1 s; the simulated modem answers
// at once.  Tests whose success hangs on 1 s waits take a larger scale, so a
// busy machine does not turn an answer into a time-out.
inline sim::ReceiverOptions GsmReceiver(double timeScale)
{
    sim::ReceiverOptions options;
    options.timeScale = timeScale;
    return options;
}

// Polls `condition` for up to two seconds.
inline bool Eventually(const std::function<bool()> &condition)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}


class GsmTest : public ::testing::Test {
protected:
    explicit GsmTest(double timeScale = 0.01) : receiver(GsmReceiver(timeScale)), board(receiver) {}

    void SetUp() override
    {
        ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0);
        ASSERT_EQ(API_SYS_CreateTask(API_TASK_GSM, 10), API_ERR_NONE);
    }

    void TearDown() override
    {
        API_GSM_Cleanup();
        p_gsmcallback = nullptr;
        GSMprotocol = 1;
        PSDprotocol = 0;
        bCheckStatus = 1;
        if (ifd_pmu > 0)
            Board_Close(ifd_pmu);
        ifd_pmu = 0;
    }

    // Starts the modem and forgets the start-up's traffic.
    void StartModem()
    {
        ASSERT_EQ(API_GSM_Initialize(), API_ERR_NONE);
        modem.ClearCommands();
        pmu.Log().Clear();
    }

    // A connection coming up from the modem's side.
    void ConnectFromModem(const std::string &firstPayload = "")
    {
        modem.Connect(firstPayload);
        ASSERT_TRUE(Eventually([] {
            bool connected = b_PSD_ConnectionStatus == 1 || b_CSD_ConnectionStatus == 1;
            return connected && b_CommandMode == 0 && b_ExitDataMode == 0;
        }));
    }

    std::string Read(int wanted, int *result = nullptr)
    {
        std::string data(static_cast<size_t>(wanted), '\0');
        int received = 0;
        int code = s_GsmRead(&data[0], wanted, &received);
        if (result)
            *result = code;
        data.resize(static_cast<size_t>(received));
        return data;
    }

    // Sleeps of the program of exactly `ms`, as requested (unscaled).
    int SleepsOf(long ms) const
    {
        int count = 0;
        for (const timespec &sleep : receiver.Sleeps())
            count += sleep.tv_sec * 1000 + sleep.tv_nsec / 1000000 == ms;
        return count;
    }

    sim::Receiver receiver;
    sim::StandardBoard board;
    sim::GsmModem &modem = *board.gsm;
    sim::Pmu &pmu = *board.pmu;
};

#endif
