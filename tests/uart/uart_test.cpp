// Serial interfaces by number, and the copies of their traffic, on real ptys of
// the simulated receiver.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <thread>

#include "API.h"
#include "internal/API_Init.h"
#include "internal/API_Uart.h"
#include "sim/device.h"
#include "sim/pty_line.h"
#include "sim_test.h"
#include "threads.h"

namespace {

using Codes = std::vector<int>;

// The standard board's modem and Bluetooth module hold ttyS1 and ttyS3.
class UartTest : public simtest::SimTest {
protected:
    ~UartTest() override
    {
        simtest::Stdout([] { API_Finalize(); });  // every log and dump off
        for (int number = 0; number < API_UART_COUNT; ++number)
            API_UartClose(number);
        unitreset::Uart();
        unitreset::Init();
    }
    sim::PtyLine &Line(const std::string &path) { return lines.emplace_back(receiver, path); }
    // What the peer gets within a second, up to `count` bytes.
    static std::string Receive(sim::PtyLine &line, size_t count)
    {
        std::string got;
        char chunk[256];
        long n;
        while (got.size() < count && (n = line.Receive(chunk, std::min(sizeof chunk, count - got.size()), 1000)) > 0)
            got.append(chunk, size_t(n));
        return got;
    }
    std::vector<std::string> LogFiles() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(receiver.Root() + "/tmp"))
            names.push_back("/tmp/" + entry.path().filename().string());
        return names;
    }

    std::deque<sim::PtyLine> lines;
};

TEST_F(UartTest, SettingsAreAppliedPerInterfaceOrRefused)
{
    for (int number = 0; number <= 10; ++number) {
        SCOPED_TRACE(number);
        if (number != 1 && number != 3)
            Line(a_devnames[number].path);
        ASSERT_EQ(API_UartOpen(number, O_RDWR | O_NOCTTY), API_ERR_NONE);
        termios before;
        tcgetattr(ai_fd[number], &before);
        before.c_cflag |= CRTSCTS;
        tcsetattr(ai_fd[number], TCSANOW, &before);

        ASSERT_EQ(API_UartSetBaudRate(number, B115200), API_ERR_NONE);
        termios applied;
        tcgetattr(ai_fd[number], &applied);
        // A pty drops parity, so the block the unit built is checked.
        const tcflag_t flags = a_uartSettings[number].c_cflag;
        const int handshake = number != 0 && number != 4;
        EXPECT_EQ((Codes{int(cfgetospeed(&applied)), int(cfgetispeed(&applied)), (applied.c_cflag & CRTSCTS) != 0,
                         (flags & CLOCAL) != 0, (flags & PARENB) != 0}),
                  (Codes{B115200, B115200, handshake, handshake, number >= 6}));
    }
    // Input that arrived before the change is discarded with it.
    ASSERT_TRUE(lines[0].Send("stale"));
    pollfd ready = {ai_fd[0], POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 1000), 1);
    ASSERT_EQ(API_UartSetBaudRate(0, B9600), API_ERR_NONE);
    ASSERT_EQ(poll(&ready, 1, 0), 0);

    // Speeds and configurations are read back or refused; only the low byte
    // is the line discipline.  Then bad numbers and closed interfaces.
    int rate = 0, config[API_UART_CONFIG_WORDS] = {B38400, 0x103}, back[API_UART_CONFIG_WORDS] = {-1, -1};
    EXPECT_EQ((Codes{API_UartSetBaudRate(2, 12345), API_UartSetConfig(2, config), API_UartGetConfig(2, back), back[0],
                     back[1], int(lines[1].HostBitRate())}),
              (Codes{API_ERR_SETTING_UART_BAUDRATE, 0, 0, B38400, 3, 38400}));
    // Nothing asked, nothing read.
    EXPECT_EQ((Codes{API_UartOpen(12, O_RDWR), API_UartWrite(-1, "x", 1), API_UartRead(2, nullptr, 0),
                     API_UartRead(2, nullptr, 1), errno, API_UartWrite(2, nullptr, 1)}),
              (Codes{API_ERR_INVALID_TTY_NUMBER, -1, 0, -1, EINVAL, -1}));
    errno = EINTR;  // left over: nothing to retry after a transfer of nothing
    EXPECT_EQ(API_UartWrite(2, "", 0), 0);
    errno = EINTR;
    EXPECT_EQ((Codes{API_UartRead(2, reinterpret_cast<char *>(back), 0), API_UartClose(2),
                     API_UartGetBaudRate(2, &rate), API_UartSetConfig(2, back)}),
              (Codes{0, 0, API_ERR_GETTING_UART_BAUDRATE, API_ERR_SETTING_UART_CONFIG}));
}

