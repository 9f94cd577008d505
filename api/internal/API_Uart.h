// State shared by the UART unit and the serial log and dump switches.
#ifndef API_INTERNAL_UART_H
#define API_INTERNAL_UART_H

#include <pthread.h>
#include <termios.h>

#include <atomic>

#include "API_Uart.h"

// Descriptor per interface number; 0 when not open.  Atomic: the receive
// tasks read it while their unit's start-up or clean-up opens and closes.
extern std::atomic<int> ai_fd[API_UART_COUNT];
// The settings block each interface was last given by a speed or configuration
// change, as built (a pty drops some flags, such as PARENB, when applying).
extern struct termios a_uartSettings[API_UART_COUNT];

// Switches per interface, 1 when on: mirror to the debug port, append to the log.
extern int ab_dbgEnabled[API_UART_COUNT];
extern int ab_logEnabled[API_UART_COUNT];
// Log file descriptor per interface; 0 when none.
extern int ai_logFd[API_UART_COUNT];
// 1 while the debug port is open on behalf of the dump switches.
extern int b_ttyS0open;
// Held around each copy to the debug port or a log and around the closing
// of either: a copy never reaches a descriptor closed, or reused, under it.
extern pthread_mutex_t uart_copy_mutex;

#endif
