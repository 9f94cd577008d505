#include "API_Debug.h"

#include <fcntl.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>

#include "API_Errors.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Lock.h"
#include "internal/API_Uart.h"

int ab_dbgEnabled[API_UART_COUNT];
int ab_logEnabled[API_UART_COUNT];
int ai_logFd[API_UART_COUNT];
int b_ttyS0open;

namespace {

constexpr int kDebugPort = 0;

bool s_IsInterface(long long index) { return index >= 0 && index < API_UART_COUNT; }

bool s_AnyDumpOn()
{
    for (int enabled : ab_dbgEnabled) {
        if (enabled == 1)
            return true;
    }
    return false;
}

int s_OpenDebugPort()
{
    int result = API_UartOpen(kDebugPort, O_RDWR);
    if (result != API_ERR_NONE)
        return result;
    int config[API_UART_CONFIG_WORDS] = {B115200, 0};
    API_UartSetConfig(kDebugPort, config);
    return API_ERR_NONE;
}

int s_OpenLogFile()
{
    char name[32];
    snprintf(name, sizeof name, "/tmp/log_%u", static_cast<unsigned>(time(nullptr)));
    // Two logs started in the same second share the file: the second must
    // neither truncate what the first wrote nor write over it.  A link
    // planted under that name is refused: the process often runs as root.
    int fd = Board_Open(name, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW, 0666);
    if (fd == 0) {
        // Descriptor 0 means "no log file" in the table.
        Board_Close(fd);
        return -1;
    }
    return fd;
}

void s_Report(const int *switches, int *indexes, int *values)
{
    for (int index = 1; index < API_UART_COUNT; ++index) {
        indexes[index] = index;
        values[index] = switches[index];
    }
}

}  // namespace

extern "C" int API_Debug_SetSerialDump(unsigned index, int on)
{
    // The debug port is never mirrored into itself.
    if (!s_IsInterface(index) || (index == kDebugPort && on != 0))
        return API_ERR_INVALID_TTY_NUMBER;
    if (on != 0) {
        // A console the application holds is used as it is: replacing it
        // would close the application's descriptor.
        if (!b_ttyS0open && ai_fd[kDebugPort] <= 0) {
            int result = s_OpenDebugPort();
            if (result != API_ERR_NONE)
                return result;
            b_ttyS0open = 1;
        }
        ab_dbgEnabled[index] = 1;
    } else {
        ab_dbgEnabled[index] = 0;
    }
    if (s_AnyDumpOn())
        return API_ERR_NONE;
    // Only a port the dumps opened is theirs to close; the UART unit forgets
    // that they did once anyone else opens or closes interface 0.
    if (b_ttyS0open) {
        b_ttyS0open = 0;
        API_UartClose(kDebugPort);
    }
    return API_ERR_NONE;
}

extern "C" int API_Debug_SetSerialLog(int index, int on)
{
    if (!s_IsInterface(index))
        return API_ERR_INVALID_TTY_NUMBER;
    if (index == kDebugPort)
        return on == 1 ? API_ERR_INVALID_TTY_NUMBER : API_ERR_NONE;
    if (on == 1) {
        if (ai_logFd[index] > 0)
            return API_ERR_NONE;
        int fd = s_OpenLogFile();
        if (fd <= 0)
            return API_ERR_OPEN_FILE;
        ScopedLock copying(uart_copy_mutex);
        ai_logFd[index] = fd;
        ab_logEnabled[index] = 1;
    } else if (on == 0 && ai_logFd[index] > 0) {
        ScopedLock copying(uart_copy_mutex);
        ab_logEnabled[index] = 0;
        Board_Close(ai_logFd[index]);
        ai_logFd[index] = 0;
    }
    return API_ERR_NONE;
}

extern "C" int API_Debug_GetSerialDump(int *indexes, int *values)
{
    if (indexes == nullptr || values == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    s_Report(ab_dbgEnabled, indexes, values);
    return API_ERR_NONE;
}

extern "C" int API_Debug_GetSerialLog(int *indexes, int *values)
{
    if (indexes == nullptr || values == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    s_Report(ab_logEnabled, indexes, values);
    return API_ERR_NONE;
}

extern "C" int writeLogFile(int index, const void *data, int length)
{
    if (!s_IsInterface(index))
        return API_ERR_INVALID_TTY_NUMBER;
    ScopedLock copying(uart_copy_mutex);
    int fd = ai_logFd[index];
    if (fd <= 0)
        return API_ERR_INVALID_TTY_NUMBER;
    if (length > 0 && data != nullptr)
        Board_Write(fd, data, static_cast<size_t>(length));
    return API_ERR_NONE;
}
