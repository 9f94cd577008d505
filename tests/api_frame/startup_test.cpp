// Start-up and shut-down: order, result rule, early return, lock file, the
// watchdog the start-up arms, and the interface table: configuration file
// parse and creation, device nodes, revert.
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iterator>
#include <sstream>

#include <gmock/gmock.h>

#include "frame_fixture.h"
#include "internal/API_Watchdog.h"

namespace {

using StartUp = FrameTest;

using ::testing::HasSubstr;

TEST_F(StartUp, EmptyMaskStartsOnlyTheAlwaysStepsAndARepeatLeaksNothing)
{
    EXPECT_THAT(Started(0), HasSubstr("make_device_descriptors skipped\n"));
    EXPECT_EQ((Codes{result, int(receiver.Mknods().size()), b_IsInitialized, API_IsInitialized(0),
                     API_IsInitialized(API_INIT_NOR), FullttyUSB}),
              (Codes{0, 0, 1, 1, 0, 0}));
    ASSERT_EQ(receiver.OpenDescriptors().size(), 1u);
    EXPECT_EQ(receiver.OpenDescriptors()[0].second, "/dev/pps");
    EXPECT_EQ(receiver.ReadFile("/var/ts9.pid"), std::to_string(getpid()) + "\n");
    // Five USB serial ports are noted at start-up, and never forgotten.
    receiver.CreateFile("/sys/class/tty/ttyUSB4");
    Started(API_INIT_NOR | API_INIT_SIGNALS);
    EXPECT_EQ(FullttyUSB, 1);
    receiver.RemoveFile("/sys/class/tty/ttyUSB4");
    // A repeated start-up replaces its descriptors.
    Started(API_INIT_NOR | API_INIT_SIGNALS);
    EXPECT_EQ(FullttyUSB, 1);
    EXPECT_EQ(board.pps->Opens() + receiver.OpenCount("/dev/mtd3") + receiver.OpenCount("/dev/gpio"), 3 + 2 + 2);
    EXPECT_EQ(receiver.OpenDescriptors().size(), 3u);
}

TEST_F(StartUp, TheLastFailingStepGivesTheResultAndAMissingConfigurationEndsIt)
{
    receiver.FailOpen("/dev/gpio", ENOENT);
    receiver.FailOpen("/dev/mtd3", ENOENT);
    EXPECT_THAT(Started(API_INIT_SIGNALS | API_INIT_NOR),
                HasSubstr("API_Signal_Initialize error (3)\nAPI_NOR_Init error (77)\n"));
    // Failed requests are recorded too.
    EXPECT_EQ((Codes{result, API_IsInitialized(API_INIT_SIGNALS | API_INIT_NOR)}),
              (Codes{API_ERR_NOR_FLASH_INITIALIZATION, 1}));
    Stdout([] { API_Finalize(); });
    receiver.ClearOpenFault("/dev/mtd3");

    // The PPS device comes after the units: NOR starts, and the auto-start
    // flag after the PPS step is written to it.
    receiver.RemoveDevice("/dev/pps");
    EXPECT_THAT(Started(API_INIT_NOR), HasSubstr("open PPS_DEVICE error (41)\n"));
    EXPECT_EQ((Codes{result, board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1)[0], receiver.FileExists("/var/ts9.pid")}),
              (Codes{API_ERR_OPEN_PPS, 1, true}));
    Stdout([] { API_Finalize(); });
    EXPECT_EQ((Codes{receiver.FileExists("/var/ts9.pid"), API_IsInitialized(API_INIT_NOR), b_IsInitialized,
                     int(receiver.OpenDescriptors().size())}),
              Codes(4, 0));

    // The lock file comes last.
    receiver.FailOpen("/var/ts9.pid", EROFS);
    EXPECT_THAT(Started(API_INIT_NOR | API_INIT_NO_AUTOSTART),
                HasSubstr("Unable to create lock file '/var/ts9.pid'\n"));
    EXPECT_EQ((Codes{result, b_IsInitialized, board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1)[0]}),
              (Codes{API_ERR_CREATE_FILE, 1, 0}));
    Stdout([] { API_Finalize(); });

    // A configuration file that cannot be created ends the start-up early.
    receiver.ClearOpenFault("/var/ts9.pid");
    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    Started(API_INIT_CONFIG | API_INIT_NOR | API_INIT_SIGNALS);
    EXPECT_EQ((Codes{result, b_IsInitialized, API_IsInitialized(API_INIT_CONFIG | API_INIT_NOR),
                     int(receiver.OpenDescriptors().size() + receiver.Mknods().size())}),
              (Codes{API_ERR_CREATE_FILE, 0, 1, 0}));
}

