/* Supply of the receiver's internal UHF radio, switched through the PMU. */
#ifndef API_UHF_RX_PACIFICCREST_H
#define API_UHF_RX_PACIFICCREST_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_UHF_RX_PacificCrest_TurnOn(int on);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
