// Each unit's state as a fresh process has it, for tests and fuzz targets
// that run one unit after another in one process.
#include "unit_reset.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <initializer_list>

#include "API_Bluetooth.h"
#include "API_Display.h"
#include "API_USBDevice.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Bluetooth.h"
#include "internal/API_Display.h"
#include "internal/API_Ethernet.h"
#include "internal/API_Extender.h"
#include "internal/API_GNSS.h"
#include "internal/API_GSM_Services.h"
#include "internal/API_Init.h"
#include "internal/API_MMI.h"
#include "internal/API_PM.h"
#include "internal/API_USBDevice.h"
#include "internal/API_Uart.h"
#include "internal/API_Usbserial.h"
#include "internal/API_Watchdog.h"

namespace unitreset {

bool OpenPmu()
{
    ClosePmu();
    ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0);
    return ifd_pmu > 0;
}

void ClosePmu()
{
    if (ifd_pmu > 0)
        Board_Close(ifd_pmu);
    ifd_pmu = 0;
}

void Bluetooth()
{
    for (std::atomic<int> *flag :
         {&bt::b_ConnectionStatus, &bt::b_RestaureDataMode, &bt::b_switchToCommandModeRequested,
          &bt::b_switchToDataModeRequested, &bt::b_BTDebug, &bt::b_ExitDataMode})
        *flag = 0;
    bt::p_btcallback = nullptr;
    memset(bt::a_DeviceName, 0, sizeof bt::a_DeviceName);
    memset(bt::a_Type, 0, sizeof bt::a_Type);
    memset(bt::a_MACAddress, 0, sizeof bt::a_MACAddress);
    memset(bt::a_Version, 0, sizeof bt::a_Version);
    strcpy(bt::a_PinCode, "5820");
    bt::i_DevNameLength = bt::i_DevTypeLength = bt::i_PinCodeLength = 0;
    bt::b_GotDevName = bt::b_GotDevType = bt::b_GotMacAddress = bt::b_GotPinCode = bt::b_GotProfile =
        bt::b_GotBTParameters = 0;
    bt::b_EnablePinRequest = 0;
}

void Init()
{
    s_DefaultPaths();
    FullttyUSB = 0;
    ifd_pps = 0;
    i_API_Initialized = 0;
    b_IsInitialized = 0;
}

void Uart()
{
    for (std::atomic<int> &fd : ai_fd)
        fd = 0;
    memset(ab_dbgEnabled, 0, sizeof ab_dbgEnabled);
    memset(ab_logEnabled, 0, sizeof ab_logEnabled);
    memset(ai_logFd, 0, sizeof ai_logFd);
    memset(a_uartSettings, 0, sizeof a_uartSettings);
    b_ttyS0open = 0;
}

void Watchdog()
{
    i_wd_fd = 0;
    i_timeout = 60;
    b_Watch_Flag = 0;
    b_Watch_Disarmed = 0;
}

void Usb()
{
    device_mode = USB_Mode_None;
    device_state = 0;
    host_state = 0;
    p_usbcallback = nullptr;
    UsbSerialState = 1;
    p_usbserialcallback = nullptr;
}

void Gsm()
{
    for (std::atomic<int32_t> *flag : {&b_ExitDataMode, &b_switchToCommandModeRequested, &bCloseSocketRequested,
                                       &b_PSD_ConnectionStatus, &b_CSD_ConnectionStatus, &b_PSD_BearerConnected,
                                       &b_GSM_API_Initialized, &b_GSM_PIN_Initialized, &b_PSD_GotVersion})
        *flag = 0;
    for (std::atomic<int32_t> *flag : {&b_CommandMode, &GSMprotocol, &PSDprotocol, &bCheckStatus})
        *flag = 1;
    WipSocket[0].state = -1;
    p_gsmcallback = nullptr;
    s_GsmResetRing();
}

void PowerManagement() { p_FuncPtr_status = nullptr; }
void Extender() { fd_extender = 0; }
void Gnss() { p_FuncPtr = nullptr; }

void PushButtons()
{
    ifd_pb = 0;
    s_bt_read = 0;
    s_bt_state[0] = s_bt_state[1] = 0;
}

void Ethernet()
{
    EthernetCnxState = 0;
    p_ethcallback = nullptr;
}

void Display()
{
    API_Display_Cleanup();
    free(s_display_mirror);
    s_display_mirror = nullptr;
    s_page_update = 0;
    b_PowerState = 0;
    i_dfd = 0;
}

}  // namespace unitreset
