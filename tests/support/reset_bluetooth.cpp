#include <string.h>

#include <atomic>
#include <initializer_list>

#include "API_Bluetooth.h"
#include "internal/API_Bluetooth.h"
#include "unit_reset.h"

using namespace bt;

namespace unitreset {

void Bluetooth()
{
    for (std::atomic<int> *flag : {&b_ConnectionStatus, &b_RestaureDataMode, &b_switchToCommandModeRequested,
                                   &b_switchToDataModeRequested, &b_BTDebug, &b_ExitDataMode})
        *flag = 0;
    p_btcallback = nullptr;
    memset(a_DeviceName, 0, sizeof a_DeviceName);
    memset(a_Type, 0, sizeof a_Type);
    memset(a_MACAddress, 0, sizeof a_MACAddress);
    memset(a_Version, 0, sizeof a_Version);
    strcpy(a_PinCode, "5820");
    i_DevNameLength = i_DevTypeLength = i_PinCodeLength = 0;
    b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = b_GotProfile = b_GotBTParameters = 0;
    b_EnablePinRequest = 0;
}

}  // namespace unitreset
