// The GSM unit against the simulated modem: the PMU and the NOR store open,
// the application's task created and the modem started (unless a test starts it itself); the
// clean-up ends the task before the line goes, and the unit is left as the
// process starts it.
#ifndef GSM_FIXTURE_H
#define GSM_FIXTURE_H

#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"
#include "internal/API_Uart.h"
#include "sim/gsm_services.h"
#include "sim_test.h"

using simtest::Eventually;
using Lines = std::vector<std::string>;

// Every byte value, several times over: no modem text hides in it.
inline std::string AllBytes(size_t size, bool reversed = false)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(reversed ? 255 - i % 256 : i % 256);
    return bytes;
}

// Reads until `size` bytes came or the reader reports the stream's end.
inline std::string Read(size_t size, int *result = nullptr, int (*read)(char *, int, int *) = s_GsmRead)
{
    std::string data;
    int code = API_ERR_NONE;
    char chunk[1000];
    while (data.size() < size && code == API_ERR_NONE) {
        int received = 0;
        code = read(chunk, static_cast<int>(std::min(sizeof chunk, size - data.size())), &received);
        data.append(chunk, static_cast<size_t>(received));
    }
    if (result)
        *result = code;
    return data;
}

// At 0.05 a 10 s answer wait lasts 0.5 s, the 1 s one of a readiness poll
// 50 ms (20 ms at 0.02 is too little on a loaded machine), and an escape's
// guard silence is heard as one.
class GsmTest : public simtest::SimTest {
protected:
    explicit GsmTest(double timeScale = 0.05, bool start = true) : SimTest(timeScale), start(start) {}

    void SetUp() override
    {
        OnSleep();
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
        ASSERT_EQ(API_SYS_CreateTask(API_TASK_GSM, 10), API_ERR_NONE);
        if (start)
            StartModem();
    }

    void TearDown() override
    {
        API_GSM_Cleanup();
        API_NOR_Cleanup();
        unitreset::Gsm();
    }

    // Each of the unit's waits starts once the modem has caught up: on a
    // loaded machine the answers decide, and the guards are heard whole.
    void OnSleep(const std::function<void(long)> &also = nullptr)
    {
        receiver.SetSleepHook([this, also](long ms) {
            modem.WaitCaughtUp(1000);
            if (also)
                also(ms);
        });
    }

    // Starts the modem and forgets the start-up's traffic.
    void StartModem()
    {
        ASSERT_EQ(API_GSM_Initialize(), API_ERR_NONE);
        modem.ClearCommands();
    }

    void ConnectFromModem(const std::string &firstPayload = "")
    {
        modem.Connect(firstPayload);
        ASSERT_TRUE(Eventually([] {
            return b_PSD_ConnectionStatus + b_CSD_ConnectionStatus == 1 && b_CommandMode == 0 && b_ExitDataMode == 0;
        }));
    }

    // Command lines sent whole (their CR left out), or by their start.
    int CountSent(const std::string &command, bool whole = true) const
    {
        Lines sent = modem.Commands();
        return static_cast<int>(std::count_if(sent.begin(), sent.end(), [&](const std::string &line) {
            return whole ? line == command + "\r" : line.compare(0, command.size(), command) == 0;
        }));
    }
    bool Sent(const std::string &command) const { return CountSent(command) > 0; }

    const bool start;
    sim::GsmModem &modem = *board.gsm;
    sim::Pmu &pmu = *board.pmu;
};

// The services (packet data, calls, status, settings): the modem's network
// side attached with loopback peers.
class ServicesTest : public GsmTest {
protected:
    explicit ServicesTest(sim::GsmServicesOptions options = {}, double timeScale = 0.05)
        : GsmTest(timeScale), services(*board.gsm, std::move(options))
    {}

    void SetAccess(const char *apn = "internet.orva")
    {
        ASSERT_EQ(API_GSM_PSD_SetAPN(apn), API_ERR_NONE);
        ASSERT_EQ(API_GSM_PSD_SetLogin("user"), API_ERR_NONE);
        ASSERT_EQ(API_GSM_PSD_SetPassword("secret"), API_ERR_NONE);
    }

    std::string Nor(unsigned address, unsigned length) const { return board.nor->PeekText(address, length); }

    sim::GsmServices services;
};

#endif
