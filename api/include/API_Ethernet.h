/** @file
 * Ethernet link state: connected exactly while "/var/netlink" exists (kept by
 * software outside the API), looked at on start and at every SIGIO. */
#ifndef API_ETHERNET_H
#define API_ETHERNET_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** The marker file whose presence means a connected link. */
#define API_ETH_LINK_MARKER "/var/netlink"

/** The link's change function, called in signal context with 0 when the link
 * came up and -1 when it went down. */
typedef int (*API_ETH_Callback)(int change);

/** Registers the change function and looks at the link once (feature bit
 * ::API_INIT_ETHERNET, without function).
 * @param callback null keeps the registered one.  Told 0 at once when the
 *   link is up.
 * @return 0. */
int API_ETH_Init(API_ETH_Callback callback);
/** The link's state.
 * @param[out] state 1 connected, 0 not.
 * @return 0, or ::API_ERR_INVALID_PARAMETERS for null. */
int API_ETH_GetCnxState(int *state);
/** Looks for a change of the link and tells the change function; called by
 * the SIGIO handler.
 * @return the function's result when it was called, else 0. */
int API_ETH_SignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
