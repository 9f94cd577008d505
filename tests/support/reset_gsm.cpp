#include <atomic>
#include <initializer_list>

#include "internal/API_GSM_Services.h"
#include "unit_reset.h"

namespace unitreset {

void Gsm()
{
    for (std::atomic<int32_t> *flag : {&b_ExitDataMode, &b_switchToCommandModeRequested, &bCloseSocketRequested,
                                       &b_PSD_ConnectionStatus, &b_CSD_ConnectionStatus, &b_PSD_BearerConnected,
                                       &b_GSM_API_Initialized, &b_GSM_PIN_Initialized, &b_PSD_GotVersion})
        *flag = 0;
    for (std::atomic<int32_t> *flag : {&b_CommandMode, &GSMprotocol, &PSDprotocol, &bCheckStatus})
        *flag = 1;
    WipSocket[0].state = -1;
    p_gsmcallback = nullptr;
    s_GsmResetRing();
}

}  // namespace unitreset
