/** @file
 * Serial interfaces opened by their interface number (the row of the interface
 * table): 0 debug console, 1 GSM modem, 2 GNSS receiver, 3 Bluetooth module,
 * 4 UHF transmitter, 5 UHF receiver radio, 6 to 10 USB serial ports,
 * 11 push buttons.  Speeds are terminal speed codes (B9600 ...).  Only
 * API_UartOpen checks the number; the others expect 0 to 11. */
#ifndef API_UART_H
#define API_UART_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Interface numbers run from 0 to API_UART_COUNT - 1. */
#define API_UART_COUNT 12

/** @name The configuration record: API_UART_CONFIG_WORDS ints */
/** @{ */
#define API_UART_CONFIG_SPEED 0 /**< output and input speed code */
#define API_UART_CONFIG_LINE 1  /**< line discipline number, 0 ordinary */
#define API_UART_CONFIG_WORDS 2 /**< size of the record */
/** @} */

/** Opens the interface's device path from the interface table.
 * @param number interface number.
 * @param flags open(2) flags, for example O_RDWR | O_NOCTTY.
 * @return 0; ::API_ERR_INVALID_TTY_NUMBER for a number above 11;
 *   ::API_ERR_OPENING_UART. */
int API_UartOpen(unsigned int number, int flags);
/** Closes the interface; it counts as closed afterwards in any case.
 * @param number interface number.
 * @return 0, or ::API_ERR_CLOSING_UART when the close fails. */
int API_UartClose(int number);
/** Reads what is there, repeating a read that a signal interrupted.  The bytes
 * are copied to the debug port and the log file when the interface's switches
 * say so (API_Debug.h).
 * @param number interface number.
 * @param[out] data receives the bytes.
 * @param size room in `data`.
 * @return the read's own result: a count, 0, or -1 with errno; 0 when the
 *   interface is not open. */
int API_UartRead(int number, char *data, int size);
/** Writes, repeating a write that a signal interrupted; copied like reads.
 * @param number interface number.
 * @param data the bytes.
 * @param length their count.
 * @return the write's own result: a count, or -1 with errno; 0 when the
 *   interface is not open. */
int API_UartWrite(int number, const void *data, int length);
/** Sets both speeds, with the interface's flow control (hardware handshake on
 * interfaces 1, 2, 3 and 5, with parity too on 6 to 10), discards pending
 * input and output and applies it at once.
 * @param number interface number.
 * @param speed_code terminal speed code (B115200 ...).
 * @return 0, or ::API_ERR_SETTING_UART_BAUDRATE. */
int API_UartSetBaudRate(unsigned int number, int speed_code);
/** The output speed in bit/s.
 * @param number interface number.
 * @param[out] rate the rate; a code without a known rate is stored as it is.
 * @return 0, or ::API_ERR_GETTING_UART_BAUDRATE. */
int API_UartGetBaudRate(int number, int *rate);
/** Sets both speeds and the line discipline from a configuration record.
 * @param number interface number.
 * @param config ::API_UART_CONFIG_WORDS ints.
 * @return 0, or ::API_ERR_SETTING_UART_CONFIG. */
int API_UartSetConfig(int number, const int *config);
/** Fills a configuration record with the output speed code and the line
 * discipline.
 * @param number interface number.
 * @param[out] config ::API_UART_CONFIG_WORDS ints.
 * @return 0, or ::API_ERR_GETTING_UART_CONFIG. */
int API_UartGetConfig(int number, int *config);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
