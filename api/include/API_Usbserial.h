/** @file
 * The serial ports that the USB serial gadget offers (UART interfaces 6 to
 * 10, "ttyUSB0" to "ttyUSB4") and the state of the serial link: up while the
 * computer's ports exist (all five when five were there at start-up, else the
 * first two). */
#ifndef API_USBSERIAL_H
#define API_USBSERIAL_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define API_USBSERIAL_FIRST_PORT 6 /**< interface number of "ttyUSB0" */
#define API_USBSERIAL_LAST_PORT 10 /**< interface number of "ttyUSB4" */

/** Opens the five ports at 115200 bit/s (feature bit ::API_INIT_USB_SERIAL);
 * the first failure ends it, the ports opened before stay open.
 * @return 0; the code of API_UartOpen; ::API_ERR_SETTING_UART_BAUDRATE. */
int API_Usbserial_Initialize(void);
/** Registers the callback, takes the link's present state and tells it to the
 * callback.  The callback may run in signal context.
 * @param callback told 1 when the link is up and 0 when it is down; null
 *   keeps the registered one.
 * @return 0. */
int API_Usbserial_Init(int (*callback)(int));
/** Closes the five ports in order; the first failure ends it.
 * @return 0, or ::API_ERR_CLOSING_UART. */
int API_Usbserial_Cleanup(void);
/** The link's state.
 * @param[out] state 1 up, 0 down.
 * @return 0. */
int API_Usbserial_GetState(int *state);
/** Sets a port's speed.
 * @param port 6 to 10.
 * @param baud 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600 or 115200.
 * @return 0; ::API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED for other speeds; the
 *   codes of API_UartSetBaudRate. */
int API_Usbserial_SetBaudRate(int port, int baud);
/** A port's speed, as API_UartGetBaudRate.
 * @param port 6 to 10.
 * @param[out] baud bit/s.
 * @return as API_UartGetBaudRate. */
int API_Usbserial_GetBaudRate(int port, int *baud);
/** Reads from a port, as API_UartRead.
 * @param port 6 to 10.
 * @param[out] buffer receives the bytes.
 * @param size room in `buffer`.
 * @return as API_UartRead: a count, 0, or -1. */
int API_Usbserial_Read(int port, char *buffer, int size);
/** Writes to a port, as API_UartWrite.
 * @param port 6 to 10.
 * @param data the bytes.
 * @param length their count.
 * @return as API_UartWrite: a count, or -1. */
int API_Usbserial_Write(int port, const void *data, int length);
/** Looks for a change of the link and tells the callback; called by the SIGIO
 * handler.
 * @return 0. */
int API_Usbserial_SignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
