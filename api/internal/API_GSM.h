// The GSM unit's internal interface, shared by the files of the unit
// (api/API_GSM*.cpp): the AT command channel, the receive task with its
// payload ring, the command/data mode switches and the unit's state.
//
// A command transaction, as every modem operation runs it:
//
//     pthread_mutex_lock(&gsm_mutex);
//     int result = s_GsmCmdMode();                  // escape to command mode
//     if (result == API_ERR_NONE)
//         result = s_GsmSendCmd("AT+CSQ\r");        // caller supplies the CR
//     if (result == API_ERR_NONE)
//         result = s_GsmVerifyAnswer("OK", 10);     // 0, 92 (ERROR) or 24
//     // WIP commands: result = s_GsmCheckErrorInfo(result);
//     if (result == API_ERR_NONE) {
//         const char *at = s_GsmFindInAnswer("+CSQ: ");
//         int tens = s_GsmAnswerByte(at, 6);        // -1 outside the answer
//         ...s_CharToInt(static_cast<char>(tens), &value)...
//     }
//     int back = s_GsmDataMode();                   // back to data mode if connected
//     pthread_mutex_unlock(&gsm_mutex);
//
// Locks, outermost first: gsm_mutex (one transaction at a time; never taken
// by the task), then the unit's two leaf locks inside this layer (answer
// buffer, payload ring), then s_spi_mutex for the PMU exchanges.  Payload
// writes take only sem_gsm_write_id (s_GsmUartWrite), never gsm_mutex.
//
// The flags are atomics so that the task, the application threads and the
// signal handler see each other's writes; use them like plain ints.
#ifndef API_INTERNAL_GSM_H
#define API_INTERNAL_GSM_H

#include <pthread.h>
#include <semaphore.h>
#include <stdint.h>

#include <atomic>

// The public declarations (a quoted name would find this file itself).
#include <API_GSM.h>

// Sizes of the answer buffer and of the payload ring.
constexpr int GSM_ANSWER_SIZE = 4096;
constexpr int GSM_RING_SIZE = 4096;
constexpr int GSM_SOCKET_COUNT = 23;
// The modem's serial interface (row of the interface table).
constexpr int GSM_UART = 1;

// ---- Task -------------------------------------------------------------------

// Started by API_SYS_CreateTask(1, priority); parks until the start-up has
// powered the modem, then owns the receive side of the line.  It waits for
// the line with a time-out, so that it can be sent away from the line before
// the line is closed: a descriptor closed under a read may be reused.
extern "C" void *gsm_task(void *argument);
// Creates the task with these attributes, its handle in gsm_thread_id; 0, or
// the failure of the thread's creation.  A task that already runs is kept
// (two readers would split the modem's answers between them).
int s_GsmCreateTask(const pthread_attr_t *attributes);
// Sends the task back to wait for the modem's power (b_GSM_Power_ON cleared)
// and returns once it is away from the line, which may then be closed.
void s_GsmParkTask(void);
// Ends the task and joins it; nothing when none runs.  API_GSM_Cleanup.
void s_GsmStopTask(void);

// ---- Locks and semaphores ------------------------------------------------

extern pthread_mutex_t gsm_mutex;
// Posted by the task when payload arrives for a waiting reader.
extern sem_t sem_gsm_id;
// Serialises every write to the modem's UART (commands and payload).
extern sem_t sem_gsm_write_id;
// Posted by the start-up once the modem is powered: releases the task.
extern sem_t sem_gsm_power_id;

// ---- Answer buffer ------------------------------------------------------------

// What the modem answered since the last command was sent; written by the
// task.  Search it with s_GsmFindInAnswer and read bytes relative to a hit
// with s_GsmAnswerByte, which stay within the valid length.
extern char Buffer_Cmd[GSM_ANSWER_SIZE];
extern std::atomic<int32_t> Buffer_Cmd_Length;

// ---- Modes and connection state --------------------------------------------

extern std::atomic<int32_t> b_CommandMode;                   // 1 command mode, 0 data mode
extern std::atomic<int32_t> b_ExitDataMode;                  // the current stream has ended
extern std::atomic<int32_t> b_switchToCommandModeRequested;  // an escape is in progress
extern std::atomic<int32_t> bCloseSocketRequested;           // a socket close is in progress
extern std::atomic<int32_t> b_PSD_ConnectionStatus;          // a packet socket is connected
extern std::atomic<int32_t> b_CSD_ConnectionStatus;          // a data call is connected
extern std::atomic<int32_t> b_PSD_BearerConnected;           // the packet bearer is up
extern std::atomic<int32_t> GSMprotocol;                     // 1 packet (default), 0 circuit only
extern std::atomic<int32_t> PSDprotocol;                     // socket protocol: 1 UDP, else TCP
extern std::atomic<int32_t> bCheckStatus;                    // 0 after RING until the next CONNECT
extern std::atomic<int32_t> b_PSD_WaitForData;               // a reader waits on sem_gsm_id

