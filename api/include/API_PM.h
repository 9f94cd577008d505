/* Power management: queries to the PMU, power events, shutdown request. */
#ifndef API_PM_H
#define API_PM_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Opens "/dev/pmu" and starts the task that delivers power events. */
int API_PM_Initialize(void);
/* Registers the power-event callback; it runs on the power-management task
 * with the 16-bit event status word. */
int API_PM_StatusCallback(void (*callback)(int status));
int API_PM_EnablePowerEvents(void);
int API_PM_RemoteShutdown(void);
/* Announces a pending power event; async-signal-safe. */
int API_PM_NotifyUser(void);
/* Reads the event status from the PMU and calls the callback. */
void API_PM_SignalHandler(void);

/* Degrees Celsius, with hundredths. */
int API_PM_GetTemperature(float *temperature);
/* type 0 or 1: the first or second charge indicator (1 when set, else
 * error 36); type 2: 0, 2 or 3 by the indicators; other types: 4. */
int API_PM_GetChargeStatus(int type, int *status);
/* Level in percent and voltage in volts of power source 0, 1 or 2. */
int API_PM_GetPowerLevel(int source, float *level, float *voltage);
/* 0, 1 or 2 as numbered by the PMU; 9 for anything else. */
int API_PM_GetPowerSource(int *source);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
