// The GPIO driver descriptor, opened by the signal unit and shared with the
// units that make GPIO requests.
#ifndef API_INTERNAL_SIGNAL_H
#define API_INTERNAL_SIGNAL_H

#include <signal.h>

#include <atomic>

// Atomic: the SIGUSR2 handler reads it in whatever thread the signal
// interrupts, also while the start-up or shut-down sets it.
extern std::atomic<int> sigiofd;

// Request of the GPIO driver that returns the pending-event word (32 bits).
#define API_GPIO_GET_EVENTS 0x8004FF19UL

extern "C" void SIGUSR2_handler(int signal, siginfo_t *info, void *context);
extern "C" void SIGIO_handler(int signal, siginfo_t *info, void *context);

#endif
