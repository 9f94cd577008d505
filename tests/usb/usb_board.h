// The USB tests' base: the standard board with a scripted shell, the NOR
// store open and the driver signals on, as the start-up leaves them.
#ifndef TESTS_USB_USB_BOARD_H
#define TESTS_USB_USB_BOARD_H

#include "API.h"
#include "event_recorder.h"
#include "internal/API_Init.h"
#include "internal/API_PART.h"
#include "sim/pty_line.h"
#include "sim/shell_script.h"
#include "sim_test.h"

namespace usbtest {

class UsbBoardTest : public simtest::SimTest {
protected:
    UsbBoardTest() { EXPECT_EQ(API_NOR_Init() + API_Signal_Initialize(), 0); }
    // A mount task is reaped as the shut-down would: ThreadSanitizer reports
    // a thread left unjoined at exit.
    ~UsbBoardTest() override
    {
        API_PART_StopTask();
        API_Usbserial_Cleanup();
        API_Signal_Cleanup();
        API_NOR_Cleanup();
        FullttyUSB = 0;
        unitreset::Usb();
    }
    static int Get(int (*getter)(int *))
    {
        int value = -1;
        EXPECT_EQ(getter(&value), 0);
        return value;
    }
    sim::ShellScript shell{receiver};
};

}  // namespace usbtest

#endif
