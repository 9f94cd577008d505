// GSM packet data: the modem's IP stack and GPRS bearer, socket 1 with its
// payload, and the stored access point name, login and password.
#include <pthread.h>
#include <semaphore.h>
#include <stdio.h>
#include <string.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_NOR.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"

std::atomic<int32_t> b_PSD_GotVersion{0};

namespace {

// The longest host name or address a socket is opened towards.
constexpr size_t kPeerMax = 255;

// Written by the bearer start, read by API_GSM_PSD_GetVersion without
// gsm_mutex.
char WIP_version[API_GSM_WIP_VERSION_SIZE];
pthread_mutex_t s_version_mutex = PTHREAD_MUTEX_INITIALIZER;

struct PsdParameter {
    unsigned address;
    int fieldLength;
    size_t longest;
    const char *marker;  // stored while the parameter is not set
    int invalid;
    int setFailed;
    int getFailed;
    int notDefined;
};

const PsdParameter kApn = {API_GSM_NOR_APN,
                           247,
                           API_GSM_PSD_APN_MAX,
                           "UNDEFINED_APN",
                           API_ERR_GSM_PSD_INVALID_ACCESS_POINT_NAME,
                           API_ERR_GSM_PSD_SET_APN,
                           API_ERR_GSM_PSD_GET_APN_NAME,
                           API_ERR_GSM_PSD_APN_NOT_DEFINED};
const PsdParameter kLogin = {API_GSM_NOR_LOGIN,
                             64,
                             API_GSM_PSD_LOGIN_MAX,
                             "UNDEFINED_LOGIN",
                             API_ERR_GSM_PSD_INVALID_LOGIN_NAME,
                             API_ERR_GSM_PSD_SET_LOGIN,
                             API_ERR_GSM_PSD_GET_USER_LOGIN,
                             API_ERR_GSM_PSD_LOGIN_NAME_NOT_YET_DEFINED};
const PsdParameter kPassword = {API_GSM_NOR_PASSWORD,
                                64,
                                API_GSM_PSD_PASSWORD_MAX,
                                "UNDEFINED_PASSWORD",
                                API_ERR_GSM_PSD_INVALID_PASSWORD,
                                API_ERR_GSM_PSD_SET_PASSWORD,
                                API_ERR_GSM_PSD_GET_LOGIN_PASSWORD,
                                API_ERR_GSM_PSD_PASSWORD_NOT_YET_DEFINED};

// ---- Stored parameters -------------------------------------------------------

// The characters the NOR store's text check accepts.
bool s_StorableText(const char *text)
{
    for (const unsigned char *c = reinterpret_cast<const unsigned char *>(text); *c != 0; ++c) {
        bool letter = (*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z');
        bool digit = *c >= '0' && *c <= '9';
        if (!letter && !digit && strchr(" -.@_", *c) == nullptr)
            return false;
    }
    return true;
}

bool s_IsMarker(const PsdParameter &parameter, const char *field)
{
    return strncmp(field, parameter.marker, strlen(parameter.marker)) == 0;
}

int s_SetParameter(const PsdParameter &parameter, const char *text)
{
    if (text == nullptr || strlen(text) > parameter.longest || !s_StorableText(text))
        return parameter.invalid;
    char field[GSM_FLASH_BUF_SIZE] = {0};
    memcpy(field, text, strlen(text));
    if (s_GsmFlashWrite(parameter.address, field, parameter.fieldLength) != API_ERR_NONE)
        return parameter.setFailed;
    return API_ERR_NONE;
}

int s_GetParameter(const PsdParameter &parameter, char *destination, int *length)
{
    if (length == nullptr || *length < 0)
        return API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH;
    char field[GSM_FLASH_BUF_SIZE + 1] = {0};
    int transferred = 0;
    if (API_Flash_ReadData(parameter.address, field, parameter.fieldLength, &transferred) != API_ERR_NONE)
        return parameter.getFailed;
    int result = API_ERR_NONE;
    if (API_NOR_Check_Blank_Param(field, parameter.fieldLength) != API_ERR_NONE ||
        API_NOR_Check_String_Param(field, parameter.fieldLength) != API_ERR_NONE) {
        // Never written, or damaged: mark it unset.
        int size = static_cast<int>(strlen(parameter.marker)) + 1;
        memset(field, 0, sizeof field);
        memcpy(field, parameter.marker, static_cast<size_t>(size));
        if (s_GsmFlashWrite(parameter.address, field, size) != API_ERR_NONE)
            return parameter.getFailed;
        transferred = size;
        result = parameter.notDefined;
    }
    if (destination == nullptr) {
        if (result == API_ERR_NONE && s_IsMarker(parameter, field))
            return API_ERR_NONE;
        *length = transferred;
        return result;
    }
    if (s_IsMarker(parameter, field))
        return parameter.notDefined;
    size_t text = strlen(field);
    if (*length <= parameter.fieldLength) {
        // Cut to the caller's buffer, and always terminated.
        if (*length == 0)
            return result;
        if (text > static_cast<size_t>(*length) - 1)
            text = static_cast<size_t>(*length) - 1;
    }
    memcpy(destination, field, text);
    destination[text] = '\0';
    return result;
}

// ---- Bearer ------------------------------------------------------------------

// A WIP step with its own code for a failed send; the answer's failure is
// refined into the WIP error.
int s_WipStep(const char *command, int sendFailure, int seconds)
{
    if (s_GsmSendCmd(command) != API_ERR_NONE)
        return sendFailure;
    return s_GsmCheckErrorInfo(s_GsmVerifyAnswer("OK", seconds));
}

int s_SendParameter(const PsdParameter &parameter, const char *format, int sendFailure)
{
    int count = 0;
    char value[GSM_FLASH_BUF_SIZE] = {0};
    int result = s_GetParameter(parameter, nullptr, &count);
    if (result == API_ERR_NONE)
        result = s_GetParameter(parameter, value, &count);
    if (result != API_ERR_NONE)
        return result;
    char command[GSM_FLASH_BUF_SIZE + 32];
    snprintf(command, sizeof command, format, value);
    return s_WipStep(command, sendFailure, 10);
}

// The answer to "AT+WIPCFG=3" names the stack's version.
void s_CaptureVersion(void)
{
    char version[API_GSM_WIP_VERSION_SIZE] = {0};
    const char *at = s_GsmFindInAnswer("WIP Soft ");
    if (at != nullptr) {
        for (int i = 0; i < API_GSM_WIP_VERSION_SIZE - 1; ++i) {
            int byte = s_GsmAnswerByte(at, i);
            if (byte <= 0 || byte == '\r')
                break;
            version[i] = static_cast<char>(byte);
        }
    } else {
        snprintf(version, sizeof version, "%s", "WIP Soft unknown");
    }
    pthread_mutex_lock(&s_version_mutex);
    memcpy(WIP_version, version, sizeof WIP_version);
    b_PSD_GotVersion = at != nullptr ? 1 : 0;
    pthread_mutex_unlock(&s_version_mutex);
}

// Caller holds gsm_mutex, in command mode.
int s_StartBearer(void)
{
    if (b_PSD_BearerConnected == 1)
        return API_ERR_NONE;
    int result = s_GsmCommand("AT+CMEE=1\r", 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+WOPEN?\r", 10);
    if (result == API_ERR_NONE && s_GsmFindInAnswer("+WOPEN: 0") != nullptr)
        result = s_GsmCommand("AT+WOPEN=1\r", 10);
    if (result == API_ERR_NONE && b_PSD_GotVersion == 0) {
        result = s_GsmWipCommand("AT+WIPCFG=3\r", 10);
        if (result == API_ERR_NONE)
            s_CaptureVersion();
    }
    if (result != API_ERR_NONE)
        return result;

    struct Step {
        const char *command;
        int sendFailure;
    };
    static const Step kStackSteps[] = {
        {"AT+WIPCFG=1\r", API_ERR_WIP_SEND_CMD_START_IP_STACK},
        {"AT+WIPCFG=2,3,1\r", API_ERR_WIP_SEND_CMD_CONFIGURE_IP_STACK},
        {"AT+WIPCFG=2,12,1\r", API_ERR_WIP_SEND_CMD_CONFIGURE_IP_STACK},
        {"AT+WIPBR=1,6\r", API_ERR_WIP_SEND_CMD_OPEN_GPRS_BEARER},
    };
    for (const Step &step : kStackSteps) {
        result = s_WipStep(step.command, step.sendFailure, 10);
        if (result != API_ERR_NONE)
            return result;
    }
    result = s_SendParameter(kApn, "AT+WIPBR=2,6,11,\"%s\"\r", API_ERR_WIP_SEND_APN);
    if (result == API_ERR_NONE)
        result = s_SendParameter(kLogin, "AT+WIPBR=2,6,0,\"%s\"\r", API_ERR_WIP_SEND_GPRS_LOGIN);
    if (result == API_ERR_NONE)
        result = s_SendParameter(kPassword, "AT+WIPBR=2,6,1,\"%s\"\r", API_ERR_WIP_SEND_GPRS_PASSWORD);
    if (result == API_ERR_NONE)
        result = s_WipStep("AT+WIPBR=4,6,0\r", API_ERR_WIP_SEND_START_GPRS_BEARER, 20);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CMEE=0\r", 10);
    if (result == API_ERR_NONE)
        b_PSD_BearerConnected = 1;
    return result;
}

// A half-made start would make the next one fail on the stack already
// running, so the stack is stopped again.  Its answer is awaited, so that it
// cannot pass for the answer to a later command.
int s_StartBearerOrStop(void)
{
    int result = s_StartBearer();
    if (result != API_ERR_NONE)
        s_GsmCommand("AT+WIPCFG=0\r", 10);
    return result;
}

bool s_ConnectionUp(void) { return b_PSD_ConnectionStatus == 1 || b_CSD_ConnectionStatus == 1; }

// ---- Socket ------------------------------------------------------------------

int s_CreateSocket(unsigned protocol, const char *peer, int port, bool byName)
{
    char command[kPeerMax + 64];
    if (protocol == API_GSM_PSD_TCP)
        snprintf(command, sizeof command, "AT+WIPCREATE=2,%d,\"%s\",%d\r", 1, peer, port);
    else if (byName)
        snprintf(command, sizeof command, "AT+WIPCREATE=1,%d,\"%s\",%d\r", 1, peer, port);
    else
        snprintf(command, sizeof command, "AT+WIPCREATE=1,%d,80,\"%s\",%d\r", 1, peer, port);
    int result = s_GsmWipCommand(command, 10);
    if (result == API_ERR_NONE)
        result = s_GsmCheckErrorInfo(s_GsmVerifyAnswer("+WIPREADY: ", 20));
    return result;
}

// Caller holds gsm_mutex.
int s_OpenSocketLocked(unsigned protocol, const char *peer, int port, bool byName)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    if (result == API_ERR_NONE && s_ConnectionUp()) {
        // The connection that is up stays as it was.
        s_GsmDataMode();
        return API_ERR_GSM_CONNEXION_ALREADY_EXISTS;
    }
    int invalidPeer = byName ? API_ERR_GSM_PSD_INVALID_HOST_NAME : API_ERR_GSM_PSD_INVALID_IP_ADDRESS;
    if (result == API_ERR_NONE && (peer == nullptr || strlen(peer) > kPeerMax))
        result = invalidPeer;
    if (result == API_ERR_NONE && protocol > API_GSM_PSD_UDP)
        result = API_ERR_GSM_PSD_INVALID_PROTOCOL;
    if (result == API_ERR_NONE) {
        PSDprotocol = static_cast<int32_t>(protocol);
        result = s_StartBearerOrStop();
    }
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CMEE=1\r", 10);
    if (result == API_ERR_NONE)
        result = s_CreateSocket(protocol, peer, port, byName);
    if (result == API_ERR_NONE && byName)
        result = s_GsmCommand("AT+CMEE=0\r", 10);
    if (result == API_ERR_NONE) {
        // Open whichever way it was opened, so that it can be closed.
        WipSocket[0].state = 0;
        result = s_GsmPsdDataMode();
    }
    if (result == API_ERR_NONE) {
        // The stream that started is the socket's.  The ring was emptied
        // when "CONNECT" came; the peer's first bytes may be in it already.
        b_PSD_ConnectionStatus = 1;
        b_CSD_ConnectionStatus = 0;
        return API_ERR_NONE;
    }
    if (s_GsmSendCmd(PSDprotocol == 1 ? "AT+WIPCLOSE=1,1\r" : "AT+WIPCLOSE=2,1\r") == API_ERR_NONE)
        s_GsmVerifyAnswer("OK", 10);
    return result;
}

int s_OpenSocket(unsigned protocol, const char *peer, int port, bool byName)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_OpenSocketLocked(protocol, peer, port, byName);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

int s_CloseSocketLocked(void)
{
    bool noSocket = WipSocket[0].state == 1 || (b_CommandMode == 1 && b_PSD_ConnectionStatus == 0);
    if (noSocket) {
        printf("No GSM PSD Connection to close\n");
        fflush(stdout);
        return API_ERR_NONE;
    }
    int result = s_GsmCmdMode();
    if (result != API_ERR_NONE)
        return result;
    bCloseSocketRequested = 1;
    result = s_GsmWipCommand(PSDprotocol != 0 ? "AT+WIPCLOSE=1,1\r" : "AT+WIPCLOSE=2,1\r", 10);
    if (result != API_ERR_NONE)
        return result;
    b_PSD_ConnectionStatus = 0;
    WipSocket[0].state = 1;
    result = s_GsmCommand("AT+CMEE=0\r", 10);
    s_GsmEndStream();
    return result;
}

}  // namespace

// ---- Helpers of the GSM services -------------------------------------------------

int s_GsmCommand(const char *command, int seconds)
{
    int result = s_GsmSendCmd(command);
    if (result != API_ERR_NONE)
        return result;
    return s_GsmVerifyAnswer("OK", seconds);
}

int s_GsmWipCommand(const char *command, int seconds)
{
    int result = s_GsmSendCmd(command);
    if (result != API_ERR_NONE)
        return result;
    return s_GsmCheckErrorInfo(s_GsmVerifyAnswer("OK", seconds));
}

void s_GsmEndStream(void)
{
    b_ExitDataMode = 1;
    // Taking the ring's lock (inside) also waits out a reader that is just
    // deciding to sleep, so the wake-up below cannot be missed.
    s_GsmResetRing();
    if (b_PSD_WaitForData.exchange(0) == 1)
        sem_post(&sem_gsm_id);
}

int s_GsmPsdEnsureDataMode(void)
{
    if (b_CommandMode == 0)
        return API_ERR_NONE;
    pthread_mutex_lock(&gsm_mutex);
    int result = b_PSD_ConnectionStatus == 1 ? s_GsmPsdDataMode() : API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT;
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

// ---- Public operations ---------------------------------------------------------

extern "C" int API_GSM_PSD_ConnectBearer(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmCmdMode() == API_ERR_NONE ? API_ERR_NONE : API_ERR_GSM_SWITH_COMMAND_MODE;
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    if (result == API_ERR_NONE && s_ConnectionUp()) {
        s_GsmDataMode();
        result = API_ERR_GSM_CONNEXION_ALREADY_EXISTS;
    } else if (result == API_ERR_NONE) {
        result = s_StartBearerOrStop();
    }
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_PSD_DisconnectBearer(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = API_ERR_NONE;
    if (b_PSD_BearerConnected == 1) {
        result = s_GsmCmdMode();
        if (result == API_ERR_NONE)
            result = s_GsmCommand("AT+CMEE=1\r", 10);
        if (result == API_ERR_NONE)
            result = s_GsmWipCommand("AT+WIPBR=5,6\r", 20);
        if (result == API_ERR_NONE)
            result = s_GsmWipCommand("AT+WIPBR=0,6\r", 20);
        if (result == API_ERR_NONE)
            result = s_GsmWipCommand("AT+WIPCFG=0\r", 10);
        if (result == API_ERR_NONE) {
            b_PSD_BearerConnected = 0;
            b_PSD_ConnectionStatus = 0;
            result = s_GsmCommand("AT+CMEE=0\r", 10);
        }
    }
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_PSD_OpenSocketByIP(unsigned protocol, const char *address, int port)
{
    return s_OpenSocket(protocol, address, port, false);
}

extern "C" int API_GSM_PSD_OpenSocketByName(unsigned protocol, const char *host, int port)
{
    return s_OpenSocket(protocol, host, port, true);
}

extern "C" int API_GSM_PSD_CloseSocket(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_CloseSocketLocked();
    pthread_mutex_unlock(&gsm_mutex);
    bCloseSocketRequested = 0;
    return result;
}

extern "C" int API_GSM_PSD_WriteData(const void *data, int length, int *written)
{
    if (written != nullptr)
        *written = 0;
    if (data == nullptr || written == nullptr || length < 0)
        return API_ERR_INVALID_PARAMETERS;
    if (b_switchToCommandModeRequested == 1 || bCloseSocketRequested == 1)
        return API_ERR_GSM_INVALID_MODE;
    if (b_PSD_ConnectionStatus != 1)
        return API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT;
    if (length == 0)
        return API_ERR_NONE;
    int result = s_GsmPsdEnsureDataMode();
    if (result != API_ERR_NONE)
        return result;
    int count = s_GsmUartWrite(data, length);
    *written = count > 0 ? count : 0;
    return count < length ? API_ERR_GSM_WRITE : API_ERR_NONE;
}

extern "C" int API_GSM_PSD_ReadData(char *destination, int wanted, int *received)
{
    if (received != nullptr)
        *received = 0;
    if (destination == nullptr || received == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (wanted < 0)
        return API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER;
    if (b_PSD_ConnectionStatus != 1)
        return API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT;
    int result = s_GsmPsdEnsureDataMode();
    if (result != API_ERR_NONE)
        return result;
    return s_GsmRead(destination, wanted, received);
}

extern "C" int API_GSM_PSD_GetIPConfig(int option)
{
    (void)option;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CMEE=1\r", 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+WIPCFG?\r", 10);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CMEE=0\r", 10);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_PSD_SetIPConfig(void)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmWaitForReady();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_PSD_SetAPN(const char *apn) { return s_SetParameter(kApn, apn); }
extern "C" int API_GSM_PSD_SetLogin(const char *login) { return s_SetParameter(kLogin, login); }
extern "C" int API_GSM_PSD_SetPassword(const char *password) { return s_SetParameter(kPassword, password); }

extern "C" int API_GSM_PSD_GetAPN(char *destination, int *length) { return s_GetParameter(kApn, destination, length); }

extern "C" int API_GSM_PSD_GetLogin(char *destination, int *length)
{
    return s_GetParameter(kLogin, destination, length);
}

extern "C" int API_GSM_PSD_GetPassword(char *destination, int *length)
{
    return s_GetParameter(kPassword, destination, length);
}

extern "C" int API_GSM_PSD_GetVersion(char *destination, int *length)
{
    if (length == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_version_mutex);
    int result = API_ERR_NONE;
    if (b_PSD_GotVersion == 1) {
        *length = static_cast<int>(strlen(WIP_version)) + 1;
        if (destination != nullptr)
            memcpy(destination, WIP_version, static_cast<size_t>(*length));
    } else {
        memset(WIP_version, 0, sizeof WIP_version);
        *length = 0;
        result = API_ERR_REQUIRED_VERSION_NOT_AVAILABLE;
    }
    pthread_mutex_unlock(&s_version_mutex);
    return result;
}
