// The real board's calls on files, a FIFO, the shell and the clock, all
// inside a temporary directory of this test's own.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "board.h"

namespace {

TEST(LinuxBoard, FilesAFifoAndTheShellWithFailuresInErrno)
{
    std::string dir = "/tmp/board_linux_XXXXXX";
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::string path = dir + "/file.bin", fifo = dir + "/fifo";
    EXPECT_EQ(Board_Exists(path.c_str()), 0);
    int fd = Board_Open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
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
    EXPECT_EQ(Board_Unlink(path.c_str()), 0);
    EXPECT_EQ(Board_Unlink(path.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);

    ASSERT_EQ(Board_Mknod(fifo.c_str(), S_IFIFO | 0600, 0), 0);
    fd = Board_Open(fifo.c_str(), O_RDWR | O_NONBLOCK, 0);
    pollfd wanted{fd, POLLIN, 0};
    EXPECT_EQ(Board_Poll(&wanted, 1, 0), 0);
    ASSERT_EQ(Board_Write(fd, "xyz", 3), 3);
    EXPECT_EQ(Board_Poll(&wanted, 1, 1000), 1);
    int pending = 0;
    EXPECT_EQ(Board_Ioctl(fd, FIONREAD, &pending), 0);
    EXPECT_EQ(pending, 3);
    Board_Close(fd);
    std::filesystem::remove_all(dir);

    EXPECT_EQ(WEXITSTATUS(Board_System("exit 3")), 3);
    const timespec request{0, 1000}, invalid{0, 1000 * 1000 * 1000};
    EXPECT_EQ(Board_Nanosleep(&request, nullptr), 0);
    EXPECT_EQ(Board_Nanosleep(&invalid, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
