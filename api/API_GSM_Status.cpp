// GSM status queries: indicators and states, signal, operator, network mode,
// band, modem class, IMEI, firmware version and module name.
#include <pthread.h>
#include <string.h>

#include "API_Errors.h"
#include "API_GSM.h"
#include "API_SYS.h"
#include "internal/API_GSM.h"
#include "internal/API_GSM_Services.h"

namespace {

// An unregistered modem is asked again for about this many seconds.
constexpr int kOperatorQueries = 10;

// The texts of the last queries, handed out by the second call of the
// two-call getters; they are copied under this lock only.
pthread_mutex_t s_cache_mutex = PTHREAD_MUTEX_INITIALIZER;
char IMEI_number[API_GSM_IMEI_SIZE];
char a_Version[API_GSM_VERSION_SIZE];
char a_Module[API_GSM_MODULE_SIZE];

// One digit of the answer line starting with `prefix`, checked against its
// range; `outOfRange` when it is above `highest`.
int s_Field(const char *prefix, int offset, unsigned highest, int outOfRange, int *field)
{
    unsigned value = 0;
    int result = s_GsmAnswerDigit(prefix, offset, &value);
    if (result != API_ERR_NONE)
        return result;
    if (value > highest)
        return outOfRange;
    *field = static_cast<int>(value);
    return API_ERR_NONE;
}

// Caller holds gsm_mutex.  The frame of most queries: command mode, the
// query, "OK"; the answer is then parsed by the caller.
int s_Query(const char *command)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmCommand(command, 10);
    return result;
}

