// The USB serial gadget: the link followed through the tty presence files and
// SIGIO, and the ports' data and speeds over real pseudo-terminals.
#include <memory>

#include "usb_board.h"

namespace {

simtest::EventRecorder g_link;
int RecordLink(int state) { return g_link.Record(state), 0; }

std::string Tty(int index) { return "/sys/class/tty/ttyUSB" + std::to_string(index); }

class UsbSerialTest : public usbtest::UsbBoardTest {
protected:
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
        return simtest::Eventually([state] { return Get(API_Usbserial_GetState) == state; });
    }
};

// Two ports make the link, unless five were announced at start-up.
TEST_F(UsbSerialTest, TheLinkNeedsTheFirstTwoPortsOrAllFive)
{
    receiver.CreateFile(Tty(0));
    receiver.CreateFile(Tty(1));
    ASSERT_EQ(API_Usbserial_Init(RecordLink), 0);
    EXPECT_EQ(Get(API_Usbserial_GetState), 1);
    Port(2, true);
    board.gpio->RaiseSigio();
    Port(1, false);
    ASSERT_TRUE(LinkBecomes(0));
    Port(0, false);
    Port(1, true);
    EXPECT_EQ(Get(API_Usbserial_GetState), 0);
    Port(0, true);
    ASSERT_TRUE(LinkBecomes(1));

    FullttyUSB = 1;
    receiver.CreateFile(Tty(4));
    ASSERT_EQ(API_Usbserial_Init(nullptr), 0);
    EXPECT_EQ(Get(API_Usbserial_GetState), 0);
    Port(3, true);
    ASSERT_TRUE(LinkBecomes(1));
    Port(4, false);
    ASSERT_TRUE(LinkBecomes(0));
    EXPECT_EQ(g_link.Values(), (std::vector<int>{1, 0, 1, 0, 1, 0}));
}

TEST_F(UsbSerialTest, PortsCarryDataAtTheSpeedSetAndAMissingOneEndsTheStartUp)
{
    std::vector<std::unique_ptr<sim::PtyLine>> lines;
    for (int index = 0; index < 5; ++index)
        lines.push_back(std::make_unique<sim::PtyLine>(receiver, "/dev/ttyUSB" + std::to_string(index)));
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    for (auto &line : lines)
        EXPECT_EQ(line->HostBitRate(), 115200u) << line->BoardPath();
    for (int baud : {1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 1200}) {
        int set = 0;
        EXPECT_EQ(API_Usbserial_SetBaudRate(9, baud), 0);
        EXPECT_EQ(API_Usbserial_GetBaudRate(9, &set), 0);
        EXPECT_EQ(set, baud);
    }
    EXPECT_EQ(lines[3]->HostBitRate(), 1200u);
    EXPECT_EQ(API_Usbserial_SetBaudRate(6, 14400), API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED);
    EXPECT_EQ(API_Usbserial_Write(9, "status?\r\n", 9), 9);
    char received[16] = {};
    ASSERT_EQ(lines[3]->Receive(received, sizeof received, 2000), 9);
    EXPECT_STREQ(received, "status?\r\n");
    EXPECT_EQ(API_Usbserial_Cleanup(), 0);
    EXPECT_EQ(API_Usbserial_Write(9, "x", 1), 0);  // closed

    // The ports after a missing one are not opened.
    lines[0].reset();
    receiver.RemoveFile("/dev/ttyUSB0");
    EXPECT_EQ(API_Usbserial_Initialize(), API_ERR_OPENING_UART);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyUSB1"), 1);
}

}  // namespace
