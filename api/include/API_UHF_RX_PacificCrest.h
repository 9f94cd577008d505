/** @file
 * Supply of the receiver's internal UHF radio, switched through the PMU. */
#ifndef API_UHF_RX_PACIFICCREST_H
#define API_UHF_RX_PACIFICCREST_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Switches the radio's supply with two PMU commands; takes at least 40 ms.
 * The radio needs a few seconds after power-on before it answers.
 * @param on not 0 on, 0 off.
 * @return 0, or a code of the PMU link (API_SPI.h). */
int API_UHF_RX_PacificCrest_TurnOn(int on);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
