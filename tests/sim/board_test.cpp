// The simulated board's own seam: a poll that mixes device models with real
// descriptors, presence tests, and any use without a simulated receiver.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "board.h"
#include "sim_test.h"

namespace {

struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(fd, O_CLOEXEC), 0); }
    ~Pipe() { close(fd[0]), close(fd[1]); }
    int fd[2] = {-1, -1};
};

using SimBoard = simtest::SimTest;

// A model is ready at once and a poll with one does not wait; each entry
// gets its own events, whatever it held before, and the count is theirs.
TEST_F(SimBoard, PollsTellModelsAndRealDescriptorsEachTheirOwn)
{
    const int model = Board_Open("/dev/pmu", O_RDWR, 0);
    ASSERT_GE(model, 3);
    Pipe full, empty;
    ASSERT_EQ(write(full.fd[1], "x", 1), 1);
    const short stale = static_cast<short>(POLLERR | POLLHUP | POLLPRI);
    pollfd three[] = {{model, POLLIN, stale}, {full.fd[0], POLLIN, stale}, {empty.fd[0], POLLIN, stale}};
    EXPECT_EQ(Board_Poll(three, 3, 20000), 2);
    EXPECT_EQ(three[0].revents, POLLIN);
    EXPECT_EQ(three[1].revents, POLLIN);
    EXPECT_EQ(three[2].revents, 0);
    pollfd modelAndEmpty[] = {{empty.fd[0], POLLIN, stale}, {model, POLLOUT | POLLPRI, 0}};
    EXPECT_EQ(Board_Poll(modelAndEmpty, 2, -1), 1);
    EXPECT_EQ(modelAndEmpty[0].revents, 0);
    EXPECT_EQ(modelAndEmpty[1].revents, POLLOUT);

    // Real descriptors alone are waited on for as long as asked.
    pollfd waiting{empty.fd[0], POLLIN, 0};
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(write(empty.fd[1], "y", 1), 1);
    });
    EXPECT_EQ(Board_Poll(&waiting, 1, 20000), 1);
    writer.join();
    EXPECT_EQ(waiting.revents, POLLIN);
    Board_Close(model);

    // Presence in the sandbox, and none for a path the sandbox cannot hold.
    EXPECT_EQ(Board_Exists("/dev/pmu"), 1);
    EXPECT_EQ(Board_Exists(("/" + std::string(5000, 'd')).c_str()), 0);
}

// Without a receiver the board reaches nothing of the host's: presence
// tests say no, and anything else stops the program with a word why.
TEST(SimBoardAlone, ReachesNothingOfTheHost)
{
    ASSERT_EQ(sim::Receiver::Current(), nullptr);
    EXPECT_EQ(Board_Exists("/"), 0);
    EXPECT_EXIT(Board_Open("/dev/null", O_RDONLY, 0), ::testing::KilledBySignal(SIGABRT),
                "^simulated board used without a simulated receiver\n");
    // The C library's flush, which the simulator notes for its lines, still works.
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_EQ(tcflush(terminal, TCIOFLUSH), 0);
    close(terminal);
}

}  // namespace
