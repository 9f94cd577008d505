// GSM settings: frequency band, network mode and modem class, applied to the
// modem and recorded in the NOR parameter store; the unit's NOR staging.
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"

char a_FlashBuf[GSM_FLASH_BUF_SIZE];

namespace {

constexpr int kRestartPolls = 50;
constexpr unsigned kHighestBand = 6;

// a_FlashBuf is shared by every thread storing a GSM setting.
pthread_mutex_t s_flash_mutex = PTHREAD_MUTEX_INITIALIZER;

void s_ClearFlashBuf(void)
{
    pthread_mutex_lock(&s_flash_mutex);
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    pthread_mutex_unlock(&s_flash_mutex);
}

// Caller holds gsm_mutex.  After "AT+CFUN=1" the modem runs its start-up
// sequence again; at most 50 polls, each counted whatever it answers.
int s_WaitAfterRestart(bool announce)
{
    for (int poll = 0; poll < kRestartPolls; ++poll) {
        int result = s_GsmCommand("AT+WSTR=1\r", 10);
        if (result != API_ERR_NONE)
            return result;
        if (s_GsmFindInAnswer("+WSTR: ") == nullptr)
            continue;
        unsigned status = 0;
        result = s_GsmAnswerDigit("+WSTR: ", 9, &status);
        if (result != API_ERR_NONE)
            return result;
        if (status > 2)
            return API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS;
        if (status == 2) {
            if (announce) {
                printf("Modem ready\r");
                fflush(stdout);
            }
            return API_ERR_NONE;
        }
        API_Sleep(1000);
    }
    return API_ERR_NONE;
}

// Caller holds gsm_mutex.
int s_SetBandLocked(unsigned band, int option)
{
    int result = s_GsmCmdMode();
    if (result != API_ERR_NONE)
        return result;
    if (band > kHighestBand)
        return API_ERR_GSM_INVALID_BAND_SETTINGS;
    char command[48];
    snprintf(command, sizeof command, "AT+WMBS=%u,%d\r", band, option);
    result = s_GsmCommand(command, 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT&W\r", 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CFUN=1\r", 10);
    if (result == API_ERR_NONE)
        result = s_WaitAfterRestart(true);
    if (result == API_ERR_NONE)
        result = s_GsmStoreDigit(API_GSM_NOR_BAND, static_cast<int>(band));
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    return result;
}

// Caller holds gsm_mutex.
int s_SetNetworkLocked(int mode)
{
    int result = s_GsmCmdMode();
    if (result != API_ERR_NONE)
        return result;
    if (mode != 0 && mode != 2)
        return API_ERR_GSM_INVALID_NETWORK_SETTINGS;
    result = s_GsmCommand(mode == 0 ? "AT+WWSM=0\r" : "AT+WWSM=2,0\r", 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CFUN=1\r", 10);
    if (result == API_ERR_NONE)
        result = s_WaitAfterRestart(false);
    if (result == API_ERR_NONE)
        result = s_GsmStoreDigit(API_GSM_NOR_NETWORK, mode);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    return result;
}

// Caller holds gsm_mutex.
int s_SetProtocolLocked(int protocol)
{
    int result = s_GsmCmdMode();
    if (result != API_ERR_NONE)
        return result;
    if (protocol != 0 && protocol != 1)
        return API_ERR_GSM_UNDEFINED_PROTOCOL;
    result = s_GsmCommand(protocol == 0 ? "AT+CGCLASS=\"CC\"\r" : "AT+CGCLASS=\"CG\"\r", 10);
    if (result != API_ERR_NONE)
        return result;
    // The modem has changed: its "CONNECT" now means what the class says,
    // whether or not the store takes the new value.
    GSMprotocol = protocol;
    result = s_GsmStoreDigit(API_GSM_NOR_PROTOCOL, protocol);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    return result;
}

// The current value is asked first, under its own hold of gsm_mutex: nothing
// is changed when it is the one wanted.
int s_ReturnToDataMode(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmDataMode();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

}  // namespace

int s_GsmFlashWrite(unsigned address, const void *data, int length)
{
    if (data == nullptr || length < 0 || length > GSM_FLASH_BUF_SIZE)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_flash_mutex);
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    memcpy(a_FlashBuf, data, static_cast<size_t>(length));
    int written = 0;
    int result = API_Flash_WriteData(address, a_FlashBuf, length, &written);
    if (result != API_ERR_NONE)
        memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    pthread_mutex_unlock(&s_flash_mutex);
    return result;
}

int s_GsmStoreDigit(unsigned address, int value)
{
    if (value < 0 || value > 9)
        return API_ERR_INVALID_PARAMETERS;
    char digit = static_cast<char>('0' + value);
    return s_GsmFlashWrite(address, &digit, 1);
}

extern "C" int API_GSM_SetBand(unsigned band, int option)
{
    int current = 0;
    int result = API_GSM_GetBand(&current);
    if (result != API_ERR_NONE)
        return result;
    if (static_cast<unsigned>(current) == band)
        return s_ReturnToDataMode();
    pthread_mutex_lock(&gsm_mutex);
    result = s_SetBandLocked(band, option);
    pthread_mutex_unlock(&gsm_mutex);
    if (result != API_ERR_NONE)
        s_ClearFlashBuf();
    return result;
}

extern "C" int API_GSM_SetNetwork(int mode)
{
    int current = 0;
    int result = API_GSM_GetNetworkSelected(&current);
    if (result != API_ERR_NONE)
        return result;
    if (current == mode)
        return s_ReturnToDataMode();
    pthread_mutex_lock(&gsm_mutex);
    result = s_SetNetworkLocked(mode);
    pthread_mutex_unlock(&gsm_mutex);
    if (result != API_ERR_NONE)
        s_ClearFlashBuf();
    return result;
}

extern "C" int API_GSM_SetProtocol(int protocol)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_SetProtocolLocked(protocol);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}
