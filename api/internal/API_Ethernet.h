// The link state and the change function, touched in the SIGIO handler.
#ifndef API_INTERNAL_ETHERNET_H
#define API_INTERNAL_ETHERNET_H

#include <atomic>

#include <API_Ethernet.h>

extern std::atomic<int> EthernetCnxState;  // 1 connected, 0 not
extern std::atomic<API_ETH_Callback> p_ethcallback;

#endif
