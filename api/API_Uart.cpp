#include "API_Uart.h"

#include <errno.h>
#include <sys/types.h>
#include <termios.h>

#include "API_Debug.h"
#include "API_Errors.h"
#include "board.h"
#include "internal/API_Init.h"
#include "internal/API_Lock.h"
#include "internal/API_Uart.h"

std::atomic<int> ai_fd[API_UART_COUNT];
struct termios a_uartSettings[API_UART_COUNT];
pthread_mutex_t uart_copy_mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

constexpr int kDebugPort = 0;

bool s_IsInterface(long long number) { return number >= 0 && number < API_UART_COUNT; }

// Descriptor of an open interface, or 0.
int s_OpenFd(long long number)
{
    int fd = s_IsInterface(number) ? ai_fd[number].load() : 0;
    return fd > 0 ? fd : 0;
}

// The modem-style lines run with hardware handshake; the USB serial gadgets
// also want parity; the console, the transmitter and the buttons run without.
tcflag_t s_FlowFlags(unsigned number)
{
    switch (number) {
    case 1:
    case 2:
    case 3:
    case 5: return CRTSCTS | CLOCAL;
    case 6:
    case 7:
    case 8:
    case 9:
    case 10: return CRTSCTS | CLOCAL | PARENB;
    default: return 0;
    }
}

// Diagnostic copies are best effort: a failing debug port must not disturb the line.
void s_WriteAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        ssize_t written = Board_Write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        length -= static_cast<size_t>(written);
    }
}

void s_Mirror(int number, const char *data, int count)
{
    if (count <= 0)
        return;
    int errorBefore = errno;
    {
        ScopedLock copying(uart_copy_mutex);
        int debugFd = ai_fd[kDebugPort];
        if (number != kDebugPort && ab_dbgEnabled[number] == 1 && debugFd > 0)
            s_WriteAll(debugFd, data, static_cast<size_t>(count));
    }
    if (ab_logEnabled[number])
        writeLogFile(number, data, count);
    // The caller sees the transfer's errno, not the copies'.
    errno = errorBefore;
}

bool s_SetSpeed(termios *settings, int speed_code)
{
    speed_t speed = static_cast<speed_t>(speed_code);
    return speed_code >= 0 && cfsetospeed(settings, speed) == 0 && cfsetispeed(settings, speed) == 0;
}

int s_RateOfCode(speed_t code)
{
    switch (code) {
    case B1200: return 1200;
    case B1800: return 1800;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B500000: return 500000;
    case B576000: return 576000;
    case B921600: return 921600;
    default: return static_cast<int>(code);
    }
}

}  // namespace

extern "C" int API_UartOpen(unsigned int number, int flags)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    int fd = Board_Open(a_devnames[number].path, flags, 0);
    if (fd <= 0) {
        // Descriptor 0 stands for "not open" in the table, so it cannot be kept.
        if (fd == 0)
            Board_Close(fd);
        return API_ERR_OPENING_UART;
    }
    // Opening an open interface again replaces its descriptor; the old one
    // would otherwise be lost for good.
    ScopedLock copying(uart_copy_mutex);
    int previous = ai_fd[number].exchange(fd);
    if (number == kDebugPort)
        b_ttyS0open = 0;
    if (previous > 0)
        Board_Close(previous);
    return API_ERR_NONE;
}

extern "C" int API_UartClose(int number)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    ScopedLock copying(uart_copy_mutex);
    int fd = ai_fd[number].exchange(0);
    if (number == kDebugPort)
        b_ttyS0open = 0;
    if (fd <= 0)
        return API_ERR_NONE;
    return Board_Close(fd) == 0 ? API_ERR_NONE : API_ERR_CLOSING_UART;
}

extern "C" int API_UartRead(int number, char *data, int size)
{
    if (!s_IsInterface(number)) {
        errno = EBADF;
        return -1;
    }
    int fd = ai_fd[number];
    if (fd <= 0)
        return 0;
    if (size < 0 || (size > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    ssize_t count;
    do {
        count = Board_Read(fd, data, static_cast<size_t>(size));
    } while (count < 0 && errno == EINTR);
    s_Mirror(number, data, static_cast<int>(count));
    return static_cast<int>(count);
}

extern "C" int API_UartWrite(int number, const void *data, int length)
{
    if (!s_IsInterface(number)) {
        errno = EBADF;
        return -1;
    }
    int fd = ai_fd[number];
    if (fd <= 0)
        return 0;
    if (length < 0 || (length > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    ssize_t count;
    do {
        count = Board_Write(fd, data, static_cast<size_t>(length));
    } while (count < 0 && errno == EINTR);
    // Only what went out is copied: a caller that resends the rest of a short
    // write would otherwise see it twice in the copies.
    s_Mirror(number, static_cast<const char *>(data), static_cast<int>(count));
    return static_cast<int>(count);
}

extern "C" int API_UartSetBaudRate(unsigned int number, int speed_code)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    int fd = s_OpenFd(number);
    termios settings;
    if (fd == 0 || tcgetattr(fd, &settings) != 0)
        return API_ERR_SETTING_UART_BAUDRATE;
    tcflag_t flow = s_FlowFlags(number);
    if (flow != 0)
        settings.c_cflag |= flow;
    else
        settings.c_cflag &= ~CRTSCTS;
    if (!s_SetSpeed(&settings, speed_code))
        return API_ERR_SETTING_UART_BAUDRATE;
    a_uartSettings[number] = settings;
    tcflush(fd, TCIOFLUSH);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return API_ERR_SETTING_UART_BAUDRATE;
    return API_ERR_NONE;
}

extern "C" int API_UartGetBaudRate(int number, int *rate)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    int fd = s_OpenFd(number);
    termios settings;
    if (rate == nullptr || fd == 0 || tcgetattr(fd, &settings) != 0)
        return API_ERR_GETTING_UART_BAUDRATE;
    *rate = s_RateOfCode(cfgetospeed(&settings));
    return API_ERR_NONE;
}

extern "C" int API_UartSetConfig(int number, const int *config)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    int fd = s_OpenFd(number);
    termios settings;
    if (config == nullptr || fd == 0 || tcgetattr(fd, &settings) != 0)
        return API_ERR_SETTING_UART_CONFIG;
    if (!s_SetSpeed(&settings, config[API_UART_CONFIG_SPEED]))
        return API_ERR_SETTING_UART_CONFIG;
    settings.c_line = static_cast<cc_t>(config[API_UART_CONFIG_LINE] & 0xFF);
    a_uartSettings[number] = settings;
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return API_ERR_SETTING_UART_CONFIG;
    return API_ERR_NONE;
}

extern "C" int API_UartGetConfig(int number, int *config)
{
    if (!s_IsInterface(number))
        return API_ERR_INVALID_TTY_NUMBER;
    int fd = s_OpenFd(number);
    termios settings;
    if (config == nullptr || fd == 0 || tcgetattr(fd, &settings) != 0)
        return API_ERR_GETTING_UART_CONFIG;
    config[API_UART_CONFIG_SPEED] = static_cast<int>(cfgetospeed(&settings));
    config[API_UART_CONFIG_LINE] = settings.c_line;
    return API_ERR_NONE;
}