// A one-digit answer: 107 without its prefix.
int s_QueryDigit(const char *command, const char *prefix, int offset, unsigned highest, int outOfRange, int *value)
{
    pthread_mutex_lock(&gsm_mutex);
    int result = s_Query(command);
    if (result == API_ERR_NONE && s_GsmFindInAnswer(prefix) == nullptr)
        result = API_ERR_GSM_OTHER;
    if (result == API_ERR_NONE)
        result = s_Field(prefix, offset, highest, outOfRange, value);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

// Caller holds gsm_mutex.
int s_IndicatorsInto(GsmStatus *status)
{
    struct Indicator {
        int offset;
        unsigned highest;
        int outOfRange;
        int GsmStatus::*field;
    };
    static const Indicator kIndicators[] = {
        {7, 5, API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS, &GsmStatus::battery_charge},
        {9, 5, API_ERR_GSM_INVALID_SIGNAL_STATUS, &GsmStatus::signal},
        {11, 1, API_ERR_GSM_INVALID_SERVICE_STATUS, &GsmStatus::service},
        {13, 1, API_ERR_GSM_INVALID_MESSAGE_STATUS, &GsmStatus::message},
        {15, 1, API_ERR_GSM_INVALID_CALL_STATUS, &GsmStatus::call},
        {17, 1, API_ERR_GSM_INVALID_ROAM_STATUS, &GsmStatus::roam},
        {19, 2, API_ERR_GSM_INVALID_SMS_FULL_STATUS, &GsmStatus::sms_full},
    };
    if (s_GsmFindInAnswer("+CIND: ") == nullptr)
        return API_ERR_NONE;
    for (const Indicator &indicator : kIndicators) {
        int result = s_Field("+CIND: ", indicator.offset, indicator.highest, indicator.outOfRange,
                             &(status->*indicator.field));
        if (result != API_ERR_NONE)
            return result;
    }
    return API_ERR_NONE;
}

// Caller holds gsm_mutex.
int s_StatusLocked(GsmStatus *status)
{
    int result = s_Query("AT+CIND?\r");
    if (result == API_ERR_NONE)
        result = s_IndicatorsInto(status);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+CPAS\r", 10);
    if (result == API_ERR_NONE && s_GsmFindInAnswer("+CPAS: ") != nullptr)
        result = s_Field("+CPAS: ", 7, 5, API_ERR_GSM_INVALID_PHONE_ACTIVITY_STATUS, &status->phone_activity);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+WSTR=1\r", 10);
    if (result == API_ERR_NONE && s_GsmFindInAnswer("+WSTR: ") != nullptr)
        result = s_Field("+WSTR: ", 9, 2, API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS, &status->init_sequence);
    if (result == API_ERR_NONE)
        result = s_GsmCommand("AT+WSTR=2\r", 10);
    if (result == API_ERR_NONE && s_GsmFindInAnswer("+WSTR: ") == nullptr)
        result = API_ERR_GSM_OTHER;
    if (result == API_ERR_NONE)
        result = s_Field("+WSTR: ", 9, 1, API_ERR_GSM_INVALID_NETWORK_STATUS, &status->network);
    if (result == API_ERR_NONE)
        result = s_GsmDataMode();
    return result;
}

// Caller holds gsm_mutex.  The received-signal code: up to two characters
// before the first comma, non-digits skipped.
int s_SignalLocked(int *quality)
{
    int result = s_Query("AT+CSQ\r");
    if (result != API_ERR_NONE)
        return result;
    const char *at = s_GsmFindInAnswer("+CSQ: ");
    if (at == nullptr)
        return API_ERR_GSM_OTHER;
    int value = 0;
    for (int offset = 6, count = 0;; ++offset) {
        int byte = s_GsmAnswerByte(at, offset);
        if (byte < 0)
            return API_ERR_GSM_OTHER;
        if (byte == ',')
            break;
        if (++count > 2)
            return API_ERR_GSM_OTHER;
        if (byte >= '0' && byte <= '9')
            value = value * 10 + (byte - '0');
    }
    *quality = value;
    return s_GsmDataMode();
}

// The "+COPS: " line after its prefix, up to its "\r"; false without one.
bool s_OperatorLine(char *line, size_t size, bool *complete)
{
    const char *at = s_GsmFindInAnswer("+COPS: ");
    if (at == nullptr)
        return false;
    size_t length = 0;
    *complete = false;
    for (int offset = 7; length + 1 < size; ++offset) {
        int byte = s_GsmAnswerByte(at, offset);
        if (byte < 0)
            break;
        if (byte == '\r') {
            *complete = true;
            break;
        }
        line[length++] = static_cast<char>(byte);
    }
    line[length] = '\0';
    return true;
}

// Caller holds gsm_mutex.  Registered: "+COPS: <mode>,<format>,"<name>"[,<technology>]".
int s_OperatorLocked(int *technology, char *name)
{
    int result = s_GsmCmdMode();
    for (int query = 0; result == API_ERR_NONE && query < kOperatorQueries; ++query) {
        result = s_GsmCommand("AT+COPS?\r", 10);
        if (result != API_ERR_NONE)
            return result;
        char line[GSM_ANSWER_SIZE];
        bool complete = false;
        if (!s_OperatorLine(line, sizeof line, &complete))
            return API_ERR_GSM_OTHER;
        const char *format = strchr(line, ',');
        if (format == nullptr) {
            // Not registered (yet): ask again a little later.
            API_Sleep(1000);
            continue;
        }
        if (format[1] == '1' || format[1] == '2') {
            // Short or numeric names: ask for long ones.
            result = s_GsmCommand("AT+COPS=3,0\r", 10);
            continue;
        }
        const char *second = strchr(format + 1, ',');
        if (second == nullptr)
            return API_ERR_GSM_INVALID_NETWORK_SETTINGS;
        const char *text = second + 1;
        const char *third = strchr(text, ',');
        unsigned access = 0;
        size_t length = strlen(text);
        if (third != nullptr) {
            result = s_CharToInt(third[1], &access);
            if (result != API_ERR_NONE)
                return result;
            if (access > 2)
                return API_ERR_GSM_INVALID_NETWORK_SETTINGS;
            length = static_cast<size_t>(third - text);
        }
        *technology = static_cast<int>(access);
        if (name != nullptr && (third != nullptr || complete)) {
            if (length > API_GSM_OPERATOR_NAME_SIZE - 1)
                length = API_GSM_OPERATOR_NAME_SIZE - 1;
            memcpy(name, text, length);
            name[length] = '\0';
        }
        return s_GsmDataMode();
    }
    return result != API_ERR_NONE ? result : API_ERR_GSM_OTHER;
}

// Caller holds gsm_mutex.
int s_ProtocolLocked(int *protocol)
{
    int result = s_Query("AT+CGCLASS?\r");
    if (result != API_ERR_NONE)
        return result;
    if (s_GsmFindInAnswer("+CGCLASS: ") == nullptr)
        return API_ERR_GSM_OTHER;
    if (s_GsmFindInAnswer("+CGCLASS: \"CC\"") != nullptr)
        *protocol = 0;
    else if (s_GsmFindInAnswer("+CGCLASS: \"CG\"") != nullptr)
        *protocol = 1;
    else
        return API_ERR_GSM_UNDEFINED_PROTOCOL;
    return s_GsmDataMode();
}

// Caller holds gsm_mutex.
int s_ImeiLocked(void)
{
    int result = s_Query("AT+WIMEI?\r");
    if (result != API_ERR_NONE)
        return result;
    char imei[API_GSM_IMEI_SIZE] = {0};
    if (const char *at = s_GsmFindInAnswer("+WIMEI: ")) {
        for (int i = 0; i < API_GSM_IMEI_SIZE - 1; ++i) {
            int byte = s_GsmAnswerByte(at, 8 + i);
            if (byte <= 0 || byte == '\r')
                break;
            imei[i] = static_cast<char>(byte);
        }
    }
    pthread_mutex_lock(&s_cache_mutex);
    memcpy(IMEI_number, imei, sizeof IMEI_number);
    pthread_mutex_unlock(&s_cache_mutex);
    return s_GsmDataMode();
}

// Caller holds gsm_mutex.  The answer starts with the version's four
// characters (after the echo of the command when the modem echoes); the
// module's name begins "Q26".
int s_VersionLocked(void)
{
    int result = s_Query("AT+CGMR\r");
    if (result != API_ERR_NONE)
        return result;
    int start = s_GsmFindInAnswer("AT+CGMR") != nullptr ? 10 : 2;
    int digits[4];
    for (int i = 0; i < 4; ++i) {
        digits[i] = s_GsmAnswerByte(Buffer_Cmd, start + i);
        if (digits[i] <= 0)
            return API_ERR_GSM_OTHER;
    }
    char version[API_GSM_VERSION_SIZE] = {static_cast<char>(digits[0]), '.',
                                          static_cast<char>(digits[1]), static_cast<char>(digits[2]),
                                          static_cast<char>(digits[3]), '\0'};
    char module[API_GSM_MODULE_SIZE] = "Q2687H";
    if (const char *at = s_GsmFindInAnswer("Q26")) {
        memset(module, 0, sizeof module);
        for (int i = 0; i < API_GSM_MODULE_SIZE - 1; ++i) {
            int byte = s_GsmAnswerByte(at, i);
            if (byte <= 0 || byte == ' ' || byte == '\r' || byte == '\n')
                break;
            module[i] = static_cast<char>(byte);
        }
    }
    pthread_mutex_lock(&s_cache_mutex);
    memcpy(a_Version, version, sizeof a_Version);
    memcpy(a_Module, module, sizeof a_Module);
    pthread_mutex_unlock(&s_cache_mutex);
    return s_GsmDataMode();
}

int s_Size(const char *text) { return static_cast<int>(strlen(text)) + 1; }

}  // namespace

