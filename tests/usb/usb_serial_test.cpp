// The USB serial gadget: the link followed through the tty presence files and
// SIGIO, and the ports' data and speeds over real pseudo-terminals.
#include <memory>
#include <string>
#include <vector>

#include "API_Errors.h"
#include "API_NOR.h"
#include "API_Signal.h"
#include "API_USBDevice.h"
#include "API_Usbserial.h"
#include "internal/API_Init.h"
#include "sim/pty_line.h"
#include "usb_board.h"

namespace {

usbtest::EventRecorder g_link;
int RecordLink(int state)
{
    g_link.Record(state);
    return 0;
}

std::string Tty(int index) { return "/sys/class/tty/ttyUSB" + std::to_string(index); }

int LinkState()
{
    int state = -1;
    API_Usbserial_GetState(&state);
    return state;
}

class UsbSerialLinkTest : public usbtest::UsbBoardTest {
protected:
    UsbSerialLinkTest() { EXPECT_EQ(API_Signal_Initialize(), 0); }
    ~UsbSerialLinkTest() override
    {
        API_Signal_Cleanup();
        FullttyUSB = 0;
    }
    // Changes one presence file and lets the driver announce it.
    void Port(int index, bool present)
    {
        if (present)
            receiver.CreateFile(Tty(index));
        else
            receiver.RemoveFile(Tty(index));
        board.gpio->RaiseSigio();
    }
    static bool LinkBecomes(int state)
    {
        return simtest::Eventually([state] { return LinkState() == state; });
    }
};

TEST_F(UsbSerialLinkTest, TwoPortModeNeedsTheFirstTwoPorts)
{
    receiver.CreateFile(Tty(0));
    receiver.CreateFile(Tty(1));
    ASSERT_EQ(API_Usbserial_Init(RecordLink), 0);
    EXPECT_EQ(LinkState(), 1);
    Port(2, true);
    board.gpio->RaiseSigio();
    Port(1, false);
    ASSERT_TRUE(LinkBecomes(0));
    Port(0, false);
    Port(1, true);
    EXPECT_EQ(LinkState(), 0);
    Port(0, true);
    ASSERT_TRUE(LinkBecomes(1));
    EXPECT_EQ(g_link.Values(), (std::vector<int>{1, 0, 1}));
}

TEST_F(UsbSerialLinkTest, FivePortModeNeedsEveryPort)
{
    FullttyUSB = 1;
    for (int index : {0, 1, 2, 4})
        receiver.CreateFile(Tty(index));
    ASSERT_EQ(API_Usbserial_Init(RecordLink), 0);
    Port(3, true);
    ASSERT_TRUE(LinkBecomes(1));
    Port(4, false);
    ASSERT_TRUE(LinkBecomes(0));
    EXPECT_EQ(g_link.Values(), (std::vector<int>{0, 1, 0}));
}

class UsbSerialPortsTest : public usbtest::UsbBoardTest {
protected:
    UsbSerialPortsTest()
    {
        for (int index = 0; index < 5; ++index)
            lines.push_back(std::make_unique<sim::PtyLine>(receiver, "/dev/ttyUSB" + std::to_string(index)));
    }
    ~UsbSerialPortsTest() override { API_Usbserial_Cleanup(); }

    std::vector<std::unique_ptr<sim::PtyLine>> lines;
};

TEST_F(UsbSerialPortsTest, PortsCarryDataAtTheSpeedSet)
{
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    for (auto &line : lines)
        EXPECT_EQ(line->HostBitRate(), 115200u) << line->BoardPath();
    for (int baud : {1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        int set = 0;
        EXPECT_EQ(API_Usbserial_SetBaudRate(9, baud), 0);
        EXPECT_EQ(API_Usbserial_GetBaudRate(9, &set), 0);
        EXPECT_EQ(set, baud);
    }
    EXPECT_EQ(lines[3]->HostBitRate(), 115200u);
    EXPECT_EQ(API_Usbserial_SetBaudRate(6, 14400), API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED);

    EXPECT_EQ(API_Usbserial_Write(9, "status?\r\n", 9), 9);
    char received[16] = {};
    ASSERT_EQ(lines[3]->Receive(received, sizeof received, 2000), 9);
    EXPECT_STREQ(received, "status?\r\n");
    ASSERT_TRUE(lines[4]->Send("answer"));
    std::string answer;
    ASSERT_TRUE(simtest::Eventually([&] {
        char buffer[16];
        int count = API_Usbserial_Read(10, buffer, sizeof buffer);
        answer.append(buffer, count > 0 ? count : 0);
        return answer.size() >= 6;
    }));
    EXPECT_EQ(answer, "answer");
    EXPECT_EQ(API_Usbserial_Cleanup(), 0);
    EXPECT_EQ(API_Usbserial_Write(9, "x", 1), 0);  // closed
}

TEST_F(UsbSerialPortsTest, MissingPortEndsStartUpAfterTheOpenedOnes)
{
    lines[2].reset();
    receiver.RemoveFile("/dev/ttyUSB2");
    EXPECT_EQ(API_Usbserial_Initialize(), API_ERR_OPENING_UART);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyUSB3"), 0);
    EXPECT_EQ(API_Usbserial_Write(7, "x", 1), 1);  // opened before: still usable
}

}  // namespace
