// Sleep, task creation and the driver signals, with real signals.
#include <errno.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "API_Ethernet.h"
#include "API_GNSS.h"
#include "API_SYS.h"
#include "API_Signal.h"
#include "API_USBDevice.h"
#include "frame_fixture.h"
#include "internal/API_Signal.h"
#include "internal/API_USBDevice.h"

namespace {

using Sleep = FrameTest;

TEST_F(Sleep, AsksForSecondsAndNanosecondsAndTaskCreationChecksItsArguments)
{
    EXPECT_EQ(API_Sleep(2500), 0);
    EXPECT_EQ(API_Sleep(0), 0);
    ASSERT_EQ(receiver.Sleeps().size(), 2u);
    EXPECT_EQ(receiver.Sleeps()[0].tv_sec, 2);
    EXPECT_EQ(receiver.Sleeps()[0].tv_nsec, 500000000);
    EXPECT_NE(API_Sleep(-5), 0);

    EXPECT_EQ(API_SYS_CreateTask(2, 50), API_ERR_INVALID_TASK_IDENTIFIER);
    EXPECT_EQ(API_SYS_CreateTask(0, 50), API_ERR_INVALID_TASK_IDENTIFIER);
    EXPECT_EQ(API_SYS_CreateTask(1, 1000), API_ERR_TASK_SET_SCHEDULER);
}

class SleepRealTime : public FrameTest {
protected:
    SleepRealTime() : FrameTest(1.0) {}
};

TEST_F(SleepRealTime, LastsTheWholeTimeThroughASignal)
{
    ASSERT_EQ(API_Signal_Initialize(), 0);
    std::thread raiser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        board.gpio->RaiseEvents(0);
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(API_Sleep(200), 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    raiser.join();
    EXPECT_GE(elapsed, std::chrono::milliseconds(200));
    ASSERT_GE(receiver.Sleeps().size(), 2u) << "resumed for what was left";
    API_Signal_Cleanup();
}

// What the unit callbacks saw, in order; written in signal context.
std::atomic<int> g_seen[8];
std::atomic<int> g_seenCount{0};
std::atomic<unsigned> g_ppsEvents{0};

void Saw(int what)
{
    int slot = g_seenCount.fetch_add(1);
    if (slot < 8)
        g_seen[slot].store(what);
}

int OnPps(void *, unsigned events)
{
    g_ppsEvents.store(events);
    Saw(1);
    return 0;
}
void OnUsb(int) { Saw(2 + device_state); }
int OnEthernet(int)
{
    Saw(5);
    return 0;
}

class Signals : public FrameTest {
protected:
    Signals()
    {
        EXPECT_EQ(API_GNSS_PPSCallback(OnPps), 0);
        API_USB_Init(OnUsb);
        EXPECT_EQ(API_Signal_Initialize(), 0);
    }
    ~Signals() override
    {
        API_Signal_Cleanup();
        unitreset::Usb();
    }

    static std::vector<int> Seen()
    {
        std::vector<int> seen;
        for (int i = 0; i < g_seenCount.load() && i < 8; ++i)
            seen.push_back(g_seen[i].load());
        return seen;
    }
};

TEST_F(Signals, PendingEventsAreServedInTableOrderAndOnlyFromTheDriver)
{
    board.gpio->SetPendingEvents(API_EVENT_USB_CONNECTED);
    ASSERT_EQ(sim::SendSignalAs(SIGUSR2, 1), 0);
    ASSERT_EQ(sim::SendSignalAs(SIGIO, 1), 0);
    EXPECT_EQ(board.gpio->EventReads(), 0);

    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS | 0x08 | 0x80);
    EXPECT_EQ(Seen(), (std::vector<int>{1, 3}));  // PPS, then connected (device_state 1)
    EXPECT_EQ(g_ppsEvents.load(), 0x8Bu);
    board.gpio->RaiseEvents(API_EVENT_USB_DISCONNECTED);
    EXPECT_EQ(Seen(), (std::vector<int>{1, 3, 2}));

    board.gpio->FailIoctl(sim::GpioDriver::kGetEvents, EIO);
    errno = EDOM;
    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS);
    EXPECT_EQ(errno, EDOM) << "the handler must leave errno as it found it";
    EXPECT_EQ(Seen().size(), 3u);
    EXPECT_EQ(device_state, 0);

    ASSERT_EQ(API_ETH_Init(OnEthernet), 0);
    receiver.CreateFile("/var/netlink");
    board.gpio->RaiseSigio();
    EXPECT_EQ(Seen(), (std::vector<int>{1, 3, 2, 5}));
}

TEST_F(Sleep, WithoutTheGpioDeviceOnlySigusr2IsInstalledAndCleanupClosesOnce)
{
    receiver.FailOpen("/dev/gpio", ENOENT);
    EXPECT_EQ(API_Signal_Initialize(), API_ERR_OPEN_FILE);
    struct sigaction usr2, io;
    sigaction(SIGUSR2, nullptr, &usr2);
    sigaction(SIGIO, nullptr, &io);
    EXPECT_EQ(usr2.sa_sigaction, SIGUSR2_handler);
    EXPECT_TRUE(usr2.sa_flags & SA_SIGINFO);
    EXPECT_EQ(io.sa_handler, SIG_DFL);

    receiver.ClearOpenFault("/dev/gpio");
    ASSERT_EQ(API_Signal_Initialize(), 0);
    EXPECT_EQ(API_Signal_Cleanup(), 0);
    EXPECT_EQ(API_Signal_Cleanup(), 0);
    EXPECT_EQ(board.gpio->OpenDescriptors(), 0);
    sigaction(SIGUSR2, nullptr, &usr2);
    sigaction(SIGIO, nullptr, &io);
    EXPECT_EQ(usr2.sa_handler, SIG_DFL);
    EXPECT_EQ(io.sa_handler, SIG_DFL);
}

}  // namespace
