// USB state shared with the signal unit, which records device-port connects
// and disconnects before it calls API_USB_DeviceSignalHandler.
#ifndef API_INTERNAL_USBDEVICE_H
#define API_INTERNAL_USBDEVICE_H

#include <signal.h>

#include <atomic>

// Atomic, not volatile: the handlers may run in two threads at once (a
// signal is only held back in the thread already handling it).
extern std::atomic<int> device_state;
extern std::atomic<int> host_state;
extern int device_mode;
extern std::atomic<void (*)(int)> p_usbcallback;

#endif
