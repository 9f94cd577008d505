/* Driver signals: SIGUSR2 (pending-event word of "/dev/gpio") and SIGIO. */
#ifndef API_SIGNAL_H
#define API_SIGNAL_H

#include <signal.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Pending-event bits of the GPIO driver. */
#define API_EVENT_GNSS_PPS 0x01
#define API_EVENT_USB_CONNECTED 0x02
#define API_EVENT_USB_DISCONNECTED 0x04
#define API_EVENT_GSM_DCD 0x20
#define API_EVENT_POWER 0x40

int API_Signal_Initialize(void);
int API_Signal_Cleanup(void);

#ifdef SA_SIGINFO /* siginfo_t: POSIX.1b, which a strict C build must ask for */
/* The handlers that API_Signal_Initialize installs; a signal whose sender's
 * user id is above 0 is ignored. */
void SIGUSR2_handler(int signal, siginfo_t *info, void *context);
void SIGIO_handler(int signal, siginfo_t *info, void *context);
#endif

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
