/** @file
 * GNSS receiver board: its supply and three control lines (wake-up, boot,
 * reset) through the PMU, and the PPS function called on every pulse the
 * GPIO driver reports.  Each query or change is one PMU exchange; a failed
 * one returns the code of the PMU link (API_SPI.h). */
#ifndef API_GNSS_H
#define API_GNSS_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** The PPS function: called in signal context with the signal's context
 * pointer and the pending-event word; it must not take locks or call the
 * PMU.  Its result is passed back by API_GNSS_PPSSignalHandler. */
typedef int (*API_GNSS_PPSFunction)(void *context, unsigned int events);

/** The clock source line.
 * @param[out] value 1 when the PMU answers 1, else 0; unchanged on failure.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the PMU link. */
int API_GNSS_GetSourceClk(int *value);
/** Whether the board's supply is on.
 * @param[out] value 1 on, 0 off; unchanged on failure.
 * @return as API_GNSS_GetSourceClk. */
int API_GNSS_GetPowerState(int *value);
/** The wake-up line's level.
 * @param[out] value 1 or 0; unchanged on failure.
 * @return as API_GNSS_GetSourceClk. */
int API_GNSS_GetWakeupPinLevel(int *value);
/** The boot line's level.
 * @param[out] value 1 or 0; unchanged on failure.
 * @return as API_GNSS_GetSourceClk. */
int API_GNSS_GetBootPinLevel(int *value);
/** The reset line's level.
 * @param[out] value 1 or 0; unchanged on failure.
 * @return as API_GNSS_GetSourceClk. */
int API_GNSS_GetResetPinLevel(int *value);
/** Switches the board's supply.
 * @param state 1 on, any other value off.
 * @return 0, or a code of the PMU link. */
int API_GNSS_SetPowerState(int state);
/** Drives the wake-up line.
 * @param level 0 or 1.
 * @return 0; ::API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS for another level (no
 *   exchange); a code of the PMU link. */
int API_GNSS_SetWakeupPinLevel(unsigned int level);
/** Drives the boot line.
 * @param level 0 or 1.
 * @return as API_GNSS_SetWakeupPinLevel. */
int API_GNSS_SetBootPinLevel(int level);
/** Drives the reset line.
 * @param level 0 or 1.
 * @return as API_GNSS_SetWakeupPinLevel. */
int API_GNSS_SetResetPinLevel(unsigned int level);
/** Registers the PPS function.
 * @param function called on every pulse.
 * @return 0, or ::API_ERR_PPS_CALL_BACK_SET_NULL for null (the registered one
 *   stays). */
int API_GNSS_PPSCallback(API_GNSS_PPSFunction function);
/** Calls the PPS function; called by the SIGUSR2 handler on
 * ::API_EVENT_GNSS_PPS.
 * @param context the signal's context pointer.
 * @param events the pending-event word.
 * @return the function's result, or 0 when none is registered. */
int API_GNSS_PPSSignalHandler(void *context, unsigned int events);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
