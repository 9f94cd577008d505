// GSM circuit-switched data calls: dialling and its result, hang-up, bearer
// type, automatic pick-up, automatic dialling, redialling and the payload.
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_NOR.h"
#include "API_SYS.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"

namespace {

constexpr int kDialPasses = 30;
// "ATD", the number and "\r" fit a 1024-byte command line.
constexpr size_t kNumberMax = 1019;
constexpr unsigned kModeCount = 16;

// Bearer types by index: the text after "AT+CBST=", and the first two
// characters of the modem's "+CBST: " answer.
struct BearerType {
    const char *parameters;
    const char *answer;
};
const BearerType kBearerTypes[kModeCount] = {
    {"0,0,1\r", "0,"},  {"1,0,1\r", "1,"},  {"2,0,1\r", "2,"},  {"3,0,1\r", "3,"},
    {"4,0,1\r", "4,"},  {"5,0,1\r", "5,"},  {"6,0,1\r", "6,"},  {"7,0,1\r", "7,"},
    {"12,0,1\r", "12"}, {"14,0,1\r", "14"}, {"65,0,1\r", "65"}, {"66,0,1\r", "66"},
    {"68,0,1\r", "68"}, {"70,0,1\r", "70"}, {"71,0,1\r", "71"}, {"75,0,1\r", "75"},
};

// Set while a dial waits for its answer: only then can the answer buffer
// hold a dial result.
std::atomic<int32_t> s_DialPending{0};

bool s_Holds(const char *text) { return s_GsmFindInAnswer(text) != nullptr; }

// The call is up: the line carries its payload.  The stream is the call's
// even when the task marked it as a socket's (modem class packet).
int s_CallConnected(void)
{
    // The task marks the connection just after recording "CONNECT"; let it
    // finish first, so that its marking cannot come after this one.
    for (int wait = 0; wait < 1000 && b_CommandMode == 1 && s_Holds("CONNECT"); ++wait)
        API_Sleep(1);
    s_DialPending = 0;
    b_CommandMode = 0;
    b_PSD_ConnectionStatus = 0;
    if (b_CSD_ConnectionStatus.exchange(1) == 0) {
        if (API_GSM_ConnectionCallback callback = p_gsmcallback.load())
            callback();
    }
    return API_ERR_NONE;
}

// One look at the dial's answer; false while there is none yet.
bool s_LookForDialResult(int *result)
{
    if (s_Holds("OK") || s_Holds("CONNECT"))
        *result = s_CallConnected();
    else if (s_Holds("NO CARRIER"))
        *result = API_ERR_GSM_CSD_NO_CARRIER;
    else if (s_Holds("BUSY"))
        *result = API_ERR_GSM_CSD_NUMBER_BUSY;
    else if (s_Holds("NO ANSWER"))
        *result = API_ERR_GSM_CSD_NO_ANSWER;
    else
        return false;
    s_DialPending = 0;
    return true;
}

// Caller holds gsm_mutex.
int s_AbandonCall(void)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand("ATH\r", 10);
    if (result != API_ERR_NONE)
        return result;
    s_DialPending = 0;
    b_CSD_ConnectionStatus = 0;
    return API_ERR_GSM_CSD_DIAL_TIMEOUT;
}

// Caller holds gsm_mutex.
int s_DialResultWait(void)
{
    for (int pass = 0; pass < kDialPasses; ++pass) {
        API_Sleep(1000);
        int result = API_ERR_NONE;
        if (s_LookForDialResult(&result))
            return result;
    }
    return s_AbandonCall();
}

// Caller holds gsm_mutex.
int s_SendDial(const char *number)
{
    if (number == nullptr || strlen(number) > kNumberMax)
        return API_ERR_INVALID_PARAMETERS;
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    if (result != API_ERR_NONE)
        return result;
    char command[kNumberMax + 8];
    snprintf(command, sizeof command, "ATD%s\r", number);
    result = s_GsmSendCmd(command);
    s_DialPending = result == API_ERR_NONE ? 1 : 0;
    return result;
}

int s_Dial(const char *number, bool waitForResult)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_SendDial(number);
    if (result == API_ERR_NONE && waitForResult)
        result = s_DialResultWait();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

int s_ReadDigitSetting(unsigned address, int failure, unsigned char *byte)
{
    int read = 0;
    if (API_Flash_ReadData(address, byte, 1, &read) != API_ERR_NONE)
        return failure;
    return API_ERR_NONE;
}

// Caller holds gsm_mutex.
int s_SetAutoPickupLocked(int on)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand(on == 1 ? "ATS0=1\r" : "ATS0=5\r", 10);
    // A flag outside the one-digit field is stored as "not at the first ring".
    if (result == API_ERR_NONE)
        result = s_GsmStoreDigit(API_GSM_NOR_AUTO_PICKUP, on >= 0 && on <= 9 ? on : 0);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    return result;
}

// Caller holds gsm_mutex.
int s_GetAutoPickupLocked(int *on)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand("ATS0?\r", 10);
    if (result != API_ERR_NONE)
        return result;
    char answer[GSM_ANSWER_SIZE];
    if (s_GsmCopyAnswer(answer, sizeof answer) < 3)
        return API_ERR_GSM_OTHER;
    *on = s_Holds("001") ? 1 : 0;
    return s_GsmDataMode();
}

