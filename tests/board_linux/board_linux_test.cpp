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
    EXPECT_EQ(Board_Unlink(path.c_str()), 0);
    EXPECT_EQ(Board_Unlink(path.c_str()), -1);
    EXPECT_EQ(errno, ENOENT);

    std::filesystem::remove_all(dir);

    EXPECT_EQ(WEXITSTATUS(Board_System("exit 3")), 3);
    const timespec invalid{0, 1000 * 1000 * 1000};
    EXPECT_EQ(Board_Nanosleep(&invalid, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
