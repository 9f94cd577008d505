// The USB units on the standard board with a scripted shell, the NOR store
// open and the driver signals on, as the start-up leaves them: the data
// partition mount task, the device port's gadget modes and the host port's
// disk detection, and the USB serial gadget's link and ports over real
// pseudo-terminals.
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <memory>

#include "API.h"
#include "event_recorder.h"
#include "internal/API_Init.h"
#include "internal/API_PART.h"
#include "sim/pty_line.h"
#include "sim/shell_script.h"
#include "sim_test.h"
#include "threads.h"

namespace {

using Commands = std::vector<std::string>;
using Codes = std::vector<int>;

const std::string kScript1 = "/usr/local/bin/data_mounted_script1.sh";
const std::string kResult1 = "/usr/local/bin/mountDataResult1.txt";
const std::string kCheck1 = kScript1 + " > " + kResult1;
const std::string kUsbCheck1 = "/usr/local/bin/usb_data_mounted_script1.sh > " + kResult1;
const std::string kCheck = "/usr/local/bin/data_mounted_script.sh > /usr/local/bin/mountDataResult.txt";
const Commands kInternalMount = {"modprobe g_file_storage file=/root/datas/backing_file stall=0 removable=y",
                                 "losetup -o 4096 /dev/loop0 /root/datas/backing_file",
                                 "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop0 /mnt/flashfs"};
const Commands kUsbMount = {"modprobe g_file_storage file=/mnt/usbdatas/backing_file stall=0 removable=y",
                            "losetup -o 4096 /dev/loop1 /mnt/usbdatas/backing_file",
                            "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop1 /mnt/flashfs"};
const std::string kLoadSerial = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko";
const std::string kLoadStorage = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_storage.ko";

Commands Joined(Commands first, const Commands &second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

simtest::EventRecorder g_events;

std::string Tty(int index) { return "/sys/class/tty/ttyUSB" + std::to_string(index); }

class UsbTest : public simtest::SimTest {
protected:
    UsbTest() { EXPECT_EQ(API_NOR_Init() + API_Signal_Initialize(), 0); }
    // A mount task is reaped as the shut-down would: ThreadSanitizer reports
    // a thread left unjoined at exit.
    ~UsbTest() override
    {
        API_PART_StopTask();
        API_Usbserial_Cleanup();
        API_Signal_Cleanup();
        API_NOR_Cleanup();
        FullttyUSB = 0;
        unitreset::Usb();
        g_events.count = 0;
    }
    static int Get(int (*getter)(int *))
    {
        int value = -1;
        EXPECT_EQ(getter(&value), 0);
        return value;
    }
    // Runs a mount to its end and gives what was printed.  Standard input is
    // closed meanwhile when asked: a file opened as descriptor 0 is there.
    std::string MountAndWait(int selection, bool noInput = false)
    {
        const int input = dup(0);
        std::string output = simtest::Stdout([=] {
            if (noInput)
                close(0);  // after the capture's own descriptors
            EXPECT_EQ(API_PART_Data_Mount(selection), 0);
            EXPECT_EQ(API_PART_Data_IsReady(), 0);
        });
        dup2(input, 0);
        close(input);
        return output;
    }
    // Changes one USB serial port's presence file, lets the driver announce
    // it and waits for the link state that follows.
    void Port(int index, bool present, int link)
    {
        if (present)
            receiver.CreateFile(Tty(index));
        else
            receiver.RemoveFile(Tty(index));
        board.gpio->RaiseSigio();
        EXPECT_TRUE(simtest::Eventually([link] { return Get(API_Usbserial_GetState) == link; })) << index;
    }
    sim::ShellScript shell{receiver};
};

TEST_F(UsbTest, InternalPartitionMountsWhenItsScriptsAnswerOne)
{
    EXPECT_EQ(API_PART_Data_IsReady(), API_ERR_CREATING_MOUNT_TASK) << "nothing will ever signal";
    // Without check scripts the mount signals at once.
    std::string output = MountAndWait(0);
    // The state is known from then on, whatever errno says.
    errno = EINTR;
    EXPECT_EQ((Codes{API_PART_Data_IsReady(), int(receiver.Sleeps().size())}), (Codes{0, 0}));
    EXPECT_NE(output.find("\r\nCheck if /mnt/flashfs is mount\nSignaling Data Partition Mounted\n"), std::string::npos)
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
    // Two retries of the first check, then polls for the second's result.
    EXPECT_EQ((Codes{SleepsOf(2000), SleepsOf(1000) + 2}), (Codes{2, int(receiver.Sleeps().size())}));
}

TEST_F(UsbTest, AnyMountSelectionOtherThanZeroIsTheUsbPartition)
{
    receiver.CreateFile("/usr/local/bin/usb_data_mounted_script1.sh");
    receiver.CreateFile(kScript1);  // the internal partition's script must not run
    shell.When(kUsbCheck1).WritesFileInTurn(kResult1, {"x", "1"});

    std::string output = MountAndWait(0x102, true);  // only the low byte counts: 2
    EXPECT_EQ(shell.Commands(), Joined({kUsbCheck1, kUsbCheck1}, kUsbMount));
    EXPECT_NE(output.find("mount_task Selection = 2\r\n"), std::string::npos);
}

// One mount at a time; the shut-down does not wait for ever on a check script
// that never returns, and the task, once it does return, ends at once.
TEST_F(UsbTest, ShutDownLeavesBehindACheckThatNeverReturns)
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
    // The wait ends with the shut-down, not before it.
    std::atomic<bool> asked{false}, stopped{false};
    auto waiting = std::async(std::launch::async, [&] {
        asked = true;
        int result = API_PART_Data_IsReady();
        return stopped ? result : -1;
    });
    ASSERT_TRUE(simtest::Eventually([&] { return asked.load(); }));
    auto stopping = std::async(std::launch::async, [&] { stopped = true, API_PART_StopTask(); });
    EXPECT_EQ(stopping.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), API_ERR_CREATING_MOUNT_TASK);
    release.set_value();
    stopping.wait();
    EXPECT_TRUE(simtest::Eventually([&] { return ThreadIds() == threads; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(shell.Commands(), Commands{kCheck1});
    EXPECT_EQ(priority.load(), policy.load() == SCHED_FIFO ? 4 : 0);
}

TEST_F(UsbTest, GadgetsChangeOnlyThroughNoneAndFailuresAreReported)
{
    EXPECT_EQ(API_USB_SetDeviceMode(3), API_ERR_INVALID_MODE);
    // A gadget that did not load: nothing kept or stored.
    shell.When(kLoadSerial).ExitsWith(1);
    EXPECT_EQ((Codes{API_USB_SetDeviceMode(1), int(board.nor->Writes().size())}),
              (Codes{API_ERR_USB_INITIALIZAION, 0}));

    shell.When(kLoadSerial).ExitsWith(0);
    board.nor->Poke(0x39001, "z");  // the mode is one character: its neighbour stays
    EXPECT_EQ(API_USB_SetDeviceMode(1), 0);
    EXPECT_EQ(board.nor->PeekText(0x39000, 2), "1z");
    // Another gadget while one is loaded: refused, nothing run or stored;
    // the loaded one again: stored again, not loaded twice.
    board.nor->ClearWrites();
    EXPECT_EQ((Codes{API_USB_SetDeviceMode(2), API_USB_SetDeviceMode(1), int(board.nor->Writes().size()),
                     API_USB_SetDeviceMode(0)}),
              (Codes{API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE, 0, 1, 0}));
    EXPECT_EQ(board.nor->PeekText(0x39000, 1), "0");
    // A store that failed after the gadget loaded.
    board.nor->FailWrite(EIO);
    EXPECT_EQ((Codes{API_USB_SetDeviceMode(2), Get(API_USB_GetDeviceMode)}), (Codes{API_ERR_NOR_FLASH_WRITE, 2}));
    EXPECT_EQ(shell.Commands(),
              (Commands{kLoadSerial, kLoadSerial, "rmmod g_serial", "rmmod g_storage", kLoadStorage}));

    for (int (*getter)(int *) :
         {API_USB_GetDeviceMode, API_USB_GetDeviceState, API_USB_GetHostState, API_Usbserial_GetState})
        EXPECT_EQ(getter(nullptr), API_ERR_INVALID_PARAMETERS);
}

TEST_F(UsbTest, PortEventsReachTheCallbackOncePerChange)
{
    receiver.CreateFile("/dev/sda1");
    EXPECT_EQ((Codes{API_USB_Init(nullptr), Get(API_USB_GetHostState),
                     API_USB_Init([](int event) { g_events.Record(event); })}),
              (Codes{0, 1, 0}));
    receiver.RemoveFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 2; }));
    board.gpio->RaiseSigio();  // no change on the host port
    receiver.CreateFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 3; }));
    // A start without a callback keeps the registered one.
    EXPECT_EQ((Codes{Get(API_USB_GetHostState), API_USB_Init(nullptr)}), (Codes{1, 0}));
    board.gpio->RaiseEvents(API_EVENT_USB_CONNECTED);
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 5; }));
    EXPECT_EQ(Get(API_USB_GetDeviceState), 1);
    EXPECT_EQ(g_events.Values(), (std::vector<int>{0, -1, 0, 0, API_USB_EVENT_DEVICE}));
}

