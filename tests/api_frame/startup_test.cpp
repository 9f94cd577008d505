// Start-up and shut-down: order, result rule, early return, lock file.
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "API_Debug.h"
#include "API_Ethernet.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "API_Signal.h"
#include "API_Uart.h"
#include "API_Usbserial.h"
#include "API_Watchdog.h"
#include "frame_fixture.h"
#include "sim/pty_line.h"

namespace {

using StartUp = FrameTest;

bool Has(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

std::set<std::string> OpenPaths(const sim::Receiver &receiver)
{
    std::set<std::string> paths;
    for (const auto &open : receiver.OpenDescriptors())
        paths.insert(open.second.compare(0, 9, "/tmp/log_") == 0 ? "log" : open.second);
    return paths;
}

TEST_F(StartUp, EmptyMaskStartsOnlyTheAlwaysSteps)
{
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(0); });
    EXPECT_EQ(result, 0);
    const std::regex banner("Orva device API version " API_VERSION ", built [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{4} "
                            "[0-9]{2}:[0-9]{2}:[0-9]{2}\nmake_device_descriptors skipped\n");
    EXPECT_TRUE(std::regex_match(out, banner)) << out;
    EXPECT_TRUE(receiver.Mknods().empty());
    EXPECT_EQ(OpenPaths(receiver), std::set<std::string>{"/dev/pps"});
    EXPECT_EQ(receiver.ReadFile("/var/ts9.pid"), std::to_string(getpid()) + "\n");
    EXPECT_EQ(b_IsInitialized, 1);
    EXPECT_EQ(API_IsInitialized(0), 1);
    EXPECT_EQ(API_IsInitialized(API_INIT_NOR), 0);
    EXPECT_EQ(FullttyUSB, 0);
    // Five USB serial ports are noted at start-up, and never forgotten.
    receiver.CreateFile("/sys/class/tty/ttyUSB4");
    Started(0);
    EXPECT_EQ(FullttyUSB, 1);
    receiver.RemoveFile("/sys/class/tty/ttyUSB4");
    Started(0);
    EXPECT_EQ(FullttyUSB, 1);
    // The Ethernet unit takes its first look at the link.
    receiver.CreateFile("/var/netlink");
    Started(API_INIT_ETHERNET);
    int link = -1;
    EXPECT_EQ(API_ETH_GetCnxState(&link), 0);
    EXPECT_EQ(link, 1);
}

TEST_F(StartUp, TheLastFailingStepGivesTheResult)
{
    receiver.FailOpen("/dev/gpio", ENOENT);
    receiver.FailOpen("/dev/mtd3", ENOENT);
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(API_INIT_SIGNALS | API_INIT_NOR); });
    EXPECT_EQ(result, API_ERR_NOR_FLASH_INITIALIZATION);
    EXPECT_TRUE(Has(out, "API_Signal_Initialize error (3)\nAPI_NOR_Init error (77)\n")) << out;
    EXPECT_EQ(API_IsInitialized(API_INIT_SIGNALS | API_INIT_NOR), 1) << "failed requests are recorded too";
    Stdout([] { API_Finalize(); });
    receiver.ClearOpenFault("/dev/mtd3");

    // The PPS device comes after the units: NOR starts, and the auto-start
    // flag after the PPS step is written to it.
    receiver.RemoveDevice("/dev/pps");
    out = Stdout([&] { result = API_Initialize(API_INIT_NOR); });
    EXPECT_EQ(result, API_ERR_OPEN_PPS);
    EXPECT_TRUE(Has(out, "open PPS_DEVICE error (41)\n"));
    EXPECT_EQ(board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1), std::vector<uint8_t>{1});
    EXPECT_TRUE(receiver.FileExists("/var/ts9.pid"));
    Stdout([] { API_Finalize(); });

    // The lock file comes last.
    receiver.FailOpen("/var/ts9.pid", EROFS);
    out = Stdout([&] { result = API_Initialize(API_INIT_NOR | API_INIT_NO_AUTOSTART); });
    EXPECT_EQ(result, API_ERR_CREATE_FILE);
    EXPECT_TRUE(Has(out, "Unable to create lock file '/var/ts9.pid'\n"));
    EXPECT_EQ(b_IsInitialized, 1);
    EXPECT_EQ(board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1), std::vector<uint8_t>{0});
}

TEST_F(StartUp, ConfigurationFileThatCannotBeCreatedEndsStartUpWithAnError)
{
    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    int result = -1;
    Stdout([&] { result = API_Initialize(API_INIT_CONFIG | API_INIT_NOR | API_INIT_SIGNALS); });
    EXPECT_EQ(result, API_ERR_CREATE_FILE);
    EXPECT_EQ(b_IsInitialized, 0);
    EXPECT_EQ(API_IsInitialized(API_INIT_CONFIG | API_INIT_NOR), 1);
    EXPECT_TRUE(OpenPaths(receiver).empty());
    EXPECT_TRUE(receiver.Mknods().empty());
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));
}

// What the loader starts: every unit's device open, and after the shut-down
// nothing at all, the serial logs and dumps switched on meanwhile included.
// The Bluetooth module's answer waits scale too: they need the slower scale.
class LoaderStartUp : public FrameTest {
protected:
    LoaderStartUp() : FrameTest(0.05) {}
};

