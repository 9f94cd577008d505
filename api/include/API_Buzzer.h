/* Buzzer, driven by the PMU: a tone, a duration and a start command. */
#ifndef API_BUZZER_H
#define API_BUZZER_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_Buzzer_Init(void);
/* `frequency` in Hz (outside 306 to 4650 Hz the lowest tone is used);
 * `duration` in the PMU's unit, low 8 bits only. */
int API_Buzzer_Beep(unsigned int frequency, int duration);
int API_Buzzer_Cleanup(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
