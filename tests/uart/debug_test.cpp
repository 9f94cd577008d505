// Serial traffic copied to the debug port and to log files.
#include <fcntl.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Debug.h"
#include "API_Errors.h"
#include "API_Init.h"
#include "API_Uart.h"
#include "internal/API_Uart.h"
#include "uart_fixture.h"

namespace {

class SerialCopyTest : public UartTest {
protected:
    std::vector<std::string> LogFiles() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(receiver.Root() + "/tmp"))
            names.push_back("/tmp/" + entry.path().filename().string());
        return names;
    }
};

TEST_F(SerialCopyTest, DumpMirrorsBothDirectionsToTheDebugPort)
{
    sim::PtyLine &debug = Line("/dev/ttyS0");
    sim::PtyLine &gnss = Line("/dev/ttyS2");
    ASSERT_EQ(API_UartOpen(2, O_RDWR | O_NOCTTY), API_ERR_NONE);
    ASSERT_EQ(API_Debug_SetSerialDump(2, 1), API_ERR_NONE);
    EXPECT_EQ(debug.HostBitRate(), 115200u);

    ASSERT_EQ(API_UartWrite(2, "$PQ\r\n", 5), 5);
    EXPECT_EQ(Receive(gnss, 5), "$PQ\r\n");
    ASSERT_TRUE(gnss.Send("12345"));
    char buffer[64];
    ASSERT_EQ(API_UartRead(2, buffer, sizeof buffer), 5);
    EXPECT_EQ(Receive(debug, 10), "$PQ\r\n12345");
}

TEST_F(SerialCopyTest, DebugPortOpensWithTheFirstDumpAndClosesWithTheLast)
{
    Line("/dev/ttyS0");
    ASSERT_EQ(API_Debug_SetSerialDump(1, 1), API_ERR_NONE);
    ASSERT_EQ(API_Debug_SetSerialDump(2, 7), API_ERR_NONE);
    ASSERT_EQ(API_Debug_SetSerialDump(1, 0), API_ERR_NONE);
    EXPECT_GT(ai_fd[0], 0);
    int indexes[API_UART_COUNT] = {-9}, values[API_UART_COUNT] = {-9};
    ASSERT_EQ(API_Debug_GetSerialDump(indexes, values), API_ERR_NONE);
    EXPECT_EQ(indexes[2], 2);
    EXPECT_EQ(values[2], 1);
    EXPECT_EQ(values[1], 0);
    EXPECT_EQ(indexes[0], -9);  // position 0 is not reported
    EXPECT_EQ(values[0], -9);
    ASSERT_EQ(API_Debug_SetSerialDump(2, 0), API_ERR_NONE);
    EXPECT_EQ(ai_fd[0], 0);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyS0"), 1);

    // The console opened by the application is not the switches' to close.
    ASSERT_EQ(API_UartOpen(0, O_RDWR), API_ERR_NONE);
    EXPECT_EQ(API_Debug_SetSerialDump(3, 0), API_ERR_NONE);
    EXPECT_GT(ai_fd[0], 0);
}

TEST_F(SerialCopyTest, DumpRefusalsLeaveTheSwitchOff)
{
    EXPECT_EQ(API_Debug_SetSerialDump(12, 1), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_Debug_SetSerialDump(0, 1), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_Debug_SetSerialDump(0, 2), API_ERR_INVALID_TTY_NUMBER);
    receiver.FailOpen("/dev/ttyS0", EACCES);
    EXPECT_EQ(API_Debug_SetSerialDump(1, 1), API_ERR_OPENING_UART);
    EXPECT_EQ(ab_dbgEnabled[1], 0);
    EXPECT_EQ(b_ttyS0open, 0);
}

