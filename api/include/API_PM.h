/** @file
 * Power management through the PMU: temperature, charge state, power sources
 * and their levels, power events and the shutdown request.  A failed exchange
 * returns the code of the PMU link (API_SPI.h) unchanged. */
#ifndef API_PM_H
#define API_PM_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Opens "/dev/pmu" for the whole API and starts the power-management task
 * (first-in-first-out priority 65), which delivers power events (feature bit
 * ::API_INIT_PM).
 * @return 0; ::API_ERR_OPENING_PMU; ::API_ERR_PMU_SEMAPHORE_CREATION;
 *   ::API_ERR_PMU_THREAD_CREATION. */
int API_PM_Initialize(void);
/** Registers the power-event callback.  It runs on the power-management task,
 * not in signal context, and may call the API.
 * @param callback receives the PMU's 16-bit event status word.
 * @return 0, or ::API_ERR_PMU_CALL_BACK_SET_NULL for null (the registered one
 *   stays). */
int API_PM_StatusCallback(void (*callback)(int status));
/** Asks the PMU to report power events (feature bit ::API_INIT_POWER_EVENTS).
 * @return 0, or a code of the PMU link. */
int API_PM_EnablePowerEvents(void);
/** Asks the PMU to shut the receiver down.
 * @return 0, or a code of the PMU link. */
int API_PM_RemoteShutdown(void);
/** Announces a pending power event to the power-management task; called by
 * the SIGUSR2 handler, async-signal-safe.
 * @return 0. */
int API_PM_NotifyUser(void);
/** Reads the event status from the PMU and calls the callback; run by the
 * power-management task. */
void API_PM_SignalHandler(void);
/** The PMU's temperature.
 * @param[out] temperature degrees Celsius, with hundredths.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the PMU link. */
int API_PM_GetTemperature(float *temperature);
/** The charge indicators.
 * @param type 0 or 1: the first or second indicator; 2: both combined; any
 *   other: none.
 * @param[out] status for types 0 and 1: 1 when set (a clear one gives
 *   ::API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY); for type 2: 0 first set,
 *   2 second set, 3 neither; for other types: 4.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null;
 *   ::API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY; a code of the PMU link. */
int API_PM_GetChargeStatus(int type, int *status);
/** Level and voltage of a power source.
 * @param source 0, 1 or 2 as numbered by the PMU; others give nothing and 0.
 * @param[out] level percent.
 * @param[out] voltage volts.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_NO_BATTERY when
 *   the source is absent; ::API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY; a code
 *   of the PMU link. */
int API_PM_GetPowerLevel(int source, float *level, float *voltage);
/** The source the receiver runs on.
 * @param[out] source 0, 1 or 2 as numbered by the PMU; 9 for anything else.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the PMU link. */
int API_PM_GetPowerSource(int *source);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
