// The data partition mount task: its commands in order for each partition, the
// check scripts' result files, and the semaphore that ends the wait.
#include <errno.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

#include "internal/API_PART.h"
#include "threads.h"
#include "usb_board.h"

namespace {

using Commands = std::vector<std::string>;

const std::string kScript1 = "/usr/local/bin/data_mounted_script1.sh";
const std::string kResult1 = "/usr/local/bin/mountDataResult1.txt";
const std::string kCheck1 = kScript1 + " > " + kResult1;
const std::string kUsbCheck1 = "/usr/local/bin/usb_data_mounted_script1.sh > " + kResult1;
const std::string kCheck = "/usr/local/bin/data_mounted_script.sh > /usr/local/bin/mountDataResult.txt";
const std::string kMountInternal = "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop0 /mnt/flashfs";
const Commands kInternalMount = {"modprobe g_file_storage file=/root/datas/backing_file stall=0 removable=y",
                                 "losetup -o 4096 /dev/loop0 /root/datas/backing_file", kMountInternal};
const Commands kUsbMount = {"modprobe g_file_storage file=/mnt/usbdatas/backing_file stall=0 removable=y",
                            "losetup -o 4096 /dev/loop1 /mnt/usbdatas/backing_file",
                            "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop1 /mnt/flashfs"};

Commands Joined(Commands first, const Commands &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class DataPartitionTest : public usbtest::UsbBoardTest {
protected:
    // Runs a mount to its end and gives what was printed, the priority line
    // (granted or not by the host) left out.
    std::string MountAndWait(int selection)
    {
        std::string output = simtest::Stdout([selection] {
            EXPECT_EQ(API_PART_Data_Mount(selection), 0);
            EXPECT_EQ(API_PART_Data_IsReady(), 0);
        });
        const std::string priority = "Priority of of mount partition task set to 4 and policy FIFO\n";
        if (output.find(priority) != std::string::npos)
            output.erase(output.find(priority), priority.size());
        return output;
    }
};

TEST_F(DataPartitionTest, InternalPartitionMountsWhenItsScriptsAnswerOne)
{
    EXPECT_EQ(API_PART_Data_IsReady(), API_ERR_CREATING_MOUNT_TASK) << "nothing will ever signal";
    // Without check scripts the mount signals at once.
    std::string output = MountAndWait(0);
    // The state is known from then on, whatever errno says.
    errno = EINTR;
    EXPECT_EQ(API_PART_Data_IsReady(), 0);
    EXPECT_TRUE(receiver.Sleeps().empty());
    // The waiting caller and the task print side by side.
    output.erase(output.find("Wait Semaphore Data Partition Mounted\n"), 38);
    EXPECT_NE(output.find("mount_task Selection = 0\r\n\n\r\nLoad Drive mass storage begin\n"
                          "\r\nCheck if /mnt/datas is mount\n\r\nCheck if /mnt/flashfs is mount\n"
                          "Signaling Data Partition Mounted\n"),
              std::string::npos)
        << output;

    // A new mount starts unsignalled, and joins the task before it.
    receiver.CreateFile(kScript1);
    receiver.CreateFile("/usr/local/bin/data_mounted_script.sh");
    shell.When(kCheck1).WritesFileInTurn(kResult1, {"0", "0", "1"});
    // The second check's result comes only after the task has waited for it.
    std::thread late([this] {
        simtest::Eventually([this] { return receiver.Sleeps().size() >= 3; });
        receiver.CreateFile("/usr/local/bin/mountDataResult.txt", "1\n");
    });
    MountAndWait(0);
    late.join();
    EXPECT_EQ(shell.Commands(),
              Joined(kInternalMount, Joined({kCheck1, kCheck1, kCheck1}, Joined(kInternalMount, {kCheck}))));
    std::vector<long> sleeps;
    for (const timespec &sleep : receiver.Sleeps())
        sleeps.push_back(sleep.tv_sec * 1000 + sleep.tv_nsec / 1000000);
    sleeps.resize(3);
    EXPECT_EQ(sleeps, (std::vector<long>{2000, 2000, 1000}));
}

TEST_F(DataPartitionTest, AnySelectionOtherThanZeroIsTheUsbPartition)
{
    receiver.CreateFile("/usr/local/bin/usb_data_mounted_script1.sh");
    receiver.CreateFile(kScript1);  // the internal partition's script must not run
    shell.When(kUsbCheck1).WritesFileInTurn(kResult1, {"x", "1"});

    std::string output = MountAndWait(0x102);  // only the low byte counts: 2
    EXPECT_EQ(shell.Commands(), Joined({kUsbCheck1, kUsbCheck1}, kUsbMount));
    EXPECT_NE(output.find("mount_task Selection = 2\r\n"), std::string::npos);
    EXPECT_NE(output.find("\r\nCheck if /mnt/usbdatas is mount\n"), std::string::npos);
}

// One mount at a time; the shut-down does not wait for ever on a check script
// that never returns, and the task, once it does return, ends at once.
TEST_F(DataPartitionTest, ShutDownLeavesBehindACheckThatNeverReturns)
{
    const std::set<std::string> threads = ThreadIds();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    receiver.CreateFile(kScript1);
    std::atomic<int> policy{-1}, priority{-1};
    shell.When(kCheck1).Does([&, released] {
        int own = -1;
        sched_param task{};
        pthread_getschedparam(pthread_self(), &own, &task);  // on the mount task
        policy = own;
        priority = task.sched_priority;
        released.wait();
    });
    testing::internal::CaptureStdout();
    ASSERT_EQ(API_PART_Data_Mount(0), 0);
    ASSERT_TRUE(simtest::Eventually([&] { return shell.RunCount(kCheck1) == 1; }));
    EXPECT_EQ(API_PART_Data_Mount(1), API_ERR_CREATING_MOUNT_TASK);
    auto waiting = std::async(std::launch::async, [] { return API_PART_Data_IsReady(); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);

    auto stopping = std::async(std::launch::async, [] { API_PART_StopTask(); });
    EXPECT_EQ(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), API_ERR_CREATING_MOUNT_TASK);
    release.set_value();
    stopping.wait();
    EXPECT_TRUE(simtest::Eventually([&] { return ThreadIds() == threads; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shell.Commands(), Commands{kCheck1});
    EXPECT_EQ(priority.load(), policy.load() == SCHED_FIFO ? 4 : 0);
}

}  // namespace
