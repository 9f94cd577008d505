#include "API_GNSS.h"

#include <pthread.h>

#include <atomic>

#include "API_Errors.h"
#include "API_SPI.h"
#include "internal/API_GNSS.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"

// Read inside the SIGUSR2 handler: an atomic pointer is safe there.
std::atomic<API_GNSS_PPSFunction> p_FuncPtr{nullptr};

namespace {

// One request and its reply under the bus lock; `data` receives the reply's
// data byte.
int s_GnssExchange(unsigned char command, unsigned char parameter, unsigned char *data)
{
    unsigned char reply[4] = {0, 0, 0, 0};
    pthread_mutex_lock(&s_spi_mutex);
    int result = API_SPI_Sendmsg(ifd_pmu, command, parameter);
    if (result == API_ERR_NONE)
        result = API_SPI_Receivemsg(ifd_pmu, reply, command);
    pthread_mutex_unlock(&s_spi_mutex);
    if (result == API_ERR_NONE && data)
        *data = reply[2];
    return result;
}

int s_GnssQuery(unsigned char command, int *value)
{
    if (!value)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char data = 0;
    int result = s_GnssExchange(command, 0, &data);
    if (result == API_ERR_NONE)
        *value = data == 1 ? 1 : 0;
    return result;
}

}  // namespace

extern "C" int API_GNSS_GetSourceClk(int *value) { return s_GnssQuery(PMU_CMD_GNSS_CLOCK_SOURCE, value); }

extern "C" int API_GNSS_GetPowerState(int *value) { return s_GnssQuery(PMU_CMD_GNSS_POWER_STATE, value); }

extern "C" int API_GNSS_GetWakeupPinLevel(int *value) { return s_GnssQuery(PMU_CMD_GNSS_WAKEUP_LEVEL, value); }

extern "C" int API_GNSS_GetBootPinLevel(int *value) { return s_GnssQuery(PMU_CMD_GNSS_BOOT_LEVEL, value); }

extern "C" int API_GNSS_GetResetPinLevel(int *value) { return s_GnssQuery(PMU_CMD_GNSS_RESET_LEVEL, value); }

extern "C" int API_GNSS_SetPowerState(int state)
{
    return s_GnssExchange(state == 1 ? PMU_CMD_GNSS_POWER_ON : PMU_CMD_GNSS_POWER_OFF, 1, nullptr);
}

extern "C" int API_GNSS_SetWakeupPinLevel(unsigned int level)
{
    if (level > 1)
        return API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS;
    return s_GnssExchange(PMU_CMD_GNSS_SET_WAKEUP, static_cast<unsigned char>(level), nullptr);
}

extern "C" int API_GNSS_SetBootPinLevel(int level)
{
    if (level != 0 && level != 1)
        return API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS;
    return s_GnssExchange(level == 1 ? PMU_CMD_GNSS_BOOT_HIGH : PMU_CMD_GNSS_BOOT_LOW, 0, nullptr);
}

extern "C" int API_GNSS_SetResetPinLevel(unsigned int level)
{
    if (level > 1)
        return API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS;
    return s_GnssExchange(PMU_CMD_GNSS_SET_RESET, static_cast<unsigned char>(level), nullptr);
}

extern "C" int API_GNSS_PPSCallback(API_GNSS_PPSFunction function)
{
    if (!function)
        return API_ERR_PPS_CALL_BACK_SET_NULL;
    p_FuncPtr.store(function);
    return API_ERR_NONE;
}

extern "C" int API_GNSS_PPSSignalHandler(void *context, unsigned int events)
{
    API_GNSS_PPSFunction function = p_FuncPtr.load();
    return function ? function(context, events) : 0;
}
