// USB state shared with the signal unit, which records device-port connects
// and disconnects before it calls API_USB_DeviceSignalHandler.
#ifndef API_INTERNAL_USBDEVICE_H
#define API_INTERNAL_USBDEVICE_H

#include <signal.h>

#include <atomic>

extern volatile sig_atomic_t device_state;
extern volatile sig_atomic_t host_state;
extern int device_mode;
extern std::atomic<void (*)(int)> p_usbcallback;

#endif
