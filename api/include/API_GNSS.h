/* GNSS receiver board: power and control lines through the PMU, and the PPS
 * function called on every pulse the GPIO driver reports. */
#ifndef API_GNSS_H
#define API_GNSS_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Called in signal context with the signal's context pointer and the pending-
 * event word: it must not take locks or call the PMU. */
typedef int (*API_GNSS_PPSFunction)(void *context, unsigned int events);

/* Queries: *value becomes 1 when the PMU answers exactly 1, else 0; left
 * unchanged on failure. */
int API_GNSS_GetSourceClk(int *value);
int API_GNSS_GetPowerState(int *value);
int API_GNSS_GetWakeupPinLevel(int *value);
int API_GNSS_GetBootPinLevel(int *value);
int API_GNSS_GetResetPinLevel(int *value);

/* 1 switches the board on, any other value off. */
int API_GNSS_SetPowerState(int state);
/* Levels 0 and 1; anything else is refused with no exchange. */
int API_GNSS_SetWakeupPinLevel(unsigned int level);
int API_GNSS_SetBootPinLevel(int level);
int API_GNSS_SetResetPinLevel(unsigned int level);

/* A null function is refused and the registered one kept. */
int API_GNSS_PPSCallback(API_GNSS_PPSFunction function);
/* For the SIGUSR2 dispatch, on a pending-event word with the PPS bit (0x01). */
int API_GNSS_PPSSignalHandler(void *context, unsigned int events);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