// A descriptor variable holds 0 while its device is closed; descriptor 0 is
// the process's standard input, which no unit may read, write, set or close.
// A terminal there, so that a changed setting shows too.
TEST_F(StartUp, UnitsThatAreNotOpenNeverTouchDescriptorZero)
{
    int peer, terminal;
    ASSERT_EQ(openpty(&peer, &terminal, nullptr, nullptr, nullptr), 0);
    termios raw;
    tcgetattr(terminal, &raw);
    cfmakeraw(&raw);
    tcsetattr(terminal, TCSANOW, &raw);
    const int input = dup(0);
    dup2(terminal, 0);
    close(terminal);
    ASSERT_EQ(write(peer, "in", 2), 2);
    ASSERT_TRUE(simtest::Eventually([] {
        int n = 0;
        return ioctl(0, FIONREAD, &n) == 0 && n == 2;
    }));

    receiver.FailOpen("/dev/gpio", ENOENT);
    Started(API_INIT_SIGNALS);  // the event handler without its device
    board.gpio->RaiseEvents(API_EVENT_POWER);
    Stdout([] { API_Finalize(); });
    API_Finalize();
    char buffer[8];
    int count = 0, config[API_UART_CONFIG_WORDS] = {B9600, 0};
    EXPECT_EQ((Codes{API_UartRead(2, buffer, sizeof buffer), API_UartWrite(2, "x", 1), API_UartSetBaudRate(2, B9600),
                     API_UartGetConfig(2, config), API_UartClose(2), writeLogFile(3, "x", 1),
                     API_Flash_WriteData(0x39000, "x", 1, &count), API_Flash_APIReadData(0, buffer, 1, &count),
                     API_NOR_Cleanup(), API_Watchdog_Restart(), API_Watchdog_Init(0, 0), API_Watchdog_Stop(),
                     API_Usbserial_Write(6, "x", 1), API_Usbserial_Cleanup()}),
              (Codes{0, 0, API_ERR_SETTING_UART_BAUDRATE, API_ERR_GETTING_UART_CONFIG, 0, API_ERR_INVALID_TTY_NUMBER,
                     API_ERR_NOR_FLASH_SEEK, API_ERR_NOR_FLASH_SEEK, 0, 0, 0, 0, 0, 0}));
    EXPECT_NE(fcntl(0, F_GETFD), -1) << "closed";
    termios after;
    tcgetattr(0, &after);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&raw)) << "set";
    fcntl(peer, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(peer, buffer, sizeof buffer), -1) << "written to";
    fcntl(0, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(0, buffer, sizeof buffer), 2) << "read from";

    dup2(input, 0);
    close(input);
    close(peer);
}

// Started without standard input (a service, `prog <&-`), the process has
// descriptor 0 free for the first device the API opens, and the units keep 0
// for "closed": none may hold its device there.
TEST_F(StartUp, WithoutStandardInputEveryUnitStartsWorksAndLeavesNothingOpen)
{
    const int input = dup(0);
    int pressed = 0, left = 0;
    float celsius = 0;
    Codes codes;
    // Checked outside: a failure is printed on the standard output captured here.
    const std::string printed = Stdout([&] {
        close(0);
        codes.push_back(API_Initialize(API_INIT_CONFIG));  // the missing file is made first
        API_Finalize();
        for (int code : {API_Initialize(0x2D7E7), API_PM_GetTemperature(&celsius), API_Display_SetPixel(3, 9, 1),
                         API_Display_Update(), API_Extender_SetStatusGpio(1, 3, 0), API_MMI_IsRecordPressed(&pressed),
                         API_EXTUHF_SetSerialMode(1), API_UartOpen(2, O_RDWR), API_UartClose(2),
                         API_Watchdog_Init(20, 1), API_Watchdog_Init(0, 0), API_Watchdog_Stop()})
            codes.push_back(code);
        API_Finalize();
        left = fcntl(0, F_GETFD) != -1;
        dup2(input, 0);
        close(input);
    });
    EXPECT_EQ(codes, Codes(13, 0));
    EXPECT_EQ(printed.find("error"), std::string::npos) << printed;
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg").size(), 453u);
    EXPECT_EQ(
        (Codes{board.gpio->SerialMode(), board.watchdog->IsRunning(), int(receiver.OpenDescriptors().size()), left}),
        (Codes{1, false, 0, false}));
}

