// The real board's calls on files, the shell and the clock, all
// inside a temporary directory of this test's own.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "board.h"

namespace {

TEST(LinuxBoard, FilesTheShellAndTheClockWithFailuresInErrno)
{
    std::string dir = "/tmp/board_linux_XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/file.bin";
    EXPECT_EQ(Board_Exists(path.c_str()), 0);
    EXPECT_EQ(Board_Open(path.c_str(), O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    const int fd = Board_Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Board_Exists(path.c_str()), 1);
    EXPECT_EQ(Board_Write(fd, "abcdef", 6), 6);
    EXPECT_EQ(Board_Lseek(fd, 2, SEEK_SET), 2);
    char buffer[8] = {};
    EXPECT_EQ(Board_Read(fd, buffer, sizeof buffer), 4);
    EXPECT_STREQ(buffer, "cdef");
    EXPECT_EQ(Board_Close(fd), 0);
    EXPECT_EQ(Board_Close(fd), -1);
    EXPECT_EQ(errno, EBADF);
    const std::string renamed = dir + "/renamed.bin";
    EXPECT_EQ(Board_Rename(path.c_str(), renamed.c_str()), 0);
    EXPECT_EQ(Board_Exists(path.c_str()) * 2 + Board_Exists(renamed.c_str()), 1);
    EXPECT_EQ(Board_Rename(path.c_str(), renamed.c_str()), -1);
    EXPECT_EQ(Board_Unlink(renamed.c_str()), 0);
    EXPECT_EQ(Board_Unlink(renamed.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);

    // Without standard input and error, an open would get 0, then 2: both go
    // above the standard streams, keeping their close-on-exec flag.
    const int input = dup(0), error = dup(2);
    close(0);
    close(2);
    const int first = Board_Open(dir.c_str(), O_RDONLY | O_CLOEXEC, 0);
    dup2(input, 0);
    const int second = Board_Open(dir.c_str(), O_RDONLY, 0);
    const int low = fcntl(2, F_GETFD);
    dup2(error, 2);
    EXPECT_GT(first, 2);
    EXPECT_GT(second, 2);
    EXPECT_EQ(low, -1);
    EXPECT_EQ(fcntl(first, F_GETFD) * 2 + fcntl(second, F_GETFD), FD_CLOEXEC * 2);
    for (int fd : {input, error, first, second})
        close(fd);

    std::filesystem::remove_all(dir);

    EXPECT_EQ(WEXITSTATUS(Board_System("exit 3")), 3);
    const timespec invalid{0, 1000 * 1000 * 1000};
    EXPECT_EQ(Board_Nanosleep(&invalid, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
