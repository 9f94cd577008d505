/* Serial interfaces opened by their interface number (the row of the interface
 * table): 0 debug console, 1 GSM modem, 2 GNSS receiver, 3 Bluetooth module,
 * 4 UHF transmitter, 5 UHF receiver radio, 6 to 10 USB serial ports,
 * 11 push buttons.  Speeds are given as terminal speed codes (B9600 ...). */
#ifndef API_UART_H
#define API_UART_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Interface numbers 0 to API_UART_COUNT - 1. */
#define API_UART_COUNT 12

/* The configuration record: two ints. */
#define API_UART_CONFIG_SPEED 0 /* output and input speed code */
#define API_UART_CONFIG_LINE 1  /* line discipline number, 0 ordinary */
#define API_UART_CONFIG_WORDS 2

int API_UartOpen(unsigned int number, int flags);
int API_UartClose(int number);
/* Read and write return the transfer's own result: a count, 0, or -1 with errno. */
int API_UartRead(int number, char *data, int size);
int API_UartWrite(int number, const void *data, int length);
int API_UartSetBaudRate(unsigned int number, int speed_code);
/* The output speed in bit/s; a code without a known rate is returned as is. */
int API_UartGetBaudRate(int number, int *rate);
int API_UartSetConfig(int number, const int *config);
int API_UartGetConfig(int number, int *config);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
