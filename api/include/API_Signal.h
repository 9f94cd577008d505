/** @file
 * The drivers' signals: SIGUSR2 announces the pending events of "/dev/gpio"
 * (PPS pulse, USB connection, GSM carrier, power event), SIGIO the host USB,
 * Ethernet and USB serial changes.  The handlers dispatch to the units. */
#ifndef API_SIGNAL_H
#define API_SIGNAL_H

#include <signal.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** @name Pending-event bits of the GPIO driver
 * Served in this order when several are set. */
/** @{ */
#define API_EVENT_GNSS_PPS 0x01         /**< PPS pulse: the GNSS unit's PPS function */
#define API_EVENT_USB_CONNECTED 0x02    /**< USB device port connected */
#define API_EVENT_USB_DISCONNECTED 0x04 /**< USB device port disconnected */
#define API_EVENT_GSM_DCD 0x20          /**< modem carrier change, while the GSM unit watches it */
#define API_EVENT_POWER 0x40            /**< power event: the power-management task is woken */
/** @} */

/** Installs the two handlers and opens "/dev/gpio" (feature bit
 * ::API_INIT_SIGNALS).
 * @return 0, or ::API_ERR_OPEN_FILE when "/dev/gpio" cannot be opened; SIGUSR2
 *   is then installed and SIGIO is not. */
int API_Signal_Initialize(void);
/** Restores the default action of both signals and closes "/dev/gpio".
 * @return 0, or the result of the close. */
int API_Signal_Cleanup(void);

#ifdef SA_SIGINFO /* siginfo_t: POSIX.1b, which a strict C build must ask for */
/** The SIGUSR2 handler that API_Signal_Initialize installs (SA_SIGINFO form):
 * reads the pending-event word and serves its bits.  A signal whose sender's
 * user id is above 0 is ignored: only the drivers raise it.
 * @param signal the signal number.
 * @param info the signal information.
 * @param context the interrupted context, passed to the PPS function. */
void SIGUSR2_handler(int signal, siginfo_t *info, void *context);
/** The SIGIO handler: the host USB, Ethernet and USB serial units look for
 * their changes, in this order.  The same sender test as SIGUSR2_handler.
 * @param signal the signal number.
 * @param info the signal information.
 * @param context the interrupted context. */
void SIGIO_handler(int signal, siginfo_t *info, void *context);
#endif

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
