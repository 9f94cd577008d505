/* A simulated receiver for C programs: the standard board in a sandbox. */
#ifndef SIM_C_RECEIVER_H
#define SIM_C_RECEIVER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Starts the receiver in `sandbox` (a fresh temporary directory when null),
 * with its sleeps scaled down a hundredfold.  0 on success, -1 when a receiver
 * already runs or the sandbox cannot be made. */
int SimReceiver_Start(const char *sandbox_or_null);
/* Stops it and removes a temporary sandbox; nothing when none runs. */
void SimReceiver_Stop(void);
/* The sandbox directory of the running receiver, or null. */
const char *SimReceiver_Root(void);

#ifdef __cplusplus
}
#endif

#endif
