// USB serial link state, for the start-up unit and tests.
#ifndef API_INTERNAL_USBSERIAL_H
#define API_INTERNAL_USBSERIAL_H

#include <signal.h>

#include <atomic>

extern volatile sig_atomic_t UsbSerialState;
extern std::atomic<int (*)(int)> p_usbserialcallback;

#endif
