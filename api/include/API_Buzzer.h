/** @file
 * Buzzer, driven by the PMU: a tone, a duration and a start command. */
#ifndef API_BUZZER_H
#define API_BUZZER_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Nothing to prepare (feature bit ::API_INIT_BUZZER).
 * @return 0. */
int API_Buzzer_Init(void);
/** Sounds a tone; a failed command ends the sequence.
 * @param frequency Hz; outside 306 to 4650 Hz the lowest tone is used.
 * @param duration in the PMU's unit, low 8 bits only.
 * @return 0, or a code of the PMU link (API_SPI.h). */
int API_Buzzer_Beep(unsigned int frequency, int duration);
/** Silences the buzzer.
 * @return 0, or a code of the PMU link. */
int API_Buzzer_Cleanup(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
