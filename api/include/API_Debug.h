/** @file
 * Diagnostic copies of serial traffic: the dump switch mirrors an interface's
 * reads and writes to the debug console (interface 0), the log switch appends
 * them to a file "/tmp/log_<seconds since the epoch>".  The switches are plain
 * variables: switch them from one control thread. */
#ifndef API_DEBUG_H
#define API_DEBUG_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Switches the copy of an interface's traffic to the debug console.  The
 * console is opened at 115200 bit/s by the first dump switched on and closed
 * with the last one switched off.
 * @param index interface number 1 to 11.
 * @param on not 0 on, 0 off.
 * @return 0; ::API_ERR_INVALID_TTY_NUMBER for an index above 11, or for 0
 *   switched on; the code of API_UartOpen when the console cannot be opened. */
int API_Debug_SetSerialDump(unsigned index, int on);
/** Switches the log file of an interface.  Each log switched on gets a new
 * file named after the current second; switched off, it is closed and stays.
 * @param index interface number 1 to 11.
 * @param on 1 on, 0 off; any other value changes nothing.
 * @return 0 (also when the log is on already); ::API_ERR_INVALID_TTY_NUMBER
 *   for index 0 switched on or an index above 11; ::API_ERR_OPEN_FILE when the
 *   file cannot be created. */
int API_Debug_SetSerialLog(int index, int on);
/** The dump switches.
 * @param[out] indexes 12 ints: positions 1 to 11 receive their own number.
 * @param[out] values 12 ints: positions 1 to 11 receive 1 (on) or 0.
 * @return 0; position 0 of both is left untouched. */
int API_Debug_GetSerialDump(int *indexes, int *values);
/** The log switches, as API_Debug_GetSerialDump.
 * @param[out] indexes 12 ints: positions 1 to 11 receive their own number.
 * @param[out] values 12 ints: positions 1 to 11 receive 1 (on) or 0.
 * @return 0. */
int API_Debug_GetSerialLog(int *indexes, int *values);
/** Appends bytes to the interface's log file, as the UART operations do.
 * @param index interface number.
 * @param data the bytes.
 * @param length their count.
 * @return 0 (the write's own result is not examined), or
 *   ::API_ERR_INVALID_TTY_NUMBER when the interface has no log file. */
int writeLogFile(int index, const void *data, int length);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
