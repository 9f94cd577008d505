/** @file
 * Watchdog: arm "/dev/watchdog" with a time-out, keep it alive, disarm it
 * with the magic-close character and close it.  An armed watchdog restarts
 * the board when it is not kept alive within its time-out; API_Finalize
 * leaves it armed. */
#ifndef API_WATCHDOG_H
#define API_WATCHDOG_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** The driver's set-time-out request: the time-out in seconds in, the one the
 * driver chose back. */
#define API_WATCHDOG_IOCTL_SETTIMEOUT 0xC0045706u

/** Arms or disarms the watchdog.
 * @param timeout seconds; 0 keeps the stored time-out (60 s at first).
 * @param enable 1 opens the device and arms it, 0 disarms it (the device
 *   stays open), any other value does nothing.
 * @return 0; ::API_ERR_OPENING_WATCHDOG; ::API_ERR_SETTING_WATCHDOG_TIMEOUT
 *   (the device stays open and the watchdog runs with the driver's time-out:
 *   disarm it as any other); ::API_ERR_WATCHDOG_WRITE when disarming fails. */
int API_Watchdog_Init(int timeout, int enable);
/** Keeps the watchdog alive; call it more often than its time-out.  It writes
 * a byte that is not the magic character, so a close without a disarm (the
 * kernel's, after a crash) leaves the watchdog running.  Nothing after a
 * disarm.
 * @return 0 (also before it was armed), or ::API_ERR_KEEP_WATCHDOG_TIME_ALIVE. */
int API_Watchdog_Restart(void);
/** Closes the device: disarm it first, or the board restarts.
 * @return 0. */
int API_Watchdog_Stop(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