// Two ports make the link, unless five were announced at start-up.
TEST_F(UsbTest, TheSerialLinkNeedsTheFirstTwoPortsOrAllFive)
{
    EXPECT_EQ(Get(API_Usbserial_GetState), 1);  // up from the start, before any port is seen
    receiver.CreateFile(Tty(0));
    receiver.CreateFile(Tty(1));
    EXPECT_EQ(
        (Codes{API_Usbserial_Init([](int state) { return g_events.Record(state), 0; }), Get(API_Usbserial_GetState)}),
        (Codes{0, 1}));
    Port(2, true, 1);
    Port(1, false, 0);
    Port(0, false, 0);
    Port(1, true, 0);
    Port(0, true, 1);

    FullttyUSB = 1;
    receiver.CreateFile(Tty(4));
    EXPECT_EQ((Codes{API_Usbserial_Init(nullptr), Get(API_Usbserial_GetState)}), (Codes{0, 0}));
    Port(3, true, 1);
    Port(2, false, 0);  // with the ports after it there
    EXPECT_EQ(g_events.Values(), (std::vector<int>{1, 0, 1, 0, 1, 0}));
}

TEST_F(UsbTest, SerialPortsCarryDataAtTheSpeedSetAndAMissingOneEndsTheStartUp)
{
    std::vector<std::unique_ptr<sim::PtyLine>> lines;
    for (int index = 0; index < 5; ++index)
        lines.push_back(std::make_unique<sim::PtyLine>(receiver, "/dev/ttyUSB" + std::to_string(index)));
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    for (auto &line : lines)
        EXPECT_EQ(line->HostBitRate(), 115200u) << line->BoardPath();
    for (int baud : {1800, 38400, 115200, 1200}) {
        int set = 0;
        EXPECT_EQ((Codes{API_Usbserial_SetBaudRate(9, baud), API_Usbserial_GetBaudRate(9, &set), set}),
                  (Codes{0, 0, baud}));
    }
    EXPECT_EQ((Codes{int(lines[3]->HostBitRate()), API_Usbserial_SetBaudRate(6, 14400),
                     API_Usbserial_Write(9, "status?\r\n", 9)}),
              (Codes{1200, API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED, 9}));
    char received[16] = {};
    ASSERT_EQ(lines[3]->Receive(received, sizeof received, 2000), 9);
    EXPECT_STREQ(received, "status?\r\n");
    // The host's answer comes back through the same port.
    ASSERT_TRUE(lines[3]->Send("ok\n"));
    char answer[8] = {};
    EXPECT_EQ(API_Usbserial_Read(9, answer, sizeof answer), 3);
    EXPECT_STREQ(answer, "ok\n");
    // Closed, the first port to the last.
    EXPECT_EQ((Codes{API_Usbserial_Cleanup(), API_Usbserial_Write(6, "x", 1), API_Usbserial_Write(10, "x", 1),
                     API_Usbserial_Read(9, answer, 1)}),
              Codes(4, 0));

    // The ports after a missing one, or one that is no terminal, are not opened.
    lines[0].reset();
    receiver.RemoveFile("/dev/ttyUSB0");
    EXPECT_EQ(API_Usbserial_Initialize(), API_ERR_OPENING_UART);
    receiver.CreateFile("/dev/ttyUSB0");
    EXPECT_EQ((Codes{API_Usbserial_Initialize(), receiver.OpenCount("/dev/ttyUSB1")}),
              (Codes{API_ERR_SETTING_UART_BAUDRATE, 1}));
}

}  // namespace
