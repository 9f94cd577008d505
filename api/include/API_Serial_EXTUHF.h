/* Electrical mode of the UHF radio's serial line: 0 RS-232, 1 the other mode. */
#ifndef API_SERIAL_EXTUHF_H
#define API_SERIAL_EXTUHF_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_EXTUHF_SetSerialMode(int mode);
int API_EXTUHF_GetSerialMode(int *mode);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
