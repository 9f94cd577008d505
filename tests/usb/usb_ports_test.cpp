// The device port's gadget modes and the host port's disk detection, with the
// module commands the shell saw and events delivered by real signals.
#include "usb_board.h"

namespace {

using Commands = std::vector<std::string>;
using UsbPortsTest = usbtest::UsbBoardTest;

const std::string kLoadSerial = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko";
const std::string kLoadStorage = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_storage.ko";

simtest::EventRecorder g_events;
void RecordEvent(int event) { g_events.Record(event); }

TEST_F(UsbPortsTest, GadgetsChangeOnlyThroughNoneAndFailuresAreReported)
{
    EXPECT_EQ(API_USB_SetDeviceMode(3), API_ERR_INVALID_MODE);
    // A gadget that did not load: nothing kept or stored.
    shell.When(kLoadSerial).ExitsWith(1);
    EXPECT_EQ(API_USB_SetDeviceMode(1), API_ERR_USB_INITIALIZAION);
    EXPECT_EQ(Get(API_USB_GetDeviceMode), 0);
    EXPECT_TRUE(board.nor->Writes().empty());

    EXPECT_EQ(API_USB_SetDeviceMode(2), 0);
    EXPECT_EQ(board.nor->PeekText(0x39000, 1), "2");
    // Another gadget while one is loaded: refused, nothing run or stored.
    board.nor->ClearWrites();
    EXPECT_EQ(API_USB_SetDeviceMode(1), API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE);
    EXPECT_EQ(Get(API_USB_GetDeviceMode), 2);
    EXPECT_TRUE(board.nor->Writes().empty());
    // The loaded one again: stored again, not loaded twice.
    EXPECT_EQ(API_USB_SetDeviceMode(2), 0);
    EXPECT_EQ(board.nor->Writes().size(), 1u);
    EXPECT_EQ(API_USB_SetDeviceMode(0), 0);
    EXPECT_EQ(board.nor->PeekText(0x39000, 1), "0");
    // A store that failed after the gadget loaded.
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_USB_SetDeviceMode(2), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(Get(API_USB_GetDeviceMode), 2);
    EXPECT_EQ(shell.Commands(),
              (Commands{kLoadSerial, kLoadStorage, "rmmod g_serial", "rmmod g_storage", kLoadStorage}));

    for (int (*getter)(int *) :
         {API_USB_GetDeviceMode, API_USB_GetDeviceState, API_USB_GetHostState, API_Usbserial_GetState})
        EXPECT_EQ(getter(nullptr), API_ERR_INVALID_PARAMETERS);
}

TEST_F(UsbPortsTest, PortEventsReachTheCallbackOncePerChange)
{
    receiver.CreateFile("/dev/sda1");
    EXPECT_EQ(API_USB_Init(nullptr), 0);
    EXPECT_EQ(Get(API_USB_GetHostState), 1);

    EXPECT_EQ(API_USB_Init(RecordEvent), 0);
    receiver.RemoveFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 2; }));
    EXPECT_EQ(Get(API_USB_GetHostState), 0);
    board.gpio->RaiseSigio();  // no change on the host port
    receiver.CreateFile("/dev/sda1");
    board.gpio->RaiseSigio();
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 3; }));
    EXPECT_EQ(Get(API_USB_GetHostState), 1);
    EXPECT_EQ(API_USB_Init(nullptr), 0);  // keeps the registered callback

    board.gpio->RaiseEvents(API_EVENT_USB_CONNECTED);
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 5; }));
    EXPECT_EQ(Get(API_USB_GetDeviceState), 1);
    board.gpio->RaiseEvents(API_EVENT_USB_DISCONNECTED);
    ASSERT_TRUE(simtest::Eventually([] { return g_events.Values().size() == 6; }));
    EXPECT_EQ(Get(API_USB_GetDeviceState), 0);
    const int device = API_USB_EVENT_DEVICE;
    EXPECT_EQ(g_events.Values(), (std::vector<int>{0, -1, 0, 0, device, device}));
}

}  // namespace
