#include "API_USBDevice.h"
#include "internal/API_USBDevice.h"
#include "internal/API_Usbserial.h"
#include "unit_reset.h"

namespace unitreset {

void Usb()
{
    device_mode = USB_Mode_None;
    device_state = 0;
    host_state = 0;
    p_usbcallback = nullptr;
    UsbSerialState = 1;
    p_usbserialcallback = nullptr;
}

}  // namespace unitreset
