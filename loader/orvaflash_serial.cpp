// The radio's serial line: a raw terminal whose receive time-out is counted in
// idle reads of 0.1 s.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "API_Extender.h"
#include "API_Serial_EXTUHF.h"
#include "Commun.h"
#include "board.h"
#include "orvaflash.h"

namespace {

// The speed code for a speed string, announcing the common ones; false for a
// speed the line does not take.
bool SpeedCode(const char *speed_name, speed_t &code)
{
    switch (atol(speed_name)) {
    case 9600:
        puts("9600\r");
        code = B9600;
        return true;
    case 19200: code = B19200; return true;
    case 38400:
        puts("38400\r");
        code = B38400;
        return true;
    case 57600: code = B57600; return true;
    case 115200:
        puts("115200\r");
        code = B115200;
        return true;
    default: printf("unknown baudrate %s\n", speed_name); return false;
    }
}

// Raw 8-bit line.  No XON/XOFF: the bootloader's frames and answers are
// binary, and a 0x11 or 0x13 in them must neither vanish nor stop the line.
void BuildPortSettings(termios &settings, speed_t code)
{
    memset(&settings, 0, sizeof settings);
    settings.c_iflag = IGNBRK | IGNPAR;
    settings.c_oflag = 0;
    settings.c_cflag = CS8 | CREAD | CLOCAL;
    settings.c_lflag = 0;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 1;
    cfsetispeed(&settings, code);
    cfsetospeed(&settings, code);
}

void PrintReadError(int error)
{
    switch (error) {
    case EAGAIN: puts("Read Error EAGAIN"); break;
    case EBADF: puts("Read Error EBADF"); break;
    case EFAULT: puts("Read Error EFAULT"); break;
    case EINVAL: puts("Read Error EINVAL"); break;
    case EIO: puts("Read Error EIO"); break;
    case EISDIR: puts("Read Error EISDIR"); break;
    default: printf("Read Error num %d\n", error); break;
    }
}

void PrintWriteError(int error)
{
    switch (error) {
    case EAGAIN: puts("Write Error EAGAIN"); break;
    case EBADF: puts("Write Error EBADF"); break;
    case EFAULT: puts("Write Error EFAULT"); break;
    case EFBIG: puts("Write Error EFBIG"); break;
    case EINVAL: puts("Write Error EINVAL"); break;
    case EIO: puts("Write Error EIO"); break;
    case EISDIR: puts("Write Error EISDIR"); break;
    case ENOSPC: puts("Write Error ENOSPC"); break;
    case EPIPE: puts("Write Error EPIPE"); break;
    default: printf("Write Error num %d\n", error); break;
    }
}

}  // namespace

int OpenSerialPort(LOADER_ENV *env)
{
    env->port_fd = Board_Open(env->port_name, O_RDWR | O_NOCTTY, 0);
    if (env->port_fd < 0) {
        env->port_fd = -1;
        DebugPrintf(1, "Can't open COM-Port %s !\n", env->port_name);
        return -1;
    }
    printf("COM-Port %s opened %ld...\n", env->port_name, static_cast<long>(env->port_fd));

    speed_t code;
    if (!SpeedCode(env->speed_name, code)) {
        Board_Close(env->port_fd);
        return -1;
    }
    BuildPortSettings(env->port_settings, code);

    DebugPrintf(3, "Set Serial port to 232\n");
    API_EXTUHF_SetSerialMode(0);
    API_Extender_SetStatusGpio(1, 3, 0);

    tcflush(env->port_fd, TCIOFLUSH);
    tcsetattr(env->port_fd, TCSANOW, &env->port_settings);
    return env->port_fd;
}

void CloseSerialPort(LOADER_ENV *env)
{
    tcflush(env->port_fd, TCOFLUSH);
    tcflush(env->port_fd, TCIFLUSH);
    tcsetattr(env->port_fd, TCSANOW, &env->saved_settings);
    Board_Close(env->port_fd);
}

void SendComPortBlock(LOADER_ENV *env, const void *data, unsigned long length)
{
    DumpString(4, data, length, "Sending ");
    const unsigned char *bytes = static_cast<const unsigned char *>(data);
    unsigned long sent = 0;
    // A signal may cut a write short after part of the frame went out; the
    // rest follows, or the radio would see a corrupt frame.
    while (sent < length) {
        ssize_t count = Board_Write(env->port_fd, bytes + sent, length - sent);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            PrintWriteError(errno);
            break;
        }
        if (count == 0)
            break;
        sent += static_cast<unsigned long>(count);
    }
    DumpStringLog(env->log_fd, 1, data, length, ">> ");
}

unsigned long ReceiveComPortBlock(LOADER_ENV *env, void *buffer, unsigned long size)
{
    for (;;) {
        ssize_t count = Board_Read(env->port_fd, buffer, size);
        if (count > 0)
            return static_cast<unsigned long>(count);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            PrintReadError(errno);
        }
        if (env->rx_countdown > 0)
            env->rx_countdown--;
        return 0;
    }
}

unsigned long ReceiveComPort(LOADER_ENV *env, char *buffer, unsigned long length, unsigned int timeout_ms)
{
    env->rx_countdown = timeout_ms / 100;
    unsigned long total = 0;
    do {
        total += ReceiveComPortBlock(env, buffer + total, length - total);
    } while (total < length && env->rx_countdown != 0);
    buffer[total] = 0;

    if (total > 0) {
        char title[64];
        snprintf(title, sizeof title, "Answer(Length=%ld): ", static_cast<long>(total));
        DumpString(4, buffer, total, title);
    }
    DumpStringLog(env->log_fd, 1, buffer, total, "<< ");
    return total;
}
