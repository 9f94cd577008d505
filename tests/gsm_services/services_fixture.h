// A fresh simulated receiver per test: the NOR store open, the GSM task
// running (ended by the clean-up after each test), the modem started and its
// network side attached with loopback peers.
#ifndef GSM_SERVICES_FIXTURE_H
#define GSM_SERVICES_FIXTURE_H

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"
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

// Every operation first asks the modem whether it is ready and gives the
// answer 1 s (scaled): at 0.02 that is 20 ms, too little on a loaded machine.
// With a connection up, queries escape with "+++", whose 1 s silence the
// modem must hear as one: 0.05 leaves 10 ms.
class ServicesTest : public simtest::SimTest {
protected:
    explicit ServicesTest(double timeScale = 0.05, sim::GsmServicesOptions options = {})
        : SimTest(timeScale), services(*board.gsm, std::move(options))
    {}

    void SetUp() override
    {
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
        ASSERT_EQ(API_SYS_CreateTask(API_TASK_GSM, 10), API_ERR_NONE);
        ASSERT_EQ(API_GSM_Initialize(), API_ERR_NONE);
        modem.ClearCommands();
    }

    void TearDown() override
    {
        API_GSM_Cleanup();
        API_NOR_Cleanup();
        unitreset::Gsm();
    }

    void SetAccess(const char *apn = "internet.orva")
    {
        ASSERT_EQ(API_GSM_PSD_SetAPN(apn), API_ERR_NONE);
        ASSERT_EQ(API_GSM_PSD_SetLogin("user"), API_ERR_NONE);
        ASSERT_EQ(API_GSM_PSD_SetPassword("secret"), API_ERR_NONE);
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

    // Reads until `size` bytes came or the reader reports an end; a read is
    // made only once there is something to take, so a failure does not block.
    std::string ReadAll(int (*read)(char *, int, int *), size_t size, int *result = nullptr)
    {
        std::string data;
        int code = API_ERR_NONE;
        char chunk[700];
        while (data.size() < size && code == API_ERR_NONE) {
            if (!Eventually([] { return i_WPtr != i_RPtr || b_ExitDataMode == 1 || b_CommandMode == 1; }))
                break;
            int received = 0;
            code = read(chunk, static_cast<int>(sizeof chunk), &received);
            data.append(chunk, static_cast<size_t>(received));
        }
        if (result)
            *result = code;
        return data;
    }

    std::string Nor(unsigned address, unsigned length) const { return board.nor->PeekText(address, length); }

    sim::GsmModem &modem = *board.gsm;
    sim::GsmServices services;
};

#endif
