// A fresh simulated receiver per test with the Bluetooth unit against the
// simulated module, and the unit's process-wide state put back afterwards.
#ifndef BLUETOOTH_FIXTURE_H
#define BLUETOOTH_FIXTURE_H

#include <string.h>

#include <atomic>
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
using Lines = std::vector<std::string>;
using Codes = std::vector<int>;

// Links the unit announced through its callback.
inline std::atomic<int> g_links{0};
inline void CountLink() { ++g_links; }

// One read's result, its bytes dropped.
inline int ReadOnce()
{
    char buffer[8];
    int count = -1;
    return API_Bluetooth_ReadData(buffer, sizeof buffer, &count);
}

// 5 % of real time: the escape's one-second guards become 50 ms, wide enough
// for a loaded machine, and a start-up takes about 150 ms.
class BluetoothTest : public simtest::SimTest {
protected:
    BluetoothTest() : SimTest(0.05) {}

    void SetUp() override
    {
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
        g_links = 0;
    }

    void TearDown() override
    {
        API_Bluetooth_Cleanup();
        API_NOR_Cleanup();
        unitreset::Bluetooth();
    }

    // Starts the unit; the module's start-up traffic is forgotten.
    void Start()
    {
        ASSERT_EQ(API_Bluetooth_Init(), API_ERR_NONE);
        heardAtStart = module.Commands().size();
    }

    Lines CommandsSinceStart() const
    {
        Lines all = module.Commands();
        return Lines(all.begin() + static_cast<long>(heardAtStart), all.end());
    }

    // The host returns once a line is written; the module takes it a moment later.
    bool Heard(size_t commands)
    {
        return Eventually([&] { return CommandsSinceStart().size() >= commands; });
    }

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
        int n = -1;
        while (got.size() < count && API_Bluetooth_ReadData(buffer.data(), chunk, &n) == API_ERR_NONE)
            got.append(buffer.data(), static_cast<size_t>(n));
        return got;
    }

    // What a getter hands out, as "text/length", or its error code.
    static std::string Got(int (*get)(char *, int *))
    {
        char text[API_BLUETOOTH_COMMAND_MAX] = "stale";
        int length = -1;
        int result = get(text, &length);
        return result ? "error " + std::to_string(result) : std::string(text) + "/" + std::to_string(length);
    }

    sim::BluetoothModule &module = *board.bluetooth;
    size_t heardAtStart = 0;
};

class BluetoothStarted : public BluetoothTest {
protected:
    void SetUp() override
    {
        BluetoothTest::SetUp();
        Start();
    }
};

#endif
