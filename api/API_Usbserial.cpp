#include "API_Usbserial.h"

#include <fcntl.h>
#include <termios.h>

#include "API_Errors.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Init.h"
#include "internal/API_Usbserial.h"

std::atomic<int> UsbSerialState{1};
std::atomic<int (*)(int)> p_usbserialcallback{nullptr};

namespace {

const int s_PORT_COUNT = API_USBSERIAL_LAST_PORT - API_USBSERIAL_FIRST_PORT + 1;

const char *const s_PRESENCE_PATHS[s_PORT_COUNT] = {
    "/sys/class/tty/ttyUSB0", "/sys/class/tty/ttyUSB1", "/sys/class/tty/ttyUSB2",
    "/sys/class/tty/ttyUSB3", "/sys/class/tty/ttyUSB4",
};

struct BaudRate {
    int baud;
    int speed_code;
};

const BaudRate s_BAUD_RATES[] = {
    {1200, B1200},   {1800, B1800},   {2400, B2400},   {4800, B4800},     {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

// Signal context: presence tests only.  With five ports announced at start-up
// every one of them is needed, otherwise the first two make the link.
bool s_IsLinkComplete()
{
    bool present[s_PORT_COUNT];
    for (int i = 0; i < s_PORT_COUNT; ++i)
        present[i] = Board_Exists(s_PRESENCE_PATHS[i]) != 0;
    if (FullttyUSB) {
        for (bool port : present)
            if (!port)
                return false;
        return true;
    }
    return present[0] && present[1];
}

void s_NotifyUser(int state)
{
    int (*callback)(int) = p_usbserialcallback.load();
    if (callback)
        callback(state);
}

}  // namespace

extern "C" {

int API_Usbserial_Initialize(void)
{
    for (int port = API_USBSERIAL_FIRST_PORT; port <= API_USBSERIAL_LAST_PORT; ++port) {
        int result = API_UartOpen(static_cast<unsigned>(port), O_RDWR | O_NOCTTY);
        if (result != API_ERR_NONE)
            return result;
        if (API_UartSetBaudRate(static_cast<unsigned>(port), B115200) != API_ERR_NONE)
            return API_ERR_SETTING_UART_BAUDRATE;
    }
    return API_ERR_NONE;
}

int API_Usbserial_Init(int (*callback)(int))
{
    if (callback)
        p_usbserialcallback.store(callback);
    UsbSerialState = s_IsLinkComplete() ? 1 : 0;
    s_NotifyUser(UsbSerialState);
    return API_ERR_NONE;
}

int API_Usbserial_Cleanup(void)
{
    for (int port = API_USBSERIAL_FIRST_PORT; port <= API_USBSERIAL_LAST_PORT; ++port) {
        int result = API_UartClose(port);
        if (result != API_ERR_NONE)
            return result;
    }
    return API_ERR_NONE;
}

int API_Usbserial_GetState(int *state)
{
    if (state == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    *state = UsbSerialState;
    return API_ERR_NONE;
}

int API_Usbserial_SetBaudRate(int port, int baud)
{
    for (const BaudRate &rate : s_BAUD_RATES)
        if (rate.baud == baud)
            return API_UartSetBaudRate(static_cast<unsigned>(port), rate.speed_code);
    return API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED;
}

int API_Usbserial_GetBaudRate(int port, int *baud) { return API_UartGetBaudRate(port, baud); }

int API_Usbserial_Read(int port, char *buffer, int size) { return API_UartRead(port, buffer, size); }

int API_Usbserial_Write(int port, const void *data, int length) { return API_UartWrite(port, data, length); }

int API_Usbserial_SignalHandler(void)
{
    const bool complete = s_IsLinkComplete();
    // Each change is reported once, also when two handlers see it together.
    int expected = complete ? 0 : 1;
    if (UsbSerialState.compare_exchange_strong(expected, complete ? 1 : 0))
        s_NotifyUser(complete ? 1 : 0);
    return API_ERR_NONE;
}

}  // extern "C"
