/* Ethernet link state: connected exactly while "/var/netlink" exists; the
 * registered function hears 0 when the link comes up and -1 when it goes down. */
#ifndef API_ETHERNET_H
#define API_ETHERNET_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define API_ETH_LINK_MARKER "/var/netlink"

/* Called in signal context with 0 (link up) or -1 (link down). */
typedef int (*API_ETH_Callback)(int change);

/* Registers `callback` unless it is null; reports a link already up. */
int API_ETH_Init(API_ETH_Callback callback);
/* 1 connected, 0 not. */
int API_ETH_GetCnxState(int *state);
/* For the SIGIO dispatch, on every SIGIO. */
int API_ETH_SignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
