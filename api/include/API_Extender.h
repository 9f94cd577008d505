/* GPIO extender: two 8-line ports; `port_a` not 0 selects port A, 0 port B;
 * lines are numbered 1 to 8. */
#ifndef API_EXTENDER_H
#define API_EXTENDER_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_Extender_Init(void);
int API_Extender_Cleanup(void);
int API_Extender_GetStatusGpio(int port_a, unsigned char line, int *level);
int API_Extender_SetStatusGpio(int port_a, unsigned char line, int level);
int API_Extender_SetConfigGpio(int port_a, unsigned char line, int output);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
