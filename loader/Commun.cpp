#include "Commun.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "board.h"

int32_t gl_debug_level = 2;

void DebugPrintf(int level, const char *format, ...)
{
    if (level > gl_debug_level)
        return;
    char message[DEBUG_PRINTF_BUFFER_SIZE];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    fputs(message, stdout);
    // Messages without a newline announce long operations: show them now.
    fflush(stdout);
}

void DumpString(int level, const void *data, unsigned long length, const char *title)
{
    if (level > gl_debug_level)
        return;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    DebugPrintf(level, "%s", title);
    DebugPrintf(level, ":");
    for (unsigned long i = 0; i < length; i++)
        DebugPrintf(level, "%02X ", bytes[i]);
    DebugPrintf(level, "\n");
}

void DumpStringLog(int fd, int level, const void *data, unsigned long length, const char *prefix)
{
    if (level > gl_debug_level || fd == -1)
        return;
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    Board_Write(fd, prefix, 3);
    for (unsigned long i = 0; i < length; i++) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        Board_Write(fd, hex, 3);
    }
    Board_Write(fd, "\n", 1);
}

void Sleep(unsigned long ms)
{
    struct timespec request;
    request.tv_sec = static_cast<time_t>(ms / 1000);
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec remaining;
    while (Board_Nanosleep(&request, &remaining) != 0) {
        if (errno != EINTR) {
            printf("CGNSSSleep error %d\r\n", errno);
            return;
        }
        request = remaining;
    }
}
