// Diagnostic output, the traffic log and sleeping.
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "loader_test.h"

namespace {

using namespace loadertest;

TEST(Diagnostics, MessagesDumpsAndTheTrafficLogAreWrittenUpToTheLevel)
{
    sim::Receiver receiver;
    gl_debug_level = 2;
    EXPECT_EQ(Stdout([] {
                  DebugPrintf(2, "two %s", "x");
                  DebugPrintf(3, "three\n");
                  DumpString(3, "\x02\x02", 2, "Hidden ");  // not even the title
                  DumpString(2, "\x02\x02\x00", 3, "Sending ");
                  DumpString(1, "", 0, "100% ");  // a percent sign in a title is printed as it is
              }),
              "two xSending :02 02 00 \n100% :\n");

    int log[2];
    ASSERT_EQ(pipe(log), 0);
    DumpStringLog(log[1], 2, "\x02\xAB", 2, ">> ");
    DumpStringLog(log[1], 3, "\x02", 1, "<< ");
    errno = 0;
    DumpStringLog(-1, 1, "\x02", 1, "<< ");
    EXPECT_EQ(errno, 0) << "no write was tried";
    EXPECT_EQ(loadertest::Logged(log), ">> 02 AB \n");
}

void Ignore(int) {}

// Split into seconds and nanoseconds, and slept on for what is left when a
// signal interrupts.
TEST(Sleep, SleepsOnForWhatIsLeftWhenSignalsInterrupt)
{
    sim::Receiver receiver(simtest::Scaled(0.1));  // real time: the signals must land inside the sleep
    struct sigaction action = {}, previous;
    action.sa_handler = Ignore;  // no SA_RESTART: the sleep returns EINTR
    sigaction(SIGUSR1, &action, &previous);
    // Signals from before the sleep starts until it ends: the first lands
    // as soon as the interrupter runs, however loaded the machine is.
    std::atomic<bool> slept{false};
    pthread_t sleeper = pthread_self();
    std::thread interrupter([&] {
        while (!slept) {
            pthread_kill(sleeper, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::string out = Stdout([] { Sleep(2999); });
    slept = true;
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(out, "");
    auto sleeps = receiver.Sleeps();
    ASSERT_GE(sleeps.size(), 2u);
    EXPECT_EQ(sleeps[0].tv_sec, 2);
    EXPECT_EQ(sleeps[0].tv_nsec, 999000000);
    for (size_t i = 1; i < sleeps.size(); i++) {
        // What is left may carry the kernel's timer slack (50 us) on top.
        EXPECT_LT(sleeps[i].tv_sec * 1000000000LL + sleeps[i].tv_nsec,
                  sleeps[i - 1].tv_sec * 1000000000LL + sleeps[i - 1].tv_nsec + 1000000)
            << "each time only what is left";
    }
}

}  // namespace
