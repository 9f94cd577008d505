/* The serial ports that the USB serial gadget offers (UART interfaces 6 to 10,
 * "ttyUSB0" to "ttyUSB4") and the state of the serial link. */
#ifndef API_USBSERIAL_H
#define API_USBSERIAL_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define API_USBSERIAL_FIRST_PORT 6
#define API_USBSERIAL_LAST_PORT 10

int API_Usbserial_Initialize(void);
/* A null callback keeps the one registered before.  The callback is told 1
 * when the link is up and 0 when it is down; it may run in signal context. */
int API_Usbserial_Init(int (*callback)(int));
int API_Usbserial_Cleanup(void);
int API_Usbserial_GetState(int *state);
/* `baud` in bit/s: 1200 to 115200. */
int API_Usbserial_SetBaudRate(int port, int baud);
int API_Usbserial_GetBaudRate(int port, int *baud);
int API_Usbserial_Read(int port, char *buffer, int size);
int API_Usbserial_Write(int port, const void *data, int length);

/* Called by the SIGIO handler. */
int API_Usbserial_SignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
