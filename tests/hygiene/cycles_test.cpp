// Start-up and shut-down of every unit, ten times in one process on the
// standard simulated board: no task of the API outlives a cycle, no
// descriptor stays open, the heap does not grow, and every cycle behaves like
// the first.  The one exception is the watchdog that the start-up armed: it
// stays open and armed for the application, and stays one descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "API_Init.h"
#include "API_PART.h"
#include "API_PM.h"
#include "API_SYS.h"
#include "API_Watchdog.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"
#include "sim/shell_script.h"
#include "sim/standard_board.h"
#include "threads.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define HYGIENE_SANITIZED 1
#else
#define HYGIENE_SANITIZED 0
#endif

extern "C" int __lsan_do_recoverable_leak_check(void) __attribute__((weak));

namespace {

constexpr int kAllUnits = 0xFFFFF;
constexpr int kCycles = 10;
constexpr int kGsmTaskPriority = 50;
constexpr int kPowerEvent = 0x40;

const std::string kCheck1 = "/usr/local/bin/data_mounted_script1.sh";
const std::string kCheck = "/usr/local/bin/data_mounted_script.sh";
const std::string kResult1 = "/usr/local/bin/mountDataResult1.txt";
const std::string kResult = "/usr/local/bin/mountDataResult.txt";

// Every open descriptor and what it refers to, the listing's own left out.
std::map<int, std::string> Descriptors()
{
    std::map<int, std::string> open;
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return open;
    while (dirent *entry = readdir(dir)) {
        int fd = atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == dirfd(dir))
            continue;
        char target[4096];
        ssize_t length = readlink((std::string("/proc/self/fd/") + entry->d_name).c_str(), target, sizeof target - 1);
        open[fd] = length < 0 ? std::string("?") : std::string(target, static_cast<size_t>(length));
    }
    closedir(dir);
    return open;
}

std::string Show(const std::map<int, std::string> &descriptors)
{
    std::ostringstream text;
    for (const auto &entry : descriptors)
        text << entry.first << " -> " << entry.second << "\n";
    return text.str();
}

// A joined thread may stay listed for a moment after the join returns.
bool ThreadsBecome(const std::set<std::string> &wanted)
{
    for (int i = 0; i < 5000; ++i) {
        if (ThreadIds() == wanted)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// One arena for every thread: the heap figures then count allocations only,
// not the arenas that threads open when they meet in malloc.
const int g_oneArena = mallopt(M_ARENA_MAX, 1);

std::atomic<int> g_powerEvents{0};
void CountPowerEvent(int) { g_powerEvents.fetch_add(1); }

std::vector<std::string> SortedLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    // The tasks print beside the caller: only which lines came counts.
    std::sort(lines.begin(), lines.end());
    return lines;
}

// What one cycle did, as far as it must be the same every time.
struct Cycle {
    int result = -1;
    std::vector<std::string> pmu;
    std::vector<std::string> shell;
    std::vector<std::string> printed;
};

// The modem's and the Bluetooth module's answer waits scale too: a slower
// scale keeps them longer than a sanitizer build's answers take.
sim::ReceiverOptions Fast()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.05;
    return options;
}

// The standard board with what lets every unit start: ports behind the USB
// serial gadget and data partition checks that pass at their first run.
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

    // A pseudo-terminal refuses a request whose only change is parity, which
    // a real port takes: the USB ports come back at their first speed, as
    // after a replug.
    void ReplugUsbPorts()
    {
        for (const auto &port : usbPorts) {
            int fd = open(port->SlaveName().c_str(), O_RDWR | O_NOCTTY);
            termios settings;
            if (fd >= 0 && tcgetattr(fd, &settings) == 0) {
                cfsetospeed(&settings, B38400);
                cfsetispeed(&settings, B38400);
                tcsetattr(fd, TCSANOW, &settings);
            }
            if (fd >= 0)
                close(fd);
        }
    }

    // The application's round: its GSM task, all units, a power event
    // served, the data partition waited for, shut-down.
    Cycle Run()
    {
        ReplugUsbPorts();
        Cycle cycle;
        board.pmu->Log().Clear();
        size_t shellBefore = receiver.ShellCommands().size();
        int eventsBefore = g_powerEvents.load();
        testing::internal::CaptureStdout();
        EXPECT_EQ(API_SYS_CreateTask(1, kGsmTaskPriority), 0);
        cycle.result = API_Initialize(kAllUnits);
        EXPECT_EQ(API_PM_StatusCallback(CountPowerEvent), 0);
        board.gpio->RaiseEvents(kPowerEvent);
        for (int i = 0; i < 5000 && g_powerEvents.load() == eventsBefore; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(API_PART_Data_IsReady(), 0);
        API_Finalize();
        cycle.printed = SortedLines(testing::internal::GetCapturedStdout());
        cycle.pmu = board.pmu->Log().Lines();
        std::vector<std::string> commands = receiver.ShellCommands();
        cycle.shell.assign(commands.begin() + static_cast<long>(shellBefore), commands.end());
        EXPECT_EQ(g_powerEvents.load(), eventsBefore + 1) << "the power event was served";
        return cycle;
    }

    sim::Receiver receiver{Fast()};
    sim::StandardBoard board{receiver};
    sim::ShellScript shell{receiver};
    std::vector<std::unique_ptr<sim::PtyLine>> usbPorts;
};

