// The data partition mount task: its commands in order for each partition, the
// check scripts' result files, and the semaphore that ends the wait.
#include <time.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_PART.h"
#include "internal/API_PART.h"
#include "threads.h"
#include "usb_board.h"

namespace {

const std::string kScript1 = "/usr/local/bin/data_mounted_script1.sh";
const std::string kUsbScript1 = "/usr/local/bin/usb_data_mounted_script1.sh";
const std::string kScript = "/usr/local/bin/data_mounted_script.sh";
const std::string kResult1 = "/usr/local/bin/mountDataResult1.txt";
const std::string kResult = "/usr/local/bin/mountDataResult.txt";
const std::string kCheck1 = kScript1 + " > " + kResult1;
const std::string kUsbCheck1 = kUsbScript1 + " > " + kResult1;
const std::string kCheck = kScript + " > " + kResult;

const std::vector<std::string> kInternalMount = {
    "modprobe g_file_storage file=/root/datas/backing_file stall=0 removable=y",
    "losetup -o 4096 /dev/loop0 /root/datas/backing_file",
    "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop0 /mnt/flashfs",
};
const std::vector<std::string> kUsbMount = {
    "modprobe g_file_storage file=/mnt/usbdatas/backing_file stall=0 removable=y",
    "losetup -o 4096 /dev/loop1 /mnt/usbdatas/backing_file",
    "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop1 /mnt/flashfs",
};

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string> &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The priority line depends on whether the host grants real-time scheduling.
std::string WithoutPriorityLine(std::string output)
{
    const std::string line = "Priority of of mount partition task set to 4 and policy FIFO\n";
    size_t at = output.find(line);
    if (at != std::string::npos)
        output.erase(at, line.size());
    return output;
}

size_t Occurrences(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

class DataPartitionTest : public usbtest::UsbBoardTest {
protected:
    // The ended task is reaped, as the shut-down would: ThreadSanitizer
    // reports a thread left unjoined at exit.
    void TearDown() override { API_PART_StopTask(); }

    // Runs a mount to its end and gives what was printed.
    std::string MountAndWait(int selection)
    {
        testing::internal::CaptureStdout();
        int started = API_PART_Data_Mount(selection);
        int ready = API_PART_Data_IsReady();
        std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(started, 0);
        EXPECT_EQ(ready, 0);
        return output;
    }
    std::vector<long> SleepsMs() const
    {
        std::vector<long> sleeps;
        for (const timespec &sleep : receiver.Sleeps())
            sleeps.push_back(sleep.tv_sec * 1000 + sleep.tv_nsec / 1000000);
        return sleeps;
    }
};

TEST_F(DataPartitionTest, WithoutCheckScriptsMountsAndSignalsAtOnce)
{
    EXPECT_EQ(API_PART_Data_IsReady(), API_ERR_CREATING_MOUNT_TASK) << "nothing will ever signal";
    std::string output = MountAndWait(0);
    // The state is known from then on.
    EXPECT_EQ(API_PART_Data_IsReady(), 0);
    EXPECT_EQ(shell.Commands(), kInternalMount);
    EXPECT_TRUE(receiver.Sleeps().empty());
    // The waiting caller and the task print side by side.
    const std::string waiting = "Wait Semaphore Data Partition Mounted\n";
    size_t at = output.find(waiting);
    ASSERT_NE(at, std::string::npos);
    output.erase(at, waiting.size());
    EXPECT_EQ(WithoutPriorityLine(output),
              "Starting Data Partition Mount Task\n"
              "mount_task Selection = 0\r\n\n"
              "\r\nLoad Drive mass storage begin\n"
              "\r\nCheck if /mnt/datas is mount\n"
              "\r\nCheck if /mnt/flashfs is mount\n"
              "Signaling Data Partition Mounted\n"
              "Received Data Partition Mounted semaphore\n");
}

TEST_F(DataPartitionTest, InternalPartitionWaitsUntilItsScriptAnswersOne)
{
    receiver.CreateFile(kScript1, "#!/bin/sh\n");
    receiver.CreateFile(kScript, "#!/bin/sh\n");
    shell.When(kCheck1).WritesFileInTurn(kResult1, {"0", "0", "1"});
    shell.When(kCheck).WritesFile(kResult, "1\n");

    std::string output = MountAndWait(0);
    EXPECT_EQ(shell.Commands(), Joined({kCheck1, kCheck1, kCheck1}, Joined(kInternalMount, {kCheck})));
    EXPECT_EQ(Occurrences(output, "Waiting /mnt/datas Partition Mounted\n"), 2u);
    EXPECT_EQ(SleepsMs(), (std::vector<long>{2000, 2000}));
    EXPECT_LT(output.find("Waiting /mnt/datas Partition Mounted\n"), output.find("\r\nCheck if /mnt/flashfs is mount"));
}

TEST_F(DataPartitionTest, AnySelectionOtherThanZeroIsTheUsbPartition)
{
    receiver.CreateFile(kUsbScript1);
    receiver.CreateFile(kScript1);  // the internal partition's script must not run
    shell.When(kUsbCheck1).WritesFileInTurn(kResult1, {"x", "1"});

    std::string output = MountAndWait(0x102);  // only the low byte counts: 2
    EXPECT_EQ(shell.Commands(), Joined({kUsbCheck1, kUsbCheck1}, kUsbMount));
    EXPECT_NE(output.find("mount_task Selection = 2\r\n"), std::string::npos);
    EXPECT_NE(output.find("\r\nCheck if /mnt/usbdatas is mount\n"), std::string::npos);
    EXPECT_EQ(Occurrences(output, "Waiting /mnt/usbdatas Partition Mounted\n"), 1u);
}

TEST_F(DataPartitionTest, IsReadyReturnsOnlyOnceTheTaskHasSignalled)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool checking = false;
    bool answer = false;
    receiver.CreateFile(kScript1);
    shell.When(kCheck1).Does([&] {
        std::unique_lock<std::mutex> lock(mutex);
        checking = true;
        changed.notify_all();
        changed.wait(lock, [&] { return answer; });
        receiver.CreateFile(kResult1, "1");
    });

    testing::internal::CaptureStdout();
    ASSERT_EQ(API_PART_Data_Mount(0), 0);
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return checking; });
    }
    // A second task while the first runs would mount twice and share the semaphore.
    EXPECT_EQ(API_PART_Data_Mount(1), API_ERR_CREATING_MOUNT_TASK);

    auto ready = std::async(std::launch::async, [] { return API_PART_Data_IsReady(); });
    EXPECT_EQ(ready.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    {
        std::lock_guard<std::mutex> lock(mutex);
        answer = true;
    }
    changed.notify_all();
    EXPECT_EQ(ready.get(), 0);
    std::string output = testing::internal::GetCapturedStdout();

    EXPECT_LT(output.find("Signaling Data Partition Mounted\n"), output.find("Received Data Partition Mounted semaphore\n"));
    EXPECT_EQ(shell.Commands(), Joined({kCheck1}, kInternalMount));
}

// The shut-down does not wait for ever on a check script that never returns;
// the task, once the script does return, ends without another step.
TEST_F(DataPartitionTest, ShutDownLeavesBehindACheckThatNeverReturns)
{
    const std::set<std::string> threads = ThreadIds();
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    receiver.CreateFile(kScript1);
    shell.When(kCheck1).Does([released] { released.wait(); });
    testing::internal::CaptureStdout();
    ASSERT_EQ(API_PART_Data_Mount(0), 0);
    ASSERT_TRUE(usbtest::WaitUntil([&] { return shell.RunCount(kCheck1) == 1; }));

    auto stopping = std::async(std::launch::async, [] { API_PART_StopTask(); });
    EXPECT_EQ(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(API_PART_Data_IsReady(), API_ERR_CREATING_MOUNT_TASK);
    release.set_value();
    stopping.wait();
    EXPECT_TRUE(usbtest::WaitUntil([&] { return ThreadIds() == threads; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shell.Commands(), std::vector<std::string>{kCheck1});
}

}  // namespace
