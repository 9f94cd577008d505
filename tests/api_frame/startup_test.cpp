// Start-up and shut-down: order, result rule, early return, lock file.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>


#include "API_Debug.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "API_Signal.h"
#include "API_Uart.h"
#include "API_Usbserial.h"
#include "API_Watchdog.h"
#include "frame_fixture.h"
#include "internal/API_Signal.h"

namespace {

using StartUp = FrameTest;

constexpr int kLoaderMask = 0x2D7E7;

size_t Find(const std::string &text, const std::string &part) { return text.find(part); }

// One line naming the API and its version, then the build's date and time
// ("Mmm dd yyyy hh:mm:ss").
bool IsBanner(const std::string &line)
{
    const std::string head = std::string("Orva device API version ") + API_VERSION + ", built ";
    const std::string shape = "Aaa dd dddd dd:dd:dd\n";
    if (line.compare(0, head.size(), head) != 0 || line.size() != head.size() + shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[head.size() + i]);
        bool fits = shape[i] == 'A' ? isupper(c) : shape[i] == 'a' ? islower(c)
                  : shape[i] == 'd' ? (isdigit(c) || (i == 4 && c == ' ')) : c == shape[i];
        if (!fits)
            return false;
    }
    return true;
}

TEST_F(StartUp, EmptyMaskStartsOnlyTheAlwaysSteps)
{
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(0); });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(IsBanner(out.substr(0, out.find('\n') + 1))) << out;
    EXPECT_NE(Find(out, "make_device_descriptors skipped\n"), std::string::npos);
    EXPECT_TRUE(receiver.Mknods().empty());
    EXPECT_FALSE(receiver.FileExists("/etc/ts9_api.cfg"));
    EXPECT_EQ(board.pps->OpenDescriptors(), 1);
    EXPECT_EQ(receiver.ReadFile("/var/ts9.pid"), std::to_string(getpid()) + "\n");
    EXPECT_EQ(b_IsInitialized, 1);
    EXPECT_EQ(API_IsInitialized(0), 1);
    EXPECT_EQ(API_IsInitialized(API_INIT_NOR), 0);
    EXPECT_EQ(FullttyUSB, 0);

    receiver.CreateFile("/sys/class/tty/ttyUSB4");
    Stdout([] { API_Initialize(0); });
    EXPECT_EQ(FullttyUSB, 1);
    receiver.RemoveFile("/sys/class/tty/ttyUSB4");
    Stdout([] { API_Initialize(0); });
    EXPECT_EQ(FullttyUSB, 1) << "never set back";
}

TEST_F(StartUp, MissingPpsDeviceGives41AndStartUpGoesOn)
{
    receiver.RemoveDevice("/dev/pps");
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(API_INIT_NOR | API_INIT_SIGNALS); });
    EXPECT_EQ(result, API_ERR_OPEN_PPS);
    EXPECT_NE(Find(out, "open PPS_DEVICE error (41)\n"), std::string::npos);
    EXPECT_EQ(board.gpio->OpenDescriptors(), 1);
    EXPECT_EQ(board.nor->OpenDescriptors(), 1);
    // Auto-start runs after the PPS step, on the NOR store opened before it.
    EXPECT_EQ(board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1), std::vector<uint8_t>{1});
    EXPECT_TRUE(receiver.FileExists("/var/ts9.pid"));
}

TEST_F(StartUp, TheLastFailingStepGivesTheResult)
{
    receiver.FailOpen("/dev/gpio", ENOENT);
    receiver.FailOpen("/dev/mtd3", ENOENT);
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(API_INIT_SIGNALS | API_INIT_NOR); });
    EXPECT_EQ(result, API_ERR_NOR_FLASH_INITIALIZATION);
    size_t signals = Find(out, "API_Signal_Initialize error (3)\n");
    size_t nor = Find(out, "API_NOR_Init error (77)\n");
    ASSERT_NE(signals, std::string::npos);
    ASSERT_NE(nor, std::string::npos);
    EXPECT_LT(signals, nor);
    // Every request is recorded, failed or not.
    EXPECT_EQ(API_IsInitialized(API_INIT_SIGNALS | API_INIT_NOR), 1);

    API_Finalize();
    receiver.RemoveDevice("/dev/pps");
    out = Stdout([&] { result = API_Initialize(API_INIT_NOR); });
    EXPECT_EQ(result, API_ERR_OPEN_PPS) << "the PPS step comes after the units";

    API_Finalize();
    receiver.FailOpen("/var/ts9.pid", EROFS);
    out = Stdout([&] { result = API_Initialize(API_INIT_NOR); });
    EXPECT_EQ(result, API_ERR_CREATE_FILE) << "the lock file comes last";
    EXPECT_NE(Find(out, "Unable to create lock file '/var/ts9.pid'\n"), std::string::npos);
    EXPECT_EQ(b_IsInitialized, 1);
}

