// Runs an unchanged application main on the simulated receiver's standard
// board, for the kernel checks under the emulator: the program is linked with
// --wrap=main (the board comes up before the application runs and goes away
// after it returns) and --wrap=API_Finalize (one power event is raised and
// served while every unit is up, so the signal path is exercised too).
#include <signal.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "API_Init.h"
#include "API_PM.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"
#include "sim/shell_script.h"
#include "sim/standard_board.h"

extern "C" int __real_main(int argc, char **argv);
extern "C" void __real_API_Finalize(void);

namespace {

const std::string kCheck1 = "/usr/local/bin/data_mounted_script1.sh";
const std::string kCheck = "/usr/local/bin/data_mounted_script.sh";
const std::string kResult1 = "/usr/local/bin/mountDataResult1.txt";
const std::string kResult = "/usr/local/bin/mountDataResult.txt";
constexpr uint32_t kPowerEvent = 0x40;

sim::ReceiverOptions Options()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.05;
    return options;
}

// The standard board with what lets every unit start: the USB serial
// gadget's ports, and data partition checks that pass at their first run.
struct Board {
    Board()
    {
        receiver.CreateFile(kCheck1, "#!/bin/sh\n");
        receiver.CreateFile(kCheck, "#!/bin/sh\n");
        shell.When(kCheck1 + " > " + kResult1).WritesFile(kResult1, "1");
        shell.When(kCheck + " > " + kResult).WritesFile(kResult, "1");
        for (int port = 0; port < 5; ++port)
            usbPorts.push_back(std::make_unique<sim::PtyLine>(receiver, "/dev/ttyUSB" + std::to_string(port)));
        receiver.CreateFile("/sys/class/tty/ttyUSB0");
        receiver.CreateFile("/sys/class/tty/ttyUSB1");
        board.pmu->SetEventStatus(0x0102);
    }

    sim::Receiver receiver{Options()};
    sim::StandardBoard board{receiver};
    sim::ShellScript shell{receiver};
    std::vector<std::unique_ptr<sim::PtyLine>> usbPorts;
};

Board *g_board = nullptr;
std::atomic<int> g_powerEvents{0};

void CountPowerEvent(int) { g_powerEvents.fetch_add(1); }

}  // namespace

extern "C" void __wrap_API_Finalize(void)
{
    const int served = API_INIT_SIGNALS | API_INIT_PM | API_INIT_POWER_EVENTS;
    if (g_board && API_IsInitialized(served)) {
        API_PM_StatusCallback(CountPowerEvent);
        g_board->board.gpio->RaiseEvents(kPowerEvent);
        for (int i = 0; i < 5000 && g_powerEvents.load() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        fprintf(stderr, "sim: power event %s\n", g_powerEvents.load() ? "served" : "NOT served");
        API_PM_StatusCallback(nullptr);
    }
    __real_API_Finalize();
}

extern "C" int __wrap_main(int argc, char **argv)
{
    try {
        g_board = new Board;
    } catch (const std::exception &error) {
        fprintf(stderr, "sim: %s\n", error.what());
        return 2;
    }
    int status = __real_main(argc, argv);
    fflush(stdout);
    delete g_board;
    g_board = nullptr;
    return status;
}
