// Sleep, task creation and the driver signals, with real signals.
#include <signal.h>

#include <chrono>
#include <thread>

#include "event_recorder.h"
#include "frame_fixture.h"
#include "internal/API_Signal.h"
#include "internal/API_USBDevice.h"

namespace {

using Sleep = FrameTest;

TEST_F(Sleep, AsksForSecondsAndNanosecondsAndTaskCreationChecksItsArguments)
{
    EXPECT_EQ((Codes{API_Sleep(2500), API_Sleep(0), int(receiver.Sleeps().size()), int(receiver.Sleeps()[0].tv_sec),
                     int(receiver.Sleeps()[0].tv_nsec)}),
              (Codes{0, 0, 2, 2, 500000000}));
    EXPECT_NE(API_Sleep(-5), 0);
    EXPECT_EQ((Codes{API_SYS_CreateTask(2, 50), API_SYS_CreateTask(0, 50), API_SYS_CreateTask(1, 1000)}),
              (Codes{API_ERR_INVALID_TASK_IDENTIFIER, API_ERR_INVALID_TASK_IDENTIFIER, API_ERR_TASK_SET_SCHEDULER}));
}

// What the unit callbacks saw, in order: the PPS its events, USB 2 + the
// device state, Ethernet 5.
simtest::EventRecorder g_seen;
int OnPps(void *, unsigned events) { return g_seen.Record(int(events)), 0; }
void OnUsb(int) { g_seen.Record(2 + device_state); }
int OnEthernet(int) { return g_seen.Record(5), 0; }

class Signals : public FrameTest {
protected:
    Signals() : FrameTest(1.0) {}
    ~Signals() override { unitreset::Usb(); }
};

TEST_F(Signals, PendingEventsAreServedInTableOrderAndOnlyFromTheDriver)
{
    API_USB_Init(OnUsb);
    ASSERT_EQ((Codes{API_GNSS_PPSCallback(OnPps), API_Signal_Initialize()}), Codes(2, 0));
    board.gpio->SetPendingEvents(API_EVENT_USB_CONNECTED);
    ASSERT_EQ(sim::SendSignalAs(SIGUSR2, 1), 0);
    ASSERT_EQ(sim::SendSignalAs(SIGIO, 1), 0);
    EXPECT_EQ(board.gpio->EventReads(), 0);

    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS | 0x08 | 0x80);
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3}));  // PPS, then connected
    board.gpio->RaiseEvents(API_EVENT_USB_DISCONNECTED);
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3, 2}));

    board.gpio->FailIoctl(sim::GpioDriver::kGetEvents, EIO);
    errno = EDOM;
    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS);
    EXPECT_EQ(errno, EDOM) << "the handler must leave errno as it found it";
    EXPECT_EQ((Codes{int(g_seen.Values().size()), device_state}), (Codes{3, 0}));

    ASSERT_EQ(API_ETH_Init(OnEthernet), 0);
    receiver.CreateFile("/var/netlink");
    board.gpio->RaiseSigio();
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3, 2, 5}));

    // A sleep lasts its whole time through a signal, resumed for what was left.
    std::thread raiser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        board.gpio->RaiseEvents(0);
    });
    auto start = std::chrono::steady_clock::now();
    size_t sleeps = receiver.Sleeps().size();
    EXPECT_EQ(API_Sleep(200), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    raiser.join();
    EXPECT_GE(receiver.Sleeps().size(), sleeps + 2);

    // The clean-up restores both handlers and closes the device once;
    // without the device only SIGUSR2 is installed.
    EXPECT_EQ(API_Signal_Cleanup() + API_Signal_Cleanup(), 0);
    EXPECT_EQ(board.gpio->OpenDescriptors(), 0);
    struct sigaction usr2, io;
    sigaction(SIGUSR2, nullptr, &usr2);
    EXPECT_EQ(usr2.sa_handler, SIG_DFL);
    receiver.FailOpen("/dev/gpio", ENOENT);
    EXPECT_EQ(API_Signal_Initialize(), API_ERR_OPEN_FILE);
    sigaction(SIGUSR2, nullptr, &usr2);
    sigaction(SIGIO, nullptr, &io);
    EXPECT_EQ(usr2.sa_sigaction, SIGUSR2_handler);
    EXPECT_TRUE(usr2.sa_flags & SA_SIGINFO);
    EXPECT_EQ(io.sa_handler, SIG_DFL);
    API_Signal_Cleanup();
}

}  // namespace