TEST_F(UartTest, DataPassesBothWaysAndIsMirroredWhileAnyDumpIsOn)
{
    sim::PtyLine &debug = Line("/dev/ttyS0");
    sim::PtyLine &radio = Line("/dev/radio");
    snprintf(a_devnames[5].path, sizeof a_devnames[5].path, "/dev/radio");
    ASSERT_EQ((Codes{API_UartOpen(5, O_RDWR | O_NOCTTY), API_Debug_SetSerialDump(5, 1), API_Debug_SetSerialDump(4, 7),
                     int(debug.HostBitRate()), a_uartSettings[0].c_line}),
              (Codes{0, 0, 0, 115200, 0}));
    const std::string out("AT\r\0\x11\x13\xff", 7), in("\x13\0ok\n", 5);
    ASSERT_EQ(API_UartWrite(5, out.data(), int(out.size())), 7);
    EXPECT_EQ(Receive(radio, out.size()), out);
    ASSERT_TRUE(radio.Send(in));
    char buffer[64];
    ASSERT_EQ(API_UartRead(5, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer, 5) + Receive(debug, 12), in + out + in);
    EXPECT_EQ((Codes{API_Debug_SetSerialDump(5, 0), ai_fd[0] > 0, API_Debug_SetSerialDump(4, 0), ai_fd[0],
                     receiver.OpenCount("/dev/ttyS0")}),
              (Codes{0, 1, 0, 0, 1}));
    // The shut-down switches every dump off.
    ASSERT_EQ(API_Debug_SetSerialDump(7, 1), API_ERR_NONE);
    simtest::Stdout([] { API_Finalize(); });
    EXPECT_EQ(ab_dbgEnabled[7] + ai_fd[0], 0);

    int first = ai_fd[5];
    ASSERT_EQ(API_UartOpen(5, O_RDWR | O_NOCTTY), API_ERR_NONE);
    EXPECT_EQ(fcntl(first, F_GETFD), -1) << "a reopened interface leaks its old descriptor";

    // The console the application opened itself is used as it is, and is not
    // the switches' to close or replace; nor is one it opens while they hold it.
    ASSERT_EQ(API_UartOpen(0, O_RDWR), API_ERR_NONE);
    int application = ai_fd[0];
    EXPECT_EQ((Codes{API_Debug_SetSerialDump(2, 1), ai_fd[0], API_Debug_SetSerialDump(2, 0), ai_fd[0], API_UartClose(0),
                     API_Debug_SetSerialDump(2, 1), API_UartOpen(0, O_RDWR)}),
              (Codes{0, application, 0, application, 0, 0, 0}));
    application = ai_fd[0];
    ASSERT_EQ(API_Debug_SetSerialDump(2, 0), API_ERR_NONE);
    EXPECT_EQ(ai_fd[0], application);
    EXPECT_NE(fcntl(application, F_GETFD), -1);
}