// ---- Power, start-up and SIM ------------------------------------------------

extern std::atomic<int32_t> b_GSM_API_Initialized;
extern std::atomic<int32_t> b_GSM_Power_ON;
extern std::atomic<int32_t> b_GSM_DCD_Stable;
extern std::atomic<int32_t> b_GSM_DCD_Enabled;
extern std::atomic<int32_t> b_GSM_PIN_Initialized;

// ---- Sockets ----------------------------------------------------------------

// Socket records; only socket 1 (index 0) is used.  State: -1 never opened,
// 0 open, 1 closed (the task sets 1 on "+WIPPEERCLOSE:").
struct WipSocketRecord {
    int32_t number;
    int32_t reserved;
    std::atomic<int32_t> state;
};
extern WipSocketRecord WipSocket[GSM_SOCKET_COUNT];

// The application's connection callback, or null.
extern std::atomic<API_GSM_ConnectionCallback> p_gsmcallback;

// ---- Payload ring -----------------------------------------------------------

// Write and read indices, 0 to 4095; equal when the ring is empty.  Owned by
// the task and s_GsmRead: read them, never write them (s_GsmResetRing).
extern std::atomic<int32_t> i_WPtr;
extern std::atomic<int32_t> i_RPtr;

// ---- Command channel ---------------------------------------------------------

// Writes a complete command line ("\r" included; "+++" has none) after
// clearing the answer buffer.  0, 106 (data mode: only "+++" and "AT\r" pass)
// or 85 (failed or short write).
int s_GsmSendCmd(const char *command);
// Polls the answer buffer 10 x seconds + 1 times, 100 ms apart (none for 0):
// 0 when `expected` is there, else 92 once "ERROR" is, else 24 at the end.
int s_GsmVerifyAnswer(const char *expected, int seconds);
// One decimal digit; 0, or 9 with *value untouched.
int s_CharToInt(char c, unsigned *value);
// Turns a 92 into the WIP error whose number the answer holds; any other
// code is returned unchanged.
int s_GsmCheckErrorInfo(int code);
// Polls "AT+WSTR=1" until the modem's start-up sequence has finished; 0, 105
// after 200 polls, or the failing send or wait code.
int s_GsmWaitForReady(void);

// First occurrence of `text` in the current answer, or null.
char *s_GsmFindInAnswer(const char *text);
// The byte `offset` places after `position` (a hit of s_GsmFindInAnswer), as
// an unsigned char value; -1 when that lies outside the current answer.
int s_GsmAnswerByte(const char *position, int offset);
// Copies the current answer (at most size - 1 bytes) and a NUL; its length.
int s_GsmCopyAnswer(char *copy, int size);

// Writes to the modem's UART under sem_gsm_write_id; the write's own result
// (a count, or -1).  For payload; commands go through s_GsmSendCmd.
int s_GsmUartWrite(const void *data, int length);

// ---- Modes --------------------------------------------------------------------

// Escape to command mode ("+++" with its guard silence); 0 or the failure
// (24, 92, 85), after which b_CommandMode is 0.
int s_GsmCmdMode(void);
// Back to data mode: the socket ("AT+WIPDATA", waits for "CONNECT"), the call
// ("ATO", waits for "OK", on which the task takes the line back to data
// mode, since no "CONNECT" comes), or whichever is connected, socket first.
// What the application has not read stays in the ring.  The operations that
// escaped end with s_GsmDataMode.
int s_GsmPsdDataMode(void);
int s_GsmCsdDataMode(void);
int s_GsmDataMode(void);

// ---- Payload ----------------------------------------------------------------

// Takes up to `wanted` payload bytes from the ring, blocking until at least
// one is there; 0, 89 once the stream has ended and the ring is empty, or 7
// for a null pointer or a negative count.  `wanted` 0 returns at once.
int s_GsmRead(char *destination, int wanted, int *received);
// Empties the ring (both indices 0), e.g. when a connection is closed.
void s_GsmResetRing(void);

#endif