void ExpectLike(const Cycle &cycle, const Cycle &first)
{
    EXPECT_EQ(cycle.result, first.result);
    EXPECT_EQ(cycle.pmu, first.pmu);
    EXPECT_EQ(cycle.shell, first.shell);
    EXPECT_EQ(cycle.printed, first.printed);
}

class Hygiene : public ::testing::Test {
protected:
    ~Hygiene() override
    {
        if (!board)
            return;
        API_Finalize();
        API_Watchdog_Init(0, 0);
        API_Watchdog_Stop();
    }

    std::unique_ptr<Board> board = std::make_unique<Board>();
};

TEST_F(Hygiene, TenCyclesOnOneBoardLeaveNoTaskOrDescriptorBehind)
{
    const std::set<std::string> threads = ThreadIds();
    const std::map<int, std::string> descriptors = Descriptors();
    const std::string watchdog = board->receiver.HostPath("/dev/watchdog");
    Cycle first;
    int watchdogFd = -1;

    for (int round = 1; round <= kCycles; ++round) {
        SCOPED_TRACE("cycle " + std::to_string(round));
        Cycle cycle = board->Run();
        if (round == 1) {
            first = cycle;
            EXPECT_EQ(first.result, 0) << "every unit starts on the standard board";
            EXPECT_FALSE(first.pmu.empty());
        } else {
            ExpectLike(cycle, first);
        }

        EXPECT_TRUE(ThreadsBecome(threads)) << "a task of the API outlived the shut-down";

        // Only the watchdog the start-up armed is still open, the same one
        // every time: closing it unfed would let the board reboot.
        std::map<int, std::string> open = Descriptors();
        for (const auto &entry : open) {
            if (!descriptors.count(entry.first) && entry.second == watchdog && watchdogFd < 0)
                watchdogFd = entry.first;
        }
        std::map<int, std::string> expected = descriptors;
        if (watchdogFd >= 0)
            expected[watchdogFd] = watchdog;
        EXPECT_EQ(Show(open), Show(expected));
    }
    EXPECT_GE(watchdogFd, 0);
    EXPECT_EQ(board->board.watchdog->Opens(), 1);
    EXPECT_TRUE(board->board.watchdog->IsRunning());

    // The application ends the watchdog itself; then nothing is left.
    EXPECT_EQ(API_Watchdog_Init(0, 0), 0);
    EXPECT_EQ(API_Watchdog_Stop(), 0);
    EXPECT_EQ(board->board.watchdog->MagicCloses(), 1);
    EXPECT_EQ(Show(Descriptors()), Show(descriptors));
}

// The simulated devices keep records of all they saw, so the heap is looked
// at with each cycle's board gone.  The application stops the watchdog
// before its board goes.
TEST_F(Hygiene, TenCyclesDoNotGrowTheHeap)
{
    board.reset();
    std::vector<size_t> heap;
    heap.reserve(kCycles);
    Cycle first;
    for (int round = 1; round <= kCycles; ++round) {
        SCOPED_TRACE("cycle " + std::to_string(round));
        // On a thread of its own, whose exit hands back the chunks its
        // malloc cache holds: they would count as in use.
        std::thread([&] {
            board = std::make_unique<Board>();
            Cycle cycle = board->Run();
            if (round == 1)
                first = cycle;
            else
                ExpectLike(cycle, first);
            EXPECT_EQ(API_Watchdog_Init(0, 0), 0);
            EXPECT_EQ(API_Watchdog_Stop(), 0);
            board.reset();
        }).join();
        heap.push_back(mallinfo2().uordblks);
    }

    if (!HYGIENE_SANITIZED) {
        std::ostringstream sizes;
        for (size_t bytes : heap)
            sizes << bytes << " ";
        // The C library's own caches move the figure by a few hundred bytes
        // while they fill; a buffer the API lost every cycle (its smallest is
        // 1 KB) would add at least 5 KB over the last five.
        const size_t settled = heap[kCycles / 2 - 1];
        EXPECT_LT(heap.back(), settled + 1024) << "heap in use after each cycle: " << sizes.str();
    }
    if (__lsan_do_recoverable_leak_check) {
        EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
    }
}

// A data partition that never reports itself mounted keeps its task
// checking; the shut-down ends it all the same.
TEST_F(Hygiene, ShutDownEndsAMountStillWaiting)
{
    const std::set<std::string> threads = ThreadIds();
    // Written after the board's "1".
    board->shell.When(kCheck1 + " > " + kResult1).WritesFile(kResult1, "0");
    testing::internal::CaptureStdout();
    EXPECT_EQ(API_Initialize(API_INIT_DATA_PARTITION), 0);
    for (int i = 0; i < 5000 && board->shell.RunCount(kCheck1 + " > " + kResult1) < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    API_Finalize();
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(ThreadsBecome(threads)) << printed;
    EXPECT_EQ(printed.find("Signaling Data Partition Mounted"), std::string::npos);
}

}  // namespace