// Two logs switched on within one second share one file: neither may
// truncate or overwrite what the other wrote.
TEST_F(UartTest, LogsHoldExactlyTheBytesThatPassed)
{
    sim::PtyLine &radio = Line("/dev/ttyS5");
    Line("/dev/ttyS4");
    ASSERT_EQ(API_UartOpen(4, O_RDWR | O_NOCTTY) + API_UartOpen(5, O_RDWR | O_NOCTTY | O_NONBLOCK), API_ERR_NONE);
    do {  // until both switches fall into the same second
        simtest::Stdout([] { API_Finalize(); });
        std::filesystem::remove_all(receiver.Root() + "/tmp");
        std::filesystem::create_directory(receiver.Root() + "/tmp");
        ASSERT_EQ(API_Debug_SetSerialLog(4, 1), API_ERR_NONE);
        API_UartWrite(4, "four", 4);
        ASSERT_EQ(API_Debug_SetSerialLog(5, 1), API_ERR_NONE);
    } while (LogFiles().size() != 1);
    const std::string file = LogFiles()[0];
    EXPECT_EQ(file.compare(0, 9, "/tmp/log_"), 0);
    ASSERT_EQ(API_UartWrite(5, "out", 3), 3);
    ASSERT_TRUE(radio.Send("in"));
    char buffer[64];
    ASSERT_TRUE(simtest::Eventually([&] { return API_UartRead(5, buffer, sizeof buffer) > 0; }));
    API_UartWrite(4, "!", 1);
    // The peer does not read: only what the filling line took may be logged.
    std::string bulk(1 << 20, 'x');
    size_t taken = 0;
    for (int tries = 0, count; tries < 1000 && (count = API_UartWrite(5, bulk.data(), int(bulk.size()))) > 0; ++tries)
        taken += size_t(count);
    ASSERT_EQ(API_Debug_SetSerialLog(5, 0), API_ERR_NONE);
    const std::string logged = receiver.ReadFile(file);
    EXPECT_EQ(logged.substr(0, 11) + std::to_string(logged.size() - taken), "fouroutin!x10");
    simtest::Stdout([] { API_Finalize(); });
    EXPECT_EQ(ab_logEnabled[4] + ai_logFd[4], 0);

    // The switches as reported: positions 1 to 11, position 0 untouched.
    ASSERT_EQ(API_Debug_SetSerialLog(1, 1), API_ERR_NONE);
    int indexes[API_UART_COUNT] = {-1}, values[API_UART_COUNT] = {-1};
    ASSERT_EQ(API_Debug_GetSerialLog(indexes, values), API_ERR_NONE);
    EXPECT_EQ((Codes{indexes[0], values[0], indexes[11], values[11], values[1]}), (Codes{-1, -1, 11, 0, 1}));
    // The debug port logs nothing.
    EXPECT_EQ((Codes{API_Debug_GetSerialDump(indexes, values), values[1], API_Debug_GetSerialDump(indexes, nullptr),
                     API_Debug_GetSerialLog(nullptr, values), API_Debug_SetSerialLog(0, 1)}),
              (Codes{0, 0, API_ERR_INVALID_PARAMETERS, API_ERR_INVALID_PARAMETERS, API_ERR_INVALID_TTY_NUMBER}));
}

// A debug port that takes one byte per write and holds the first write until
// the thread switching the dump off has closed the port (and opened another
// file in its place), or waits to.
struct SlowConsole : sim::Device {
    ssize_t Write(const void *, size_t) override
    {
        if (writes++ == 0)
            simtest::Eventually([this] { return switched || WaitsIn(switcher, SYS_futex); });
        return 1;
    }
    std::atomic<int> writes{0};
    std::atomic<bool> switched{false};
    long switcher = ThreadId();
};

// A copy in flight when its switch goes off must not reach the descriptor
// closed under it, nor the file that takes its number next; and a link
// planted where the log is to be created is not followed.
TEST_F(UartTest, CopiesLandOnlyInTheirPlaceAndLogsFollowNoLink)
{
    auto console = std::make_shared<SlowConsole>();
    receiver.AddDevice("/var/console", console);
    for (int number : {0, 4})
        snprintf(a_devnames[number].path, sizeof a_devnames[number].path, number ? "/var/line" : "/var/console");
    const std::string victim = receiver.Root() + "/var/victim";
    ASSERT_EQ(API_UartOpen(4, O_RDWR | O_CREAT) + API_Debug_SetSerialDump(4, 1), API_ERR_NONE);
    std::thread traffic([] { API_UartWrite(4, "44", 2); });
    ASSERT_TRUE(simtest::Eventually([&] { return console->writes > 0; }));
    ASSERT_EQ(API_Debug_SetSerialDump(4, 0), API_ERR_NONE);
    int reused = open(victim.c_str(), O_WRONLY | O_CREAT, 0600);
    console->switched = true;
    traffic.join();
    close(reused);
    EXPECT_EQ((Codes{console->writes, int(receiver.ReadFile("/var/victim").size())}), (Codes{2, 0}));

    for (long now = time(nullptr), second = now; second < now + 3; ++second)
        symlink(victim.c_str(), (receiver.Root() + "/tmp/log_" + std::to_string(second)).c_str());
    EXPECT_EQ((Codes{API_Debug_SetSerialLog(4, 1), API_UartWrite(4, "x", 1), ab_logEnabled[4]}),
              (Codes{API_ERR_OPEN_FILE, 1, 0}));
    EXPECT_EQ(receiver.ReadFile("/var/victim"), "");
}

}  // namespace
