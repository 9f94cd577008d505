// Diagnostic output of the loader: levelled console messages, hex dumps of the
// radio traffic, a millisecond sleep, and the byte-buffer search shared with
// the device API.
#ifndef COMMUN_H
#define COMMUN_H

#include <stdint.h>

#include "API_GSM.h"  // MyStrStr

// Messages of a level above this one are suppressed; the loader keeps it at 2.
extern int32_t gl_debug_level;

// Formats into a buffer of DEBUG_PRINTF_BUFFER_SIZE characters (longer
// messages are cut) and flushes standard output at once.
enum { DEBUG_PRINTF_BUFFER_SIZE = 2000 };
void DebugPrintf(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// "<title>:" then "%02X " per byte and a newline, all at `level`.
void DumpString(int level, const void *data, unsigned long length, const char *title);

// The same bytes to the traffic log `fd` (nothing while it is -1), each line
// led by the 3-character `prefix`.
void DumpStringLog(int fd, int level, const void *data, unsigned long length, const char *prefix);

// Sleeps the whole time even when signals interrupt it.
void Sleep(unsigned long ms);

#endif
