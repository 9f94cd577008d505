// Supply of the internal UHF radio, switched by PMU commands.
#include "API_UHF_RX_PacificCrest.h"

#include "API_Errors.h"
#include "API_SPI.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"

extern "C" int API_UHF_RX_PacificCrest_TurnOn(int on)
{
    if (on) {
        int result = API_SPI_PmuSendRecv(PMU_CMD_UHF_COMPANION, 0);
        if (result != API_ERR_NONE)
            return result;
        API_SPI_PauseMicroseconds(1);
        return API_SPI_PmuSendRecv(PMU_CMD_UHF_POWER_ON, 0);
    }
    // The companion command goes out even when the power-off failed, but the
    // failure is what the caller hears: the radio may still be powered.
    int powerOff = API_SPI_PmuSendRecv(PMU_CMD_UHF_POWER_OFF, 0);
    API_SPI_PauseMicroseconds(1);
    int companion = API_SPI_PmuSendRecv(PMU_CMD_UHF_COMPANION, 0);
    return powerOff != API_ERR_NONE ? powerOff : companion;
}