TEST_F(SerialCopyTest, LogHoldsExactlyTheBytesThatPassed)
{
    sim::PtyLine &radio = Line("/dev/ttyS5");
    ASSERT_EQ(API_UartOpen(5, O_RDWR | O_NOCTTY | O_NONBLOCK), API_ERR_NONE);
    unsigned before = unsigned(time(nullptr));
    ASSERT_EQ(API_Debug_SetSerialLog(5, 1), API_ERR_NONE);
    std::vector<std::string> files = LogFiles();
    ASSERT_EQ(files.size(), 1u);
    unsigned stamp = unsigned(std::stoul(files[0].substr(9)));
    EXPECT_TRUE(stamp >= before && stamp <= unsigned(time(nullptr))) << files[0];
    EXPECT_EQ(API_Debug_SetSerialLog(5, 1), API_ERR_NONE);
    EXPECT_EQ(LogFiles().size(), 1u);

    ASSERT_EQ(API_UartWrite(5, "out", 3), 3);
    ASSERT_TRUE(radio.Send("in"));
    char buffer[64];
    for (int tries = 0; tries < 1000 && API_UartRead(5, buffer, sizeof buffer) <= 0; ++tries)
        usleep(1000);
    // The peer does not read: only what the filling line took may be logged.
    std::string bulk(1 << 20, 'x');
    size_t taken = 0;
    for (int tries = 0; tries < 1000; ++tries) {
        int count = API_UartWrite(5, bulk.data(), int(bulk.size()));
        if (count < 0)
            break;
        taken += size_t(count);
    }
    ASSERT_GT(taken, 0u);
    ASSERT_EQ(API_Debug_SetSerialLog(5, 0), API_ERR_NONE);
    EXPECT_EQ(writeLogFile(5, "late", 4), API_ERR_INVALID_TTY_NUMBER);
    std::string logged = receiver.ReadFile(files[0]);
    EXPECT_EQ(logged.size(), 5 + taken);
    EXPECT_EQ(logged.substr(0, 6), "outinx");
}

TEST_F(SerialCopyTest, LogsStartedInOneSecondShareOneFileWithoutOverwriting)
{
    Line("/dev/ttyS3");
    Line("/dev/ttyS4");
    ASSERT_EQ(API_UartOpen(3, O_RDWR | O_NOCTTY), API_ERR_NONE);
    ASSERT_EQ(API_UartOpen(4, O_RDWR | O_NOCTTY), API_ERR_NONE);
    do {  // until both switches fall into the same second
        API_Debug_SetSerialLog(3, 0);
        API_Debug_SetSerialLog(4, 0);
        std::filesystem::remove_all(receiver.Root() + "/tmp");
        std::filesystem::create_directory(receiver.Root() + "/tmp");
        ASSERT_EQ(API_Debug_SetSerialLog(3, 1), API_ERR_NONE);
        ASSERT_EQ(API_Debug_SetSerialLog(4, 1), API_ERR_NONE);
    } while (LogFiles().size() != 1);
    API_UartWrite(3, "three", 5);
    API_UartWrite(4, "four", 4);
    API_UartWrite(3, "!", 1);
    EXPECT_EQ(receiver.ReadFile(LogFiles()[0]), "threefour!");
}

TEST_F(SerialCopyTest, ShutDownSwitchesEverythingOff)
{
    Line("/dev/ttyS0");
    ASSERT_EQ(API_Debug_SetSerialDump(10, 1), API_ERR_NONE);
    ASSERT_EQ(API_Debug_SetSerialLog(3, 1), API_ERR_NONE);
    API_Finalize();
    EXPECT_EQ(ab_dbgEnabled[10] + ab_logEnabled[3] + ai_logFd[3] + b_ttyS0open + ai_fd[0], 0);
}

TEST_F(SerialCopyTest, LogSwitchRefusals)
{
    EXPECT_EQ(API_Debug_SetSerialLog(0, 1), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_Debug_SetSerialLog(0, 0), API_ERR_NONE);
    EXPECT_EQ(API_Debug_SetSerialLog(12, 1), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_Debug_SetSerialLog(-1, 0), API_ERR_INVALID_TTY_NUMBER);
    EXPECT_EQ(API_Debug_SetSerialLog(6, 2), API_ERR_NONE);
    EXPECT_EQ(ab_logEnabled[6], 0);

    std::filesystem::remove_all(receiver.Root() + "/tmp");
    std::ofstream(receiver.Root() + "/tmp") << "not a directory";
    EXPECT_EQ(API_Debug_SetSerialLog(6, 1), API_ERR_OPEN_FILE);
    EXPECT_EQ(ab_logEnabled[6] + ai_logFd[6], 0);
}

}  // namespace
