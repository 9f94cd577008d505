// A fresh simulated receiver per test with the Bluetooth unit started against
// the simulated module, and the unit's process-wide state put back afterwards.
#ifndef BLUETOOTH_FIXTURE_H
#define BLUETOOTH_FIXTURE_H

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API_Bluetooth.h"
#include "API_Errors.h"
#include "API_NOR.h"
#include "board.h"
#include "internal/API_Bluetooth.h"
#include "internal/API_PM.h"
#include "sim/bluetooth_module.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

using namespace bt;

// 5 % of real time: the escape's one-second guards become 50 ms, wide enough
// for a loaded machine, and a start-up takes about 150 ms.
inline sim::ReceiverOptions BluetoothReceiver(double timeScale = 0.05)
{
    sim::ReceiverOptions options;
    options.timeScale = timeScale;
    return options;
}

// Polls `condition` for up to `ms` of host time.
inline bool Eventually(const std::function<bool()> &condition, int ms = 3000)
{
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class BluetoothTest : public ::testing::Test {
protected:
    explicit BluetoothTest(double timeScale = 0.05) : receiver(BluetoothReceiver(timeScale)), board(receiver) {}

    void SetUp() override
    {
        ResetUnitState();
        ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0);
        ASSERT_GT(ifd_pmu, 0);
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
    }

    void TearDown() override
    {
        API_Bluetooth_Cleanup();
        API_NOR_Cleanup();
        if (ifd_pmu > 0)
            Board_Close(ifd_pmu);
        ifd_pmu = 0;
        ResetUnitState();
    }

    static void ResetUnitState()
    {
        for (std::atomic<int> *flag : {&b_ConnectionStatus, &b_RestaureDataMode, &b_switchToCommandModeRequested,
                                       &b_switchToDataModeRequested, &b_BTDebug, &b_ExitDataMode})
            *flag = 0;
        p_btcallback = nullptr;
        memset(a_DeviceName, 0, sizeof a_DeviceName);
        memset(a_Type, 0, sizeof a_Type);
        memset(a_MACAddress, 0, sizeof a_MACAddress);
        memset(a_Version, 0, sizeof a_Version);
        strcpy(a_PinCode, "5820");
        i_DevNameLength = i_DevTypeLength = i_PinCodeLength = 0;
        b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = b_GotProfile = 0;
        b_EnablePinRequest = 0;
        b_GotBTParameters = 0;
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

    sim::Receiver receiver;
    sim::StandardBoard board;
    sim::BluetoothModule &module = *board.bluetooth;
    size_t commandsAtStart = 0;
};

#endif