TEST_F(StartUp, ConfigurationFileThatCannotBeCreatedEndsStartUpWithAnError)
{
    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    int result = -1;
    Stdout([&] { result = API_Initialize(API_INIT_CONFIG | API_INIT_NOR | API_INIT_SIGNALS); });
    EXPECT_EQ(result, API_ERR_CREATE_FILE);
    EXPECT_EQ(b_IsInitialized, 0);
    EXPECT_EQ(API_IsInitialized(API_INIT_CONFIG | API_INIT_NOR), 1);
    EXPECT_EQ(receiver.OpenCount("/dev/mtd3"), 0);
    EXPECT_EQ(receiver.OpenCount("/dev/gpio"), 0);
    EXPECT_EQ(receiver.OpenCount("/dev/pps"), 0);
    EXPECT_TRUE(receiver.Mknods().empty());
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));
}

TEST_F(StartUp, AutoStartFlagFollowsItsFeatureBit)
{
    Stdout([] { API_Initialize(API_INIT_NOR); });
    EXPECT_EQ(board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1), std::vector<uint8_t>{1});
    Stdout([] { API_Initialize(API_INIT_NOR | API_INIT_NO_AUTOSTART); });
    EXPECT_EQ(board.nor->Peek(API_SYS_AUTOSTART_ADDRESS, 1), std::vector<uint8_t>{0});
    // The store is opened once per start-up; the second start-up adds its bits.
    EXPECT_EQ(API_IsInitialized(API_INIT_NOR | API_INIT_NO_AUTOSTART), 1);
}

TEST_F(StartUp, LoaderMaskStartsEveryUnitAndFinalizeStopsThem)
{
    int result = -1;
    Stdout([&] { result = API_Initialize(kLoaderMask); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(board.gpio->OpenDescriptors(), 1);
    EXPECT_EQ(board.nor->OpenDescriptors(), 1);
    EXPECT_EQ(board.pps->OpenDescriptors(), 1);
    EXPECT_EQ(API_IsInitialized(API_INIT_DISPLAY), 1);
    EXPECT_EQ(API_IsInitialized(API_INIT_GSM), 0);

    Stdout([] { API_Finalize(); });
    EXPECT_EQ(board.gpio->OpenDescriptors(), 0);
    EXPECT_EQ(board.nor->OpenDescriptors(), 0);
    EXPECT_EQ(board.pps->OpenDescriptors(), 0);
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));
    EXPECT_EQ(API_IsInitialized(API_INIT_DISPLAY), 0);
    EXPECT_EQ(b_IsInitialized, 0);
}

// A descriptor variable holds 0 while its device is closed; descriptor 0 is
// the process's standard input, which no unit may read, write or close.
TEST_F(StartUp, UnitsThatAreNotOpenNeverTouchDescriptorZero)
{
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const int input = dup(0);
    dup2(pair[0], 0);
    close(pair[0]);
    ASSERT_EQ(write(pair[1], "in", 2), 2);

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
    EXPECT_EQ(recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT), -1) << "written to";
    EXPECT_EQ(recv(0, buffer, sizeof buffer, MSG_DONTWAIT), 2) << "read from";
    dup2(input, 0);
    close(input);
    close(pair[1]);
}

TEST_F(StartUp, SecondStartUpLeaksNoDescriptor)
{
    Stdout([] { API_Initialize(API_INIT_NOR | API_INIT_SIGNALS); });
    Stdout([] { API_Initialize(API_INIT_NOR | API_INIT_SIGNALS); });
    EXPECT_EQ(board.pps->Opens(), 2);
    EXPECT_EQ(board.pps->OpenDescriptors(), 1);
    EXPECT_EQ(receiver.OpenCount("/dev/mtd3"), 2);
    EXPECT_EQ(board.nor->OpenDescriptors(), 1);
    EXPECT_EQ(receiver.OpenCount("/dev/gpio"), 2);
    EXPECT_EQ(board.gpio->OpenDescriptors(), 1);
}

}  // namespace