// Caller holds gsm_mutex.
int s_GetModeLocked(int *index)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CBST?\r", 10);
    if (result != API_ERR_NONE)
        return result;
    const char *at = s_GsmFindInAnswer("+CBST: ");
    if (at != nullptr) {
        int first = s_GsmAnswerByte(at, 7), second = s_GsmAnswerByte(at, 8);
        unsigned match = kModeCount;
        for (unsigned i = 0; i < kModeCount && match == kModeCount; ++i) {
            const BearerType &type = kBearerTypes[i];
            if (first == static_cast<unsigned char>(type.answer[0]) &&
                second == static_cast<unsigned char>(type.answer[1]))
                match = i;
        }
        if (match == kModeCount)
            return API_ERR_GSM_OTHER;
        *index = static_cast<int>(match);
    }
    return s_GsmDataMode();
}

// Caller holds gsm_mutex.
int s_ReDialLocked(int count)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    if (result != API_ERR_NONE)
        return result;
    for (int attempt = 0; attempt < count; ++attempt) {
        result = s_GsmSendCmd("ATDL\r");
        if (result != API_ERR_NONE)
            break;
        result = s_DialResultWait();
        if (result == API_ERR_NONE)
            break;
    }
    return result;
}

}  // namespace

int s_GsmCsdEnsureDataMode(void)
{
    if (b_CommandMode == 0)
        return API_ERR_NONE;
    pthread_mutex_lock(&gsm_mutex);
    int result = b_CSD_ConnectionStatus == 1 ? s_GsmCsdDataMode() : API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT;
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_Dial(const char *number) { return s_Dial(number, true); }

extern "C" int API_GSM_CSD_DialWithoutCheckResult(const char *number) { return s_Dial(number, false); }

extern "C" int API_GSM_CSD_CheckDialResult(int give_up)
{
    // Without a dial on its way, whatever the buffer holds is no dial's answer.
    if (s_DialPending == 0)
        return API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT;
    int result = API_ERR_NONE;
    if (s_LookForDialResult(&result))
        return result;
    if (give_up == 0)
        return API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT;
    pthread_mutex_lock(&gsm_mutex);
    result = s_AbandonCall();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_HangUp(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand("ATH\r", 10);
    if (result == API_ERR_NONE) {
        s_DialPending = 0;
        b_CSD_ConnectionStatus = 0;
        s_GsmEndStream();
    }
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_SetMode(unsigned index)
{
    if (index >= kModeCount)
        return API_ERR_GSM_CSD_INVALID_CSD_MODE;
    char command[32];
    snprintf(command, sizeof command, "AT+CBST=%s", kBearerTypes[index].parameters);
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand(command, 10);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_GetMode(int *index)
{
    if (index == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GetModeLocked(index);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_SetAutoPickup(int on)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_SetAutoPickupLocked(on);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_GetAutoPickup(int *on)
{
    if (on == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GetAutoPickupLocked(on);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_SetAutoDial(int on)
{
    // Any value but 0 dials, and reads back as on.
    int stored = on == 0 ? 0 : (on >= 1 && on <= 9 ? on : 1);
    int result = s_GsmStoreDigit(API_GSM_NOR_AUTO_DIAL, stored);
    if (result != API_ERR_NONE)
        return result;
    pthread_mutex_lock(&gsm_mutex);
    if (on != 0) {
        result = s_SendDial(">SM1");
        if (result == API_ERR_NONE)
            result = s_DialResultWait();
    }
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_GetAutoDial(int *on)
{
    if (on == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char byte = 0;
    int result = s_ReadDigitSetting(API_GSM_NOR_AUTO_DIAL, API_ERR_GSM_PSD_GET_AUTODIAL_STATUS, &byte);
    if (result == API_ERR_NONE)
        *on = byte == '0' ? 0 : 1;
    return result;
}

extern "C" int API_GSM_CSD_SetReDial(int count)
{
    // The count is kept in a one-digit field: the store refuses any other.
    int result = s_GsmStoreDigit(API_GSM_NOR_REDIAL, count);
    if (result != API_ERR_NONE)
        return result;
    pthread_mutex_lock(&gsm_mutex);
    result = s_ReDialLocked(count);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_CSD_GetReDial(int *count)
{
    if (count == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char byte = 0;
    int result = s_ReadDigitSetting(API_GSM_NOR_REDIAL, API_ERR_GSM_PSD_GET_NUMBER_REDIAL, &byte);
    if (result == API_ERR_NONE)
        *count = byte >= '0' && byte <= '9' ? byte - '0' : 0;
    return result;
}

extern "C" int API_GSM_CSD_WriteData(const void *data, int length, int *written)
{
    if (written != nullptr)
        *written = 0;
    if (data == nullptr || written == nullptr || length < 0)
        return API_ERR_INVALID_PARAMETERS;
    if (b_CSD_ConnectionStatus != 1)
        return API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT;
    // Payload now would break the silence the escape needs.
    if (b_switchToCommandModeRequested == 1)
        return API_ERR_GSM_INVALID_MODE;
    if (length == 0)
        return API_ERR_NONE;
    int result = s_GsmCsdEnsureDataMode();
    if (result != API_ERR_NONE)
        return result;
    int count = s_GsmUartWrite(data, length);
    *written = count > 0 ? count : 0;
    return count < length ? API_ERR_GSM_WRITE : API_ERR_NONE;
}

extern "C" int API_GSM_CSD_ReadData(char *destination, int wanted, int *received)
{
    if (received != nullptr)
        *received = 0;
    if (destination == nullptr || received == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (wanted < 0)
        return API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER;
    if (b_CSD_ConnectionStatus != 1)
        return API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT;
    int result = s_GsmCsdEnsureDataMode();
    if (result != API_ERR_NONE)
        return result;
    return s_GsmRead(destination, wanted, received);
}
