// Helpers shared by the GSM service files (API_GSM_PSD, API_GSM_CSD,
// API_GSM_Status, API_GSM_Settings), on top of the unit's command channel.
#ifndef API_INTERNAL_GSM_SERVICES_H
#define API_INTERNAL_GSM_SERVICES_H

#include "API_GSM_Services.h"
#include "internal/API_GSM.h"

// The unit's staging buffer for NOR writes; cleared after a failed write.
constexpr int GSM_FLASH_BUF_SIZE = 256;
extern char a_FlashBuf[GSM_FLASH_BUF_SIZE];
// The packet stack's version was read (once per process, by the bearer start).
extern std::atomic<int32_t> b_PSD_GotVersion;

// Sends `command` and waits up to `seconds` for "OK".
int s_GsmCommand(const char *command, int seconds);
// The same for WIP commands: a failure comes back as the refined WIP code.
int s_GsmWipCommand(const char *command, int seconds);

// Stages `length` bytes in a_FlashBuf and writes them at `address`; the
// NOR store's code on failure.
int s_GsmFlashWrite(unsigned address, const void *data, int length);
// Stores a one-character setting: the decimal digit of `value` (0 to 9).
int s_GsmStoreDigit(unsigned address, int value);

// The current stream is over: the ring is emptied and a waiting reader told.
void s_GsmEndStream(void);

// Digit `offset` places after `prefix` (a hit in the answer); 9 for a
// non-digit or a position outside the answer.
int s_GsmAnswerDigit(const char *prefix, int offset, unsigned *value);

// While the line is in command mode with a connection up, returns to data
// mode under gsm_mutex (for the payload operations, which run without it).
int s_GsmPsdEnsureDataMode(void);
int s_GsmCsdEnsureDataMode(void);

#endif
