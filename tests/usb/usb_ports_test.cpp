// The device port's gadget modes and the host port's disk detection, with the
// module commands seen by the shell and the events delivered by real signals.
#include <errno.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "API_NOR.h"
#include "API_Signal.h"
#include "API_USBDevice.h"
#include "internal/API_USBDevice.h"
#include "usb_board.h"

namespace {

using usbtest::EventRecorder;
using usbtest::WaitUntil;

const std::string kLoadSerial = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko";
const std::string kLoadStorage = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_storage.ko";
const std::string kUnloadSerial = "rmmod g_serial";
const std::string kUnloadStorage = "rmmod g_storage";

EventRecorder g_usbEvents;
void RecordUsbEvent(int event) { g_usbEvents.Record(event); }

class UsbPortsTest : public usbtest::UsbBoardTest {
protected:
    void SetUp() override
    {
        device_mode = USB_Mode_None;
        device_state = 0;
        host_state = 0;
        p_usbcallback.store(nullptr);
        g_usbEvents.Clear();
        ASSERT_EQ(API_NOR_Init(), 0);
        ASSERT_EQ(API_Signal_Initialize(), 0);
    }
    void TearDown() override
    {
        API_Signal_Cleanup();
        API_NOR_Cleanup();
        p_usbcallback.store(nullptr);
    }

    std::string StoredMode() const { return board.nor->PeekText(0x39000, 1); }
    int Mode() const
    {
        int mode = -1;
        API_USB_GetDeviceMode(&mode);
        return mode;
    }
    int HostState() const
    {
        int state = -1;
        API_USB_GetHostState(&state);
        return state;
    }
};

TEST_F(UsbPortsTest, SwitchingGadgetsGoesThroughNoneAndStoresEachMode)
{
    EXPECT_EQ(API_USB_SetDeviceMode(1), 0);
    EXPECT_EQ(StoredMode(), "1");
    EXPECT_EQ(API_USB_SetDeviceMode(0), 0);
    EXPECT_EQ(StoredMode(), "0");
    EXPECT_EQ(API_USB_SetDeviceMode(2), 0);
    EXPECT_EQ(StoredMode(), "2");
    EXPECT_EQ(Mode(), 2);
    EXPECT_EQ(shell.Commands(), (std::vector<std::string>{kLoadSerial, kUnloadSerial, kUnloadStorage, kLoadStorage}));
}

TEST_F(UsbPortsTest, AnotherGadgetWhileOneIsLoadedIsRefusedWithoutSideEffects)
{
    ASSERT_EQ(API_USB_SetDeviceMode(1), 0);
    board.nor->ClearWrites();

    EXPECT_EQ(API_USB_SetDeviceMode(2), API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE);
    EXPECT_EQ(Mode(), 1);
    EXPECT_TRUE(board.nor->Writes().empty());
    EXPECT_EQ(shell.Commands(), std::vector<std::string>{kLoadSerial});

    // The loaded gadget asked for again: nothing to load, the mode stored again.
    EXPECT_EQ(API_USB_SetDeviceMode(1), 0);
    EXPECT_EQ(shell.Commands(), std::vector<std::string>{kLoadSerial});
    EXPECT_EQ(board.nor->Writes().size(), 1u);
    EXPECT_EQ(StoredMode(), "1");
}

TEST_F(UsbPortsTest, InvalidModesAndFlashFailures)
{
    EXPECT_EQ(API_USB_SetDeviceMode(3), API_ERR_INVALID_MODE);
    EXPECT_EQ(API_USB_SetDeviceMode(0xFFFFFFFFu), API_ERR_INVALID_MODE);
    EXPECT_TRUE(board.nor->Writes().empty());
    EXPECT_TRUE(shell.Commands().empty());
    EXPECT_EQ(Mode(), 0);

    // The gadget is loaded even so; the failed store is reported.
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_USB_SetDeviceMode(2), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(Mode(), 2);
    EXPECT_EQ(shell.Commands(), std::vector<std::string>{kLoadStorage});
}

TEST_F(UsbPortsTest, DiskInsertedAndRemovedIsReportedOncePerChange)
{
    ASSERT_EQ(API_USB_Init(RecordUsbEvent), 0);
    EXPECT_TRUE(g_usbEvents.Values().empty());

    receiver.CreateFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(WaitUntil([] { return g_usbEvents.Values().size() == 1; }));
    EXPECT_EQ(HostState(), 1);
    board.gpio->RaiseSigio();  // nothing changed on the host port

    receiver.RemoveFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(WaitUntil([] { return g_usbEvents.Values().size() >= 2; }));
    EXPECT_EQ(HostState(), 0);
    EXPECT_EQ(g_usbEvents.Values(), (std::vector<int>{API_USB_EVENT_DISK_ADDED, API_USB_EVENT_DISK_REMOVED}));
}

TEST_F(UsbPortsTest, DiskPresentAtStartIsSeenWithOrWithoutCallback)
{
    receiver.CreateFile("/dev/sda1");
    EXPECT_EQ(API_USB_Init(nullptr), 0);
    EXPECT_EQ(HostState(), 1);
    EXPECT_TRUE(g_usbEvents.Values().empty());

    // Registering later keeps the disk's state and tells the new callback.
    EXPECT_EQ(API_USB_Init(RecordUsbEvent), 0);
    EXPECT_EQ(g_usbEvents.Values(), std::vector<int>{API_USB_EVENT_DISK_ADDED});
    // A null callback leaves the registered one in place.
    EXPECT_EQ(API_USB_Init(nullptr), 0);
    EXPECT_EQ(g_usbEvents.Values().size(), 2u);
}

TEST_F(UsbPortsTest, DevicePortConnectAndDisconnectFromDriverEvents)
{
    ASSERT_EQ(API_USB_Init(RecordUsbEvent), 0);
    int state = -1;

    board.gpio->RaiseEvents(API_EVENT_USB_CONNECTED);
    ASSERT_TRUE(WaitUntil([] { return g_usbEvents.Values().size() == 1; }));
    API_USB_GetDeviceState(&state);
    EXPECT_EQ(state, 1);

    board.gpio->RaiseEvents(API_EVENT_USB_DISCONNECTED);
    ASSERT_TRUE(WaitUntil([] { return g_usbEvents.Values().size() == 2; }));
    API_USB_GetDeviceState(&state);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(g_usbEvents.Values(), (std::vector<int>{API_USB_EVENT_DEVICE, API_USB_EVENT_DEVICE}));
    // Device-port events leave the host port alone.
    EXPECT_EQ(HostState(), 0);
}

}  // namespace