// The watchdog as the start-up arms it: feeding keeps it armed, only the
// deliberate stop disarms it.
class WatchdogTest : public FrameTest {
protected:
    // The receiver's 20 seconds last 200 ms: feeds come well within them.
    WatchdogTest() : FrameTest(0.01) {}
    ~WatchdogTest() override
    {
        API_Watchdog_Stop();
        unitreset::Watchdog();
    }
};

TEST_F(WatchdogTest, OnlyTheDeliberateStopDisarms)
{
    sim::Watchdog &dog = *board.watchdog;
    Started(API_INIT_WATCHDOG);
    // A second start-up keeps the one descriptor: the driver takes one opener.
    EXPECT_EQ(Started(API_INIT_WATCHDOG).find("error"), std::string::npos);
    // A feed after the magic character would undo it.
    EXPECT_EQ((Codes{dog.TimeoutSeconds(), dog.Opens(), API_Watchdog_Restart(), API_Watchdog_Init(0, 0),
                     API_Watchdog_Restart(), dog.Feeds(), API_Watchdog_Stop(), dog.MagicCloses(), dog.IsRunning()}),
              (Codes{20, 1, 0, 0, 0, 2, 0, 1, false}));
}

// The open started it: with the time-out refused it runs on the driver's
// own, and disarming stops it or says that it could not.
TEST_F(WatchdogTest, ARefusedTimeOutLeavesAWatchdogThatCanBeDisarmed)
{
    sim::Watchdog &dog = *board.watchdog;
    dog.FailIoctl(EINVAL);
    dog.FailWrite(EIO);
    Started(API_INIT_WATCHDOG);
    EXPECT_EQ((Codes{result, API_Watchdog_Init(0, 0)}),
              (Codes{API_ERR_SETTING_WATCHDOG_TIMEOUT, API_ERR_WATCHDOG_WRITE}));
    dog.FailWrite(0);
    EXPECT_EQ((Codes{API_Watchdog_Init(0, 0), API_Watchdog_Stop(), dog.MagicCloses(), dog.IsRunning()}),
              (Codes{0, 0, 1, false}));
}

using Config = FrameTest;


// The rows' names, in the table's order.
const std::vector<std::string> kNames = [] {
    std::istringstream words("debug_iface gsm_iface gnss_iface bt_iface uhf_transmitter_iface uhf_receiver_iface "
                             "ttyUSB0 ttyUSB1 ttyUSB2 ttyUSB3 ttyUSB4 pushbuttons gpio display rtc pmu pps extender");
    return std::vector<std::string>(std::istream_iterator<std::string>(words), {});
}();

// The six UARTs are ttyS0 to ttyS5; every other node is named after its row.
std::string DefaultPath(int row) { return row < 6 ? "/dev/ttyS" + std::to_string(row) : "/dev/" + kNames[row]; }

std::string TableFile(const char *path = nullptr)
{
    std::string text;
    for (int row = 0; row < API_DEVNAME_COUNT; ++row)
        text += kNames[row] + " = \"" + (path ? path : DefaultPath(row)) + "\"\n";
    return text;
}

// Serial ports on majors 4 (minors from 64) and 188, the board's drivers on 143.
dev_t DefaultDevice(int row)
{
    return row < 6 ? (4 << 8) | (64 + row) : row < 11 ? (188 << 8) | (row - 6) : (143 << 8) | (row - 11);
}

TEST_F(Config, MissingFileIsWrittenFromTheTableAndMissingNodesMade)
{
    receiver.RemoveDevice("/dev/gpio");
    std::vector<std::string> made, expected;
    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        if (!receiver.FileExists(DefaultPath(row)))  // as character devices, 0777
            expected.push_back(DefaultPath(row) + " 8703 " + std::to_string(DefaultDevice(row)));
    }
    EXPECT_EQ(Started(API_INIT_CONFIG).find("skipped"), std::string::npos);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), TableFile());
    for (const sim::MknodRecord &node : receiver.Mknods())
        made.push_back(node.path + " " + std::to_string(node.mode) + " " + std::to_string(node.device));
    EXPECT_EQ(made, expected);
    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        EXPECT_EQ(a_devnames[row].number, row < 11 ? row : -1);
        EXPECT_EQ(dev_t(a_devnames[row].major << 8 | a_devnames[row].minor), DefaultDevice(row)) << row;
    }
}