TEST_F(LoaderStartUp, OpensEveryUnitsDeviceAndShutDownClosesThemAll)
{
    sim::PtyLine console(receiver, "/dev/ttyS0");
    sim::PtyLine gnss(receiver, "/dev/ttyS2");
    EXPECT_FALSE(Has(Started(0x2D7E7), "error"));
    EXPECT_EQ(OpenPaths(receiver), (std::set<std::string>{"/dev/pmu", "/dev/gpio", "/dev/mtd3", "/dev/pps",
                                                           "/dev/pushbuttons", "/dev/display", "/dev/extender",
                                                           "/dev/ttyS3"}));
    ASSERT_EQ(API_UartOpen(2, O_RDWR | O_NOCTTY), 0);
    ASSERT_EQ(API_Debug_SetSerialDump(2, 1), 0);
    ASSERT_EQ(API_Debug_SetSerialLog(2, 1), 0);
    EXPECT_EQ(OpenPaths(receiver).count("/dev/ttyS0") + OpenPaths(receiver).count("log"), 2u);
    API_UartClose(2);

    Stdout([] { API_Finalize(); });
    EXPECT_TRUE(OpenPaths(receiver).empty());
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));
    EXPECT_EQ(API_IsInitialized(API_INIT_DISPLAY), 0);
    EXPECT_EQ(b_IsInitialized, 0);
}

// A descriptor variable holds 0 while its device is closed; descriptor 0 is
// the process's standard input, which no unit may read, write or close.
TEST_F(StartUp, UnitsThatAreNotOpenNeverTouchDescriptorZero)
{
    // A terminal, so that a changed setting would show too.
    int pair[2];
    termios raw;
    ASSERT_EQ(openpty(&pair[1], &pair[0], nullptr, nullptr, nullptr), 0);
    tcgetattr(pair[0], &raw);
    cfmakeraw(&raw);
    tcsetattr(pair[0], TCSANOW, &raw);
    const int input = dup(0);
    dup2(pair[0], 0);
    close(pair[0]);
    ASSERT_EQ(write(pair[1], "in", 2), 2);
    ASSERT_TRUE(simtest::Eventually([] { int n = 0; return ioctl(0, FIONREAD, &n) == 0 && n == 2; }));

    receiver.FailOpen("/dev/gpio", ENOENT);
    Started(API_INIT_SIGNALS);  // the event handler without its device
    board.gpio->RaiseEvents(API_EVENT_POWER);
    Stdout([] {
        API_Finalize();
        API_Finalize();
    });
    char buffer[8];
    int count = 0;
    int config[API_UART_CONFIG_WORDS] = {B9600, 0};
    API_UartRead(2, buffer, sizeof buffer);
    API_UartWrite(2, "x", 1);
    API_UartSetBaudRate(2, B9600);
    API_UartGetConfig(2, config);
    API_UartClose(2);
    writeLogFile(3, "x", 1);
    API_Flash_WriteData(0x39000, "x", 1, &count);
    API_Flash_APIReadData(0, buffer, 1, &count);
    API_NOR_Cleanup();
    API_Watchdog_Restart();
    API_Watchdog_Init(0, 0);
    API_Watchdog_Stop();
    API_Usbserial_Write(6, "x", 1);
    API_Usbserial_Cleanup();

    EXPECT_NE(fcntl(0, F_GETFD), -1) << "closed";
    termios after;
    tcgetattr(0, &after);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&raw)) << "set";
    fcntl(pair[1], F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(pair[1], buffer, sizeof buffer), -1) << "written to";
    fcntl(0, F_SETFL, O_NONBLOCK);
    EXPECT_EQ(read(0, buffer, sizeof buffer), 2) << "read from";

    // Without a standard input an open gives descriptor 0, which stands for
    // "not open": it cannot be kept, and is not leaked either.
    receiver.ClearOpenFault("/dev/gpio");
    close(0);
    EXPECT_EQ(API_UartOpen(11, O_RDWR), API_ERR_OPENING_UART);
    EXPECT_EQ(API_Debug_SetSerialLog(2, 1), API_ERR_OPEN_FILE);
    EXPECT_EQ(API_NOR_Init(), API_ERR_NOR_FLASH_INITIALIZATION);
    EXPECT_EQ(API_Signal_Initialize(), API_ERR_OPEN_FILE);
    API_Signal_Cleanup();
    EXPECT_EQ(API_Watchdog_Init(20, 1), API_ERR_OPENING_WATCHDOG);
    EXPECT_FALSE(board.watchdog->IsRunning());
    EXPECT_EQ(API_Initialize(0), API_ERR_OPEN_PPS);  // not captured: the capture's file would take 0
    EXPECT_EQ(fcntl(0, F_GETFD), -1);
    dup2(input, 0);
    close(input);
    close(pair[1]);
}

TEST_F(StartUp, SecondStartUpLeaksNoDescriptor)
{
    Started(API_INIT_NOR | API_INIT_SIGNALS);
    Started(API_INIT_NOR | API_INIT_SIGNALS);
    EXPECT_EQ(board.pps->Opens(), 2);
    EXPECT_EQ(receiver.OpenCount("/dev/mtd3"), 2);
    EXPECT_EQ(receiver.OpenCount("/dev/gpio"), 2);
    EXPECT_EQ(receiver.OpenDescriptors().size(), 3u);
}

}  // namespace
