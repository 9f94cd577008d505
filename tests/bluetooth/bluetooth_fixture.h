// A fresh simulated receiver per test with the Bluetooth unit started against
// the simulated module, and the unit's process-wide state put back afterwards.
#ifndef BLUETOOTH_FIXTURE_H
#define BLUETOOTH_FIXTURE_H

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Bluetooth.h"
#include "API_Errors.h"
#include "API_NOR.h"
#include "internal/API_Bluetooth.h"
#include "sim/bluetooth_module.h"
#include "sim_test.h"

using namespace bt;
using simtest::Eventually;

// 5 % of real time: the escape's one-second guards become 50 ms, wide enough
// for a loaded machine, and a start-up takes about 150 ms.
class BluetoothTest : public simtest::SimTest {
protected:
    explicit BluetoothTest(double timeScale = 0.05) : SimTest(timeScale) {}

    void SetUp() override
    {
        unitreset::Bluetooth();
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
    }

    void TearDown() override
    {
        API_Bluetooth_Cleanup();
        API_NOR_Cleanup();
        unitreset::ClosePmu();
        unitreset::Bluetooth();
    }

    // Starts the unit; the module's start-up traffic is forgotten afterwards.
    void Start()
    {
        ASSERT_EQ(API_Bluetooth_Init(), API_ERR_NONE);
        commandsAtStart = module.Commands().size();
    }

    std::vector<std::string> CommandsSinceStart() const
    {
        std::vector<std::string> all = module.Commands();
        return std::vector<std::string>(all.begin() + static_cast<long>(commandsAtStart), all.end());
    }

    // Brings a link up and waits until the unit is in data mode.
    void Connect(const std::string &firstData = "")
    {
        ASSERT_TRUE(module.Connect("00:11:22:33:44:55", firstData));
        ASSERT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 1; }));
    }

    // Reads until `count` bytes came or the read reports the link's end.
    static std::string ReadAll(size_t count, int chunk = 512)
    {
        std::string got;
        std::vector<char> buffer(static_cast<size_t>(chunk));
        while (got.size() < count) {
            int n = -1;
            if (API_Bluetooth_ReadData(buffer.data(), chunk, &n) != API_ERR_NONE)
                break;
            got.append(buffer.data(), static_cast<size_t>(n));
        }
        return got;
    }

    sim::BluetoothModule &module = *board.bluetooth;
    size_t commandsAtStart = 0;
};

#endif
