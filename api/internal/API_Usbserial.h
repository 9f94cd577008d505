// USB serial link state, for the start-up unit and tests.
#ifndef API_INTERNAL_USBSERIAL_H
#define API_INTERNAL_USBSERIAL_H

#include <signal.h>

#include <atomic>

// Atomic, not volatile: the SIGIO handler may run in two threads at once.
extern std::atomic<int> UsbSerialState;
extern std::atomic<int (*)(int)> p_usbserialcallback;

#endif
