#include "API_Ethernet.h"

#include <atomic>

#include "API_Errors.h"
#include "board.h"
#include "internal/API_Ethernet.h"

// Both are touched inside the SIGIO handler; lock-free atomics are safe there.
std::atomic<int> EthernetCnxState{0};
std::atomic<API_ETH_Callback> p_ethcallback{nullptr};

namespace {

const int kLinkUp = 0;
const int kLinkDown = -1;

int s_Notify(int change)
{
    API_ETH_Callback callback = p_ethcallback.load();
    return callback ? callback(change) : 0;
}

}  // namespace

extern "C" int API_ETH_Init(API_ETH_Callback callback)
{
    if (callback)
        p_ethcallback.store(callback);
    // A link already up is reported to whoever registers, even when the state
    // was known before.
    if (Board_Exists(API_ETH_LINK_MARKER)) {
        EthernetCnxState.store(1);
        s_Notify(kLinkUp);
    }
    return API_ERR_NONE;
}

extern "C" int API_ETH_GetCnxState(int *state)
{
    if (!state)
        return API_ERR_INVALID_PARAMETERS;
    *state = EthernetCnxState.load();
    return API_ERR_NONE;
}

extern "C" int API_ETH_SignalHandler(void)
{
    bool present = Board_Exists(API_ETH_LINK_MARKER) != 0;
    // Test and update in one step: this handler may interrupt API_ETH_Init
    // between its own test and update.
    int expected = present ? 0 : 1;
    if (!EthernetCnxState.compare_exchange_strong(expected, present ? 1 : 0))
        return 0;
    return s_Notify(present ? kLinkUp : kLinkDown);
}
