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
#include "internal/API_USBDevice.h"
#include "internal/API_Usbserial.h"
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
    void SetUp() override
    {
        FullttyUSB = 0;
        UsbSerialState = 1;
        p_usbserialcallback.store(nullptr);
        g_link.Clear();
        ASSERT_EQ(API_Signal_Initialize(), 0);
    }
    void TearDown() override
    {
        API_Signal_Cleanup();
        p_usbserialcallback.store(nullptr);
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
        return usbtest::WaitUntil([state] { return LinkState() == state; });
    }
};

TEST_F(UsbSerialLinkTest, TwoPortModeNeedsTheFirstTwoPorts)
{
    ASSERT_EQ(API_Usbserial_Init(RecordLink), 0);
    EXPECT_EQ(LinkState(), 0);
    Port(0, true);
    EXPECT_EQ(LinkState(), 0);
    Port(1, true);
    ASSERT_TRUE(LinkBecomes(1));
    Port(2, true);
    board.gpio->RaiseSigio();
    Port(1, false);
    ASSERT_TRUE(LinkBecomes(0));
    EXPECT_EQ(g_link.Values(), (std::vector<int>{0, 1, 0}));
}

TEST_F(UsbSerialLinkTest, FivePortModeNeedsEveryPort)
{
    FullttyUSB = 1;
    for (int index : {0, 1, 2, 4})
        receiver.CreateFile(Tty(index));
    ASSERT_EQ(API_Usbserial_Init(RecordLink), 0);
    Port(3, true);
    ASSERT_TRUE(LinkBecomes(1));
    Port(3, false);
    ASSERT_TRUE(LinkBecomes(0));
    EXPECT_EQ(g_link.Values(), (std::vector<int>{0, 1, 0}));
}

TEST_F(UsbSerialLinkTest, LoadingTheSerialGadgetBringsTheLinkUp)
{
    ASSERT_EQ(API_NOR_Init(), 0);
    device_mode = USB_Mode_None;
    ASSERT_EQ(API_Usbserial_Init(nullptr), 0);
    shell.When("insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko")
        .CreatesFile(Tty(0))
        .CreatesFile(Tty(1))
        .Does([this] { board.gpio->RaiseSigio(); });
    EXPECT_EQ(API_USB_SetDeviceMode(USB_Mode_Serial), 0);
    EXPECT_TRUE(LinkBecomes(1));
    API_NOR_Cleanup();
}

class UsbSerialPortsTest : public usbtest::UsbBoardTest {
protected:
    void SetUp() override
    {
        for (int index = 0; index < 5; ++index)
            lines.push_back(std::make_unique<sim::PtyLine>(receiver, "/dev/ttyUSB" + std::to_string(index)));
    }
    void TearDown() override { API_Usbserial_Cleanup(); }

    std::vector<std::unique_ptr<sim::PtyLine>> lines;
};

TEST_F(UsbSerialPortsTest, PortsCarryDataAtTheSpeedSet)
{
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    for (auto &line : lines)
        EXPECT_EQ(line->HostBitRate(), 115200u) << line->BoardPath();

    EXPECT_EQ(API_Usbserial_SetBaudRate(9, 57600), 0);
    EXPECT_EQ(lines[3]->HostBitRate(), 57600u);
    int baud = 0;
    EXPECT_EQ(API_Usbserial_GetBaudRate(9, &baud), 0);
    EXPECT_EQ(baud, 57600);
    EXPECT_EQ(API_Usbserial_SetBaudRate(6, 14400), API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED);
    EXPECT_EQ(lines[0]->HostBitRate(), 115200u);

    EXPECT_EQ(API_Usbserial_Write(9, "status?\r\n", 9), 9);
    char received[16] = {};
    ASSERT_EQ(lines[3]->Receive(received, sizeof received, 2000), 9);
    EXPECT_STREQ(received, "status?\r\n");

    ASSERT_TRUE(lines[4]->Send("answer"));
    std::string answer;
    ASSERT_TRUE(usbtest::WaitUntil([&] {
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