// A blank ends the value and its last character is dropped; the entry
// crossing byte 1024 keeps what was read of it, less its last character; read
// after a longer file, only the bytes read count; an empty file is no error.
TEST_F(Config, AnEntrySetsThePathOfItsRowFromTheBytesRead)
{
    const std::string cut = std::string(1000, '-') + "\ngsm_iface = \"/dev/ttyUSB1\"\ngnss_iface = \"/dev/ttyUSB2\"\n";
    const std::pair<std::string, std::string> cases[] = {{"gsm_iface = \"/dev/tty S1\"\n", "/dev/tt"},
                                                         {cut, "/dev/ttyU"},
                                                         {"gsm_iface = \"/dev/ttyUSB1", "/dev/ttyUSB"},
                                                         {"", "/dev/ttyS1"}};
    for (const auto &c : cases) {
        unitreset::Init();
        receiver.CreateFile("/etc/ts9_api.cfg", c.first);
        Started(API_INIT_CONFIG);
        EXPECT_EQ((std::pair{Row(1), result}), (std::pair{c.second, 0})) << c.first;
    }
}

TEST_F(Config, NodesThatCannotBeMadeAreReportedAndRevertRestoresTheDefaults)
{
    receiver.CreateFile("/dev/blocked");  // a plain file where a directory is needed
    receiver.CreateFile("/etc/ts9_api.cfg", TableFile("/dev/blocked/x"));
    EXPECT_THAT(Started(API_INIT_CONFIG),
                HasSubstr("make_device_descriptors: Unable to create device file /dev/blocked/x \n"));
    EXPECT_EQ((Codes{result, Row(8) == "/dev/blocked/x"}), (Codes{0, true}));
    EXPECT_EQ(API_RevertAPIConfigToDefault(), 0);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), TableFile());
    EXPECT_TRUE(receiver.FileExists("/dev/rtc")) << "missing nodes are made";

    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    EXPECT_EQ(API_RevertAPIConfigToDefault(), API_ERR_CREATE_FILE);
}

// A file that is there but cannot be read (here a directory) is neither
// taken for an empty one nor replaced: start-up ends before any unit.
TEST_F(Config, AFileThatCannotBeReadEndsStartUpAndStays)
{
    std::filesystem::create_directories(receiver.HostPath("/etc/ts9_api.cfg"));
    Started(API_INIT_CONFIG | API_INIT_NOR);
    EXPECT_EQ((Codes{result, b_IsInitialized, receiver.OpenCount("/dev/mtd3"), int(receiver.Mknods().size()),
                     API_RevertAPIConfigToDefault()}),
              (Codes{API_ERR_OPEN_FILE, 0, 0, 0, API_ERR_CREATE_FILE}));
    EXPECT_TRUE(std::filesystem::is_directory(receiver.HostPath("/etc/ts9_api.cfg")));
    EXPECT_FALSE(receiver.FileExists("/etc/ts9_api.cfg.new"));
}

// On a full device the file is either written whole or left as it was.
TEST_F(Config, AFileThatCannotBeWrittenWholeIsReportedAndNotCutShort)
{
    receiver.FillDevice("/etc/", 200);
    Started(API_INIT_CONFIG | API_INIT_NOR);
    EXPECT_EQ((Codes{result, receiver.OpenCount("/dev/mtd3"), receiver.FileExists("/etc/ts9_api.cfg")}),
              (Codes{API_ERR_CREATE_FILE, 0, false}));
    const std::string custom = TableFile("/dev/ttyS9");
    receiver.CreateFile("/etc/ts9_api.cfg", custom);
    for (bool atClose : {false, true}) {
        receiver.FillDevice("/etc/", 200, atClose);
        EXPECT_EQ(API_RevertAPIConfigToDefault(), API_ERR_CREATE_FILE) << atClose;
        EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), custom) << atClose;
    }
    receiver.FillDevice("", 0);
    EXPECT_EQ(API_RevertAPIConfigToDefault(), 0);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), TableFile());
    EXPECT_FALSE(receiver.FileExists("/etc/ts9_api.cfg.new"));
}

}  // namespace