int s_GsmAnswerDigit(const char *prefix, int offset, unsigned *value)
{
    int byte = s_GsmAnswerByte(s_GsmFindInAnswer(prefix), offset);
    if (byte < 0)
        return API_ERR_CHAR_NOT_DIGIT;
    return s_CharToInt(static_cast<char>(byte), value);
}

extern "C" int API_GSM_GetStatus(GsmStatus *status)
{
    if (status == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    // An incoming call rings: the modem is busy with it until it connects.
    if (bCheckStatus != 1)
        return API_ERR_GSM_CSD_NUMBER_BUSY;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_StatusLocked(status);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_GetSignalStrength(int *quality)
{
    if (quality == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_SignalLocked(quality);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_GetLevel(float *percent)
{
    if (percent == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (b_GSM_Power_ON == 0 || b_GSM_API_Initialized == 0) {
        *percent = 0.0f;
        return API_ERR_NONE;
    }
    int signal = 0;
    int result = s_QueryDigit("AT+CIND?\r", "+CIND: ", 9, 5, API_ERR_GSM_INVALID_SIGNAL_STATUS, &signal);
    if (result == API_ERR_NONE)
        *percent = static_cast<float>(signal) * 20.0f;
    return result;
}

extern "C" int API_GSM_GetNetworkReceived(int *technology, char *operator_name)
{
    if (technology == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (operator_name != nullptr)
        operator_name[0] = '\0';
    pthread_mutex_lock(&gsm_mutex);
    int result = s_OperatorLocked(technology, operator_name);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_GetNetworkSelected(int *mode)
{
    if (mode == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    return s_QueryDigit("AT+WWSM?\r", "+WWSM: ", 7, 2, API_ERR_GSM_INVALID_NETWORK_SETTINGS, mode);
}

extern "C" int API_GSM_GetBand(int *band)
{
    if (band == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    return s_QueryDigit("AT+WMBS?\r", "+WMBS: ", 7, 7, API_ERR_GSM_INVALID_BAND_SETTINGS, band);
}

extern "C" int API_GSM_GetProtocol(int *protocol)
{
    if (protocol == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_ProtocolLocked(protocol);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_GetIMEI(char *destination, int *length)
{
    if (length == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (destination == nullptr) {
        pthread_mutex_lock(&gsm_mutex);
        int result = s_ImeiLocked();
        pthread_mutex_unlock(&gsm_mutex);
        if (result != API_ERR_NONE)
            return result;
    }
    pthread_mutex_lock(&s_cache_mutex);
    *length = s_Size(IMEI_number);
    if (destination != nullptr)
        memcpy(destination, IMEI_number, static_cast<size_t>(*length));
    pthread_mutex_unlock(&s_cache_mutex);
    return API_ERR_NONE;
}

extern "C" int API_GSM_GetVersion(char *version, int *version_length, char *module, int *module_length)
{
    if (version_length == nullptr || module_length == nullptr || (version != nullptr && module == nullptr))
        return API_ERR_INVALID_PARAMETERS;
    if (version == nullptr) {
        pthread_mutex_lock(&gsm_mutex);
        int result = s_VersionLocked();
        pthread_mutex_unlock(&gsm_mutex);
        if (result != API_ERR_NONE)
            return result;
    }
    pthread_mutex_lock(&s_cache_mutex);
    *version_length = s_Size(a_Version);
    *module_length = s_Size(a_Module);
    if (version != nullptr) {
        memcpy(version, a_Version, static_cast<size_t>(*version_length));
        memcpy(module, a_Module, static_cast<size_t>(*module_length));
    }
    pthread_mutex_unlock(&s_cache_mutex);
    return API_ERR_NONE;
}
