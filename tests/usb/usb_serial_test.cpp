// The USB serial gadget: the link followed through the tty presence files and
// SIGIO, and the ports' data and speeds over real pseudo-terminals.
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

using usbtest::EventRecorder;
using usbtest::WaitUntil;

EventRecorder g_linkEvents;
int RecordLinkEvent(int state)
{
    g_linkEvents.Record(state);
    return 0;
}

std::string TtyPresence(int index) { return "/sys/class/tty/ttyUSB" + std::to_string(index); }

class UsbSerialLinkTest : public usbtest::UsbBoardTest {
protected:
    void SetUp() override
    {
        FullttyUSB = 0;
        UsbSerialState = 1;
        p_usbserialcallback.store(nullptr);
        g_linkEvents.Clear();
        ASSERT_EQ(API_Signal_Initialize(), 0);
    }
    void TearDown() override
    {
        API_Signal_Cleanup();
        p_usbserialcallback.store(nullptr);
        FullttyUSB = 0;
    }

    void AddPorts(std::vector<int> indexes)
    {
        for (int index : indexes)
            receiver.CreateFile(TtyPresence(index));
        board.gpio->RaiseSigio();
    }
    void RemovePorts(std::vector<int> indexes)
    {
        for (int index : indexes)
            receiver.RemoveFile(TtyPresence(index));
        board.gpio->RaiseSigio();
    }
    static int State()
    {
        int state = -1;
        API_Usbserial_GetState(&state);
        return state;
    }
};

TEST_F(UsbSerialLinkTest, TwoPortModeNeedsTheFirstTwoPorts)
{
    ASSERT_EQ(API_Usbserial_Init(RecordLinkEvent), 0);
    EXPECT_EQ(State(), 0);
    EXPECT_EQ(g_linkEvents.Values(), std::vector<int>{0});

    AddPorts({0});
    EXPECT_EQ(State(), 0);
    AddPorts({1});
    ASSERT_TRUE(WaitUntil([] { return State() == 1; }));
    AddPorts({2});
    board.gpio->RaiseSigio();
    EXPECT_EQ(State(), 1);

    RemovePorts({1});
    ASSERT_TRUE(WaitUntil([] { return State() == 0; }));
    EXPECT_EQ(g_linkEvents.Values(), (std::vector<int>{0, 1, 0}));
}

TEST_F(UsbSerialLinkTest, FivePortModeNeedsEveryPort)
{
    FullttyUSB = 1;
    for (int index : {0, 1, 2, 4})
        receiver.CreateFile(TtyPresence(index));
    ASSERT_EQ(API_Usbserial_Init(RecordLinkEvent), 0);
    EXPECT_EQ(State(), 0);

    AddPorts({3});
    ASSERT_TRUE(WaitUntil([] { return State() == 1; }));
    RemovePorts({3});
    ASSERT_TRUE(WaitUntil([] { return State() == 0; }));
    board.gpio->RaiseSigio();
    EXPECT_EQ(g_linkEvents.Values(), (std::vector<int>{0, 1, 0}));
}

TEST_F(UsbSerialLinkTest, LoadingTheSerialGadgetBringsTheLinkUp)
{
    ASSERT_EQ(API_NOR_Init(), 0);
    device_mode = USB_Mode_None;
    ASSERT_EQ(API_Usbserial_Init(RecordLinkEvent), 0);
    shell.When("insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko")
        .CreatesFile(TtyPresence(0))
        .CreatesFile(TtyPresence(1))
        .Does([this] { board.gpio->RaiseSigio(); });
    shell.When("rmmod g_serial").RemovesFile(TtyPresence(0)).RemovesFile(TtyPresence(1)).Does([this] {
        board.gpio->RaiseSigio();
    });

    EXPECT_EQ(API_USB_SetDeviceMode(USB_Mode_Serial), 0);
    ASSERT_TRUE(WaitUntil([] { return State() == 1; }));
    EXPECT_EQ(API_USB_SetDeviceMode(USB_Mode_None), 0);
    ASSERT_TRUE(WaitUntil([] { return State() == 0; }));
    EXPECT_EQ(g_linkEvents.Values(), (std::vector<int>{0, 1, 0}));
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

TEST_F(UsbSerialPortsTest, PortsOpenAt115200AndCarryDataBothWays)
{
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    for (auto &line : lines)
        EXPECT_EQ(line->HostBitRate(), 115200u) << line->BoardPath();

    const char request[] = "status?\r\n";
    EXPECT_EQ(API_Usbserial_Write(8, request, static_cast<int>(strlen(request))), static_cast<int>(strlen(request)));
    char received[64] = {};
    ASSERT_EQ(lines[2]->Receive(received, sizeof received, 2000), static_cast<long>(strlen(request)));
    EXPECT_STREQ(received, request);

    ASSERT_TRUE(lines[4]->Send("answer"));
    char buffer[64] = {};
    int count = 0;
    ASSERT_TRUE(WaitUntil([&] {
        int got = API_Usbserial_Read(10, buffer + count, static_cast<int>(sizeof buffer) - 1 - count);
        count += got > 0 ? got : 0;
        return count >= 6;
    }));
    EXPECT_STREQ(buffer, "answer");

    EXPECT_EQ(API_Usbserial_Cleanup(), 0);
    EXPECT_EQ(API_Usbserial_Read(10, buffer, sizeof buffer), 0);
}

TEST_F(UsbSerialPortsTest, SpeedsOfTheTableOnly)
{
    ASSERT_EQ(API_Usbserial_Initialize(), 0);
    const int bauds[] = {1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (int baud : bauds) {
        ASSERT_EQ(API_Usbserial_SetBaudRate(7, baud), 0) << baud;
        int read_back = 0;
        EXPECT_EQ(API_Usbserial_GetBaudRate(7, &read_back), 0);
        EXPECT_EQ(read_back, baud);
    }
    EXPECT_EQ(API_Usbserial_SetBaudRate(9, 9600), 0);
    EXPECT_EQ(lines[3]->HostBitRate(), 9600u);
    EXPECT_EQ(lines[0]->HostBitRate(), 115200u);

    EXPECT_EQ(API_Usbserial_SetBaudRate(6, 14400), API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED);
    EXPECT_EQ(API_Usbserial_SetBaudRate(6, 0), API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED);
    EXPECT_EQ(lines[0]->HostBitRate(), 115200u);
}

TEST_F(UsbSerialPortsTest, MissingPortEndsStartUpAfterTheOpenedOnes)
{
    lines[2].reset();
    receiver.RemoveFile("/dev/ttyUSB2");
    EXPECT_EQ(API_Usbserial_Initialize(), API_ERR_OPENING_UART);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyUSB1"), 1);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyUSB2"), 1);
    EXPECT_EQ(receiver.OpenCount("/dev/ttyUSB3"), 0);
    // The ports opened before stay usable.
    EXPECT_EQ(API_Usbserial_Write(7, "x", 1), 1);
    EXPECT_EQ(API_Usbserial_Cleanup(), 0);
}

}  // namespace
