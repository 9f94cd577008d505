// The simulated receiver's sandbox and board backend.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include "board.h"
#include "sim/nor_flash.h"
#include "sim/receiver.h"

namespace {

TEST(SimReceiver, RebasesBoardPathsMakesNodesAsFilesAndRecordsSleeps)
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    sim::Receiver receiver(options);
    EXPECT_EQ(receiver.HostPath("/etc/ts9_api.cfg"), receiver.Root() + "/etc/ts9_api.cfg");
    EXPECT_EQ(receiver.HostPath("relative.bin"), "relative.bin");
    std::string inside = receiver.Root() + "/tmp/x";
    EXPECT_EQ(receiver.HostPath(inside), inside);
    receiver.CreateFile("/var/ts9.pid", "1\n");
    EXPECT_TRUE(Board_Exists("/var/ts9.pid"));
    EXPECT_EQ(Board_Unlink("/var/ts9.pid"), 0);
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));

    ASSERT_EQ(Board_Mknod("/dev/ttyS1", S_IFCHR | 0666, makedev(4, 65)), 0);
    EXPECT_EQ(Board_Mknod("/dev/ttyS1", S_IFCHR | 0666, makedev(4, 65)), -1);
    EXPECT_EQ(errno, EEXIST);
    struct stat status;
    ASSERT_EQ(stat(receiver.HostPath("/dev/ttyS1").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    ASSERT_EQ(receiver.Mknods().size(), 1u);
    EXPECT_EQ(major(receiver.Mknods()[0].device), 4u);

    timespec request{1, 500000000};
    EXPECT_EQ(Board_Nanosleep(&request, nullptr), 0);
    ASSERT_EQ(receiver.Sleeps().size(), 1u);
    EXPECT_EQ(receiver.Sleeps()[0].tv_sec * 1000000000 + receiver.Sleeps()[0].tv_nsec, 1500000000);
}

TEST(SimReceiver, RoutesModelDescriptorsListsTheOpenOnesAndInjectsOpenFaults)
{
    sim::Receiver receiver;
    auto device = std::make_shared<sim::NorFlash>();
    receiver.AddDevice("/dev/thing", device);
    int fd = Board_Open("/dev/thing", O_RDWR, 0);
    receiver.CreateFile("/tmp/plain");
    int plain = Board_Open("/tmp/plain", O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    using Open = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(receiver.OpenDescriptors(), (Open{{fd, "/dev/thing"}, {plain, "/tmp/plain"}}));
    EXPECT_EQ(Board_Write(fd, "abc", 3), 3);
    EXPECT_EQ(device->ProgrammedAddresses().size(), 3u);
    EXPECT_EQ(Board_Ioctl(fd, 0x1234, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(Board_Close(fd), 0);
    EXPECT_EQ(Board_Close(plain), 0);
    EXPECT_TRUE(receiver.OpenDescriptors().empty());

    receiver.FailOpen("/dev/thing", EACCES);
    EXPECT_EQ(Board_Open("/dev/thing", O_RDWR, 0), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(receiver.OpenCount("/dev/thing"), 2);
}

}  // namespace
