// Electrical mode of the UHF radio's serial line: set in the GPIO driver and
// kept as one character in the NOR parameter area.
#include "API_Serial_EXTUHF.h"

#include <stdint.h>

#include "API_Errors.h"
#include "API_NOR.h"
#include "board.h"
#include "internal/API_Signal.h"

namespace {

constexpr unsigned long kGpioSetSerialMode = 0x4004FF15;
constexpr unsigned long kGpioGetSerialMode = 0x8004FF16;
constexpr unsigned kNorSerialModeAddress = 0x39197;

// 0 means the signal unit has not opened "/dev/gpio" (or closed it again):
// a request must not land on the process's standard input.
bool s_GpioOpen() { return sigiofd > 0; }

}  // namespace

extern "C" int API_EXTUHF_SetSerialMode(int mode)
{
    if (mode != 0 && mode != 1)
        return API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF;
    int32_t value = mode;
    if (!s_GpioOpen() || Board_Ioctl(sigiofd, kGpioSetSerialMode, &value) < 0)
        return API_ERR_EXTERNAL_UHF_IOCTL;
    const char stored = mode ? '1' : '0';
    int written = 0;
    return API_Flash_WriteData(kNorSerialModeAddress, &stored, 1, &written);
}

extern "C" int API_EXTUHF_GetSerialMode(int *mode)
{
    if (!mode)
        return API_ERR_INVALID_PARAMETERS;
    int32_t value = 0;
    if (!s_GpioOpen() || Board_Ioctl(sigiofd, kGpioGetSerialMode, &value) < 0)
        return API_ERR_EXTERNAL_UHF_IOCTL;
    *mode = value;
    return API_ERR_NONE;
}
