/* Diagnostic copies of serial traffic: the dump switch mirrors an interface's
 * reads and writes to the debug console (interface 0), the log switch appends
 * them to a file "/tmp/log_<seconds since the epoch>". */
#ifndef API_DEBUG_H
#define API_DEBUG_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_Debug_SetSerialDump(unsigned index, int on);
int API_Debug_SetSerialLog(int index, int on);
/* Both fill positions 1 to 11 of the caller's two 12-entry arrays with the
 * interface number and its switch; position 0 is left untouched. */
int API_Debug_GetSerialDump(int *indexes, int *values);
int API_Debug_GetSerialLog(int *indexes, int *values);
/* Appends bytes to the interface's log file; 2 when it has none. */
int writeLogFile(int index, const void *data, int length);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
