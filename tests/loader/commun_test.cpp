// Diagnostic output, sleeping and the byte-buffer search.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "Commun.h"
#include "sim/receiver.h"

namespace {

TEST(Diagnostics, MessagesAndDumpsAreShownUpToTheLevel)
{
    gl_debug_level = 2;
    testing::internal::CaptureStdout();
    DebugPrintf(2, "two %s", "x");
    DebugPrintf(3, "three\n");
    DumpString(3, "\x02\x02", 2, "Hidden ");  // not even the title
    DumpString(2, "\x02\x02\x00", 3, "Sending ");
    DumpString(1, "", 0, "100% ");  // a percent sign in a title is printed as it is
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "two xSending :02 02 00 \n100% :\n");

}

TEST(Sleep, SplitsTheRequestIntoSecondsAndNanoseconds)
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    sim::Receiver receiver(options);
    Sleep(0);
    Sleep(1500);
    auto sleeps = receiver.Sleeps();
    ASSERT_EQ(sleeps.size(), 2u);
    EXPECT_EQ(sleeps[0].tv_sec, 0);
    EXPECT_EQ(sleeps[0].tv_nsec, 0);
    EXPECT_EQ(sleeps[1].tv_sec, 1);
    EXPECT_EQ(sleeps[1].tv_nsec, 500000000);
}

void Ignore(int) {}

TEST(Sleep, SleepsOnForTheRestWhenASignalInterrupts)
{
    sim::Receiver receiver;  // unscaled: the signal must land inside the sleep
    struct sigaction action = {}, previous;
    action.sa_handler = Ignore;  // no SA_RESTART: the sleep returns EINTR
    sigaction(SIGUSR1, &action, &previous);
    pthread_t sleeper = pthread_self();
    std::thread interrupter([sleeper] {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        pthread_kill(sleeper, SIGUSR1);
    });
    Sleep(300);
    interrupter.join();
    sigaction(SIGUSR1, &previous, nullptr);

    auto sleeps = receiver.Sleeps();
    ASSERT_EQ(sleeps.size(), 2u);
    EXPECT_GT(sleeps[1].tv_nsec, 0);
    EXPECT_LT(sleeps[1].tv_nsec, 300000000);
}

TEST(MyStrStr, SearchesBinaryDataWithinTheLength)
{
    char data[] = {'+', 'W', 'I', 'N', 0, 'O', 'K', '\r', 'x'};
    char ok[] = "OK", okcr[] = "OK\r", win[] = "+WIN", empty[] = "", aab[] = "aab", ab[] = "ab";
    EXPECT_EQ(MyStrStr(data, sizeof data, ok), data + 5);  // behind a zero byte
    EXPECT_EQ(MyStrStr(data, 8, okcr), data + 5);            // ending at the last byte
    EXPECT_EQ(MyStrStr(data, 7, okcr), nullptr);
    EXPECT_EQ(MyStrStr(data, sizeof data, win), data);
    EXPECT_EQ(MyStrStr(data, sizeof data, empty), nullptr);
    EXPECT_EQ(MyStrStr(data, 3, win), nullptr);
    EXPECT_EQ(MyStrStr(aab, 3, ab), aab + 1);  // after a partial match
}

}  // namespace
