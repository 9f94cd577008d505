#include "API_USBDevice.h"

#include <pthread.h>

#include "API_Errors.h"
#include "API_NOR.h"
#include "board.h"
#include "internal/API_Lock.h"
#include "internal/API_USBDevice.h"

std::atomic<int> device_state{0};
std::atomic<int> host_state{0};
int device_mode = USB_Mode_None;
std::atomic<void (*)(int)> p_usbcallback{nullptr};

namespace {

const unsigned s_MODE_ADDRESS = API_NOR_PARAM_BASE;
const char s_USB_DISK[] = "/dev/sda1";

const char s_LOAD_SERIAL_GADGET[] = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_serial.ko";
const char s_LOAD_STORAGE_GADGET[] = "insmod /lib/modules/2.6.19/kernel/drivers/usb/gadget/g_storage.ko";
const char s_UNLOAD_SERIAL_GADGET[] = "rmmod g_serial";
const char s_UNLOAD_STORAGE_GADGET[] = "rmmod g_storage";

// Mode changes are check, load and store in one go.
pthread_mutex_t usb_mutex = PTHREAD_MUTEX_INITIALIZER;

// Signal context: only a load of the pointer and the call.
void s_NotifyUser(int event)
{
    void (*callback)(int) = p_usbcallback.load();
    if (callback)
        callback(event);
}

// False when a gadget's module did not load.  Unloading runs both commands
// and cannot fail: only one of the two gadgets is ever loaded.
bool s_LoadGadgetFor(unsigned mode)
{
    switch (mode) {
    case USB_Mode_Serial: return Board_System(s_LOAD_SERIAL_GADGET) == 0;
    case USB_Mode_MassStorage: return Board_System(s_LOAD_STORAGE_GADGET) == 0;
    default:
        Board_System(s_UNLOAD_SERIAL_GADGET);
        Board_System(s_UNLOAD_STORAGE_GADGET);
        return true;
    }
}

int s_StoreMode(int mode)
{
    const char digit = static_cast<char>('0' + mode);
    int written = 0;
    return API_Flash_WriteData(s_MODE_ADDRESS, &digit, 1, &written);
}

}  // namespace

extern "C" {

int API_USB_Initialize(void) { return API_ERR_NONE; }

int API_USB_Cleanup(void) { return API_ERR_NONE; }

int API_USB_Init(void (*callback)(int))
{
    if (callback)
        p_usbcallback.store(callback);
    if (Board_Exists(s_USB_DISK)) {
        host_state = 1;
        s_NotifyUser(API_USB_EVENT_DISK_ADDED);
    }
    return API_ERR_NONE;
}

int API_USB_SetDeviceMode(unsigned mode)
{
    if (mode > USB_Mode_MassStorage)
        return API_ERR_INVALID_MODE;
    ScopedLock lock(usb_mutex);
    if (device_mode != USB_Mode_None && mode != USB_Mode_None) {
        // One gadget at a time: switching needs USB_Mode_None first.  Asking
        // again for the loaded one only stores it again.
        if (static_cast<unsigned>(device_mode) != mode)
            return API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE;
    } else {
        // A gadget that did not load is no mode to keep or store.
        if (!s_LoadGadgetFor(mode))
            return API_ERR_USB_INITIALIZAION;
        device_mode = static_cast<int>(mode);
    }
    return s_StoreMode(device_mode);
}

int API_USB_GetDeviceMode(int *mode)
{
    if (mode == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    *mode = device_mode;
    return API_ERR_NONE;
}

int API_USB_GetDeviceState(int *state)
{
    if (state == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    *state = device_state;
    return API_ERR_NONE;
}

int API_USB_GetHostState(int *state)
{
    if (state == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    *state = host_state;
    return API_ERR_NONE;
}

int API_USB_DeviceSignalHandler(void)
{
    s_NotifyUser(API_USB_EVENT_DEVICE);
    return API_ERR_NONE;
}

int API_USB_HostSignalHandler(void)
{
    const int disk_present = Board_Exists(s_USB_DISK);
    // Each change is reported once, also when two handlers see it together.
    int expected = disk_present ? 0 : 1;
    if (host_state.compare_exchange_strong(expected, disk_present ? 1 : 0))
        s_NotifyUser(disk_present ? API_USB_EVENT_DISK_ADDED : API_USB_EVENT_DISK_REMOVED);
    return API_ERR_NONE;
}

}  // extern "C"
