/* Q2687H GSM/GPRS modem. */
#ifndef API_GSM_H
#define API_GSM_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* First occurrence of the zero-terminated `pattern` within the first `length`
 * bytes of `data`; zero bytes in `data` are compared like any other byte.
 * Null when absent, when `pattern` is empty, or when it is longer than
 * `length`.  Also used by the Bluetooth unit and the firmware loader. */
char *MyStrStr(char *data, unsigned long length, char *pattern);

/* Called when a data connection (socket or call) comes up.  It carries no
 * values and runs in the GSM task, or in the thread of the GSM operation that
 * returned the line to data mode: it must not call GSM operations itself. */
typedef void (*API_GSM_ConnectionCallback)(void);

/* Start-up (feature bit 0x10): opens the modem's port, cycles its supply,
 * pulses its ON/OFF line and waits for its firmware; about 10 s.  The receive
 * task must have been started with API_SYS_CreateTask(1, priority) for the
 * modem's answers to be heard.  0 or an error code (6, 17, 84, 88, 200 to 209
 * or an answer failure). */
int API_GSM_Initialize(void);
/* Releases the port and the receive ring; the supply is left as it is.  0. */
int API_GSM_Cleanup(void);

/* Switches to command mode, sends `command` as it stands (the caller supplies
 * the "\r") and waits up to 10 s for "OK".  Takes no lock. */
int API_GSM_SendCmd(const char *command);

/* Supply: 1 on, anything else off (0 waits 0.5 s, other values 1 s). */
int API_GSM_SetPowerState(int state);
/* Stores 1 when the supply is on, else 0. */
int API_GSM_GetPowerState(int *state);
/* ON/OFF line: 1 asserts it (then waits 8 s for the modem), 0 releases it;
 * nothing is sent when it is already at that level.  Other levels give 7. */
int API_GSM_Mod_ON_OFF(int level);
/* Stores 1 when the modem's carrier (DCD) line is high, else 0; 84 when the
 * modem's port is not open, 176 when the GPIO driver fails. */
int API_GSM_GetDCDPinLevel(int *level);
/* Makes the SIM usable, entering `pin` (4 to 8 digits) when it asks for one.
 * 0, 91 (PIN missing, malformed or refused, or the SIM needs its PUK),
 * 192 (no SIM), 191 (SIM stays busy) or a channel failure. */
int API_GSM_EnterPIN(const char *pin);

/* Registers the connection callback; 108 for null. */
int API_GSM_DSCCallback(API_GSM_ConnectionCallback callback);
/* Hook of the carrier-change event (GPIO event 0x20); runs in signal context. */
void API_GSM_DSCSignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

/* Packet data, calls, status queries and settings. */
#include "API_GSM_Services.h"

#endif
