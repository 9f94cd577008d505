/* Watchdog: arm "/dev/watchdog" with a time-out, keep it alive, disarm it with
 * the magic-close character and close it. */
#ifndef API_WATCHDOG_H
#define API_WATCHDOG_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The driver's set-time-out request: the time-out in seconds in, the one the
 * driver chose back. */
#define API_WATCHDOG_IOCTL_SETTIMEOUT 0xC0045706u

/* enable 1 arms (timeout 0 keeps the stored time-out, 60 s at first), enable 0
 * disarms, any other value does nothing. */
int API_Watchdog_Init(int timeout, int enable);
int API_Watchdog_Restart(void);
int API_Watchdog_Stop(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
