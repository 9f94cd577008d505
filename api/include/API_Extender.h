/** @file
 * GPIO extender on "/dev/extender": two ports of 8 lines, numbered 1 to 8.
 * After API_Extender_Init line 2 of port A is an input and the other fifteen
 * lines are outputs that keep the levels they had. */
#ifndef API_EXTENDER_H
#define API_EXTENDER_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Opens the extender and sets its directions (feature bit
 * ::API_INIT_EXTENDER).
 * @return 0; ::API_ERR_OPEN_EXTENDER; ::API_ERR_READING_FROM_EXTENDER;
 *   ::API_ERR_WRITING_EXTENDER. */
int API_Extender_Init(void);
/** Closes the extender.
 * @return 0, or ::API_ERR_EXTENDER_CLEANUP when the close fails. */
int API_Extender_Cleanup(void);
/** The level of a line.
 * @param port_a not 0 port A, 0 port B.
 * @param line 1 to 8.
 * @param[out] level 1 high, 0 low.
 * @return 0; ::API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
 *   ::API_ERR_READING_FROM_EXTENDER. */
int API_Extender_GetStatusGpio(int port_a, unsigned char line, int *level);
/** Drives an output line.
 * @param port_a not 0 port A, 0 port B.
 * @param line 1 to 8.
 * @param level not 0 high, 0 low.
 * @return 0; ::API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
 *   ::API_ERR_EXTENDER_INPUT_NOT_FORCEABLE for an input line;
 *   ::API_ERR_READING_FROM_EXTENDER; ::API_ERR_WRITING_EXTENDER. */
int API_Extender_SetStatusGpio(int port_a, unsigned char line, int level);
/** Makes a line an output or an input.
 * @param port_a not 0 port A, 0 port B.
 * @param line 1 to 8.
 * @param output not 0 output, 0 input.
 * @return 0; ::API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
 *   ::API_ERR_READING_FROM_EXTENDER; ::API_ERR_WRITING_EXTENDER. */
int API_Extender_SetConfigGpio(int port_a, unsigned char line, int output);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
