/** @file
 * The Q2687H GSM/GPRS modem on interface 1: start-up, supply and PIN, the raw
 * command entry and the connection callback.  Its answers are heard by the
 * receive task, which the application starts with API_SYS_CreateTask.
 *
 * The codes of the command channel, which every modem operation may return:
 * ::API_ERR_GSM_WRITE (the command could not be written),
 * ::API_ERR_GSM_INVALID_MODE (the line could not be switched),
 * ::API_ERR_GSM_SWITH_COMMAND_MODE, ::API_ERR_GSM_ACK (the modem answered
 * "ERROR"), one of ::API_ERR_WIP_INVALID_OPTION to
 * ::API_ERR_WIP_STACK_ALREADY_STARTED for a refused IP stack command, and
 * ::API_ERR_TIME_OUT (no answer within 10 s). */
#ifndef API_GSM_H
#define API_GSM_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** First occurrence of a text within a buffer that may hold zero bytes; the
 * GSM and Bluetooth units search their answers with it.
 * @param data the buffer; its zero bytes are compared like any other byte.
 * @param length the bytes of `data` to search.
 * @param pattern a zero-terminated text.
 * @return the occurrence, or null when absent, when `pattern` is empty or
 *   when it is longer than `length`. */
char *MyStrStr(char *data, unsigned long length, char *pattern);

/** The connection callback: called when a data connection (socket or call)
 * comes up, in the receive task or in the thread of the operation that
 * returned the line to data mode.  It must not call GSM operations. */
typedef void (*API_GSM_ConnectionCallback)(void);

/** Start-up (feature bit ::API_INIT_GSM): opens the modem's port, cycles its
 * supply, pulses its ON/OFF line and waits for its firmware; about 10 s.
 * @return 0; ::API_ERR_ALLOCATION; ::API_ERR_OPEN_GSM_PORT;
 *   ::API_ERR_SETTING_UART_BAUDRATE; ::API_ERR_GSM_CREATE_SEMAPHORE;
 *   ::API_ERR_SET_GSM_POWER_FALSE to ::API_ERR_AT_CFUNC_NOT_ACKNOWLEDGED for
 *   the steps of the power-up; a code of the command channel. */
int API_GSM_Initialize(void);
/** Releases the port and the receive ring; the supply is left as it is.
 * @return 0. */
int API_GSM_Cleanup(void);

/** Switches to command mode, sends a command as it stands and waits for "OK".
 * Takes no lock and leaves the line in command mode.
 * @param command the command line, "\r" included.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the command
 *   channel. */
int API_GSM_SendCmd(const char *command);

/** Switches the modem's supply through the PMU.
 * @param state 1 on (then waits 1 s), any other value off (0 waits 0.5 s,
 *   other values 1 s).
 * @return 0, or a code of the PMU link (API_SPI.h). */
int API_GSM_SetPowerState(int state);
/** Whether the modem's supply is on.
 * @param[out] state 1 on, 0 off.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the PMU link. */
int API_GSM_GetPowerState(int *state);
/** Drives the modem's ON/OFF line; nothing is sent when it is at that level
 * already.
 * @param level 1 asserts it (then waits 8 s for the modem), 0 releases it.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for another level; a code of the PMU
 *   link. */
int API_GSM_Mod_ON_OFF(int level);
/** The modem's carrier (DCD) line.
 * @param[out] level 1 high, 0 low.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_OPEN_GSM_PORT when
 *   the modem's port is not open; ::API_ERR_IOCTL_GPIO_DRIVER. */
int API_GSM_GetDCDPinLevel(int *level);
/** Makes the SIM usable, entering the PIN when it asks for one.
 * @param pin 4 to 8 digits.
 * @return 0; ::API_ERR_GSM_PIN_CODE when the PIN is missing, malformed or
 *   refused, or the SIM needs its PUK; ::API_ERR_SIM_CARD_NOT_INSERTED;
 *   ::API_ERR_SIM_CARD_NOT_READY when the SIM stays busy; a code of the
 *   command channel. */
int API_GSM_EnterPIN(const char *pin);

/** Registers the connection callback.
 * @param callback the function.
 * @return 0, or ::API_ERR_GSM_CALL_NULL for null. */
int API_GSM_DSCCallback(API_GSM_ConnectionCallback callback);
/** Hook of the carrier-change event (::API_EVENT_GSM_DCD), run in signal
 * context; the end of a stream is seen in the modem's texts instead. */
void API_GSM_DSCSignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

/* Packet data, calls, status queries and settings. */
#include "API_GSM_Services.h"

#endif
