// GSM modem: AT commands, the receive task, mode switches, start-up, power, PIN.
#include "API_GSM.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "API_Errors.h"
#include "API_SPI.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "board.h"
#include "internal/API_Channel.h"
#include "internal/API_GSM.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"
#include "internal/API_SYS.h"
#include "internal/API_Signal.h"
#include "internal/API_Uart.h"

// Zero bytes count like any other: socket payload is binary.
extern "C" char *MyStrStr(char *data, unsigned long length, char *pattern)
{
    size_t size = pattern == nullptr ? 0 : strlen(pattern);
    if (data == nullptr || size == 0 || size > length)
        return nullptr;
    return static_cast<char *>(memmem(data, length, pattern, size));
}

pthread_mutex_t gsm_mutex = PTHREAD_MUTEX_INITIALIZER;
sem_t sem_gsm_id;
sem_t sem_gsm_write_id;
sem_t sem_gsm_power_id;

char Buffer_Cmd[GSM_ANSWER_SIZE];
std::atomic<int32_t> Buffer_Cmd_Length{0};

std::atomic<int32_t> b_CommandMode{1};
std::atomic<int32_t> b_ExitDataMode{0};
std::atomic<int32_t> b_switchToCommandModeRequested{0};
std::atomic<int32_t> bCloseSocketRequested{0};
std::atomic<int32_t> b_PSD_ConnectionStatus{0};
std::atomic<int32_t> b_CSD_ConnectionStatus{0};
std::atomic<int32_t> b_PSD_BearerConnected{0};
std::atomic<int32_t> GSMprotocol{1};
std::atomic<int32_t> PSDprotocol{1};
std::atomic<int32_t> bCheckStatus{1};
std::atomic<int32_t> b_PSD_WaitForData{0};

std::atomic<int32_t> b_GSM_API_Initialized{0};
std::atomic<int32_t> b_GSM_Power_ON{0};
std::atomic<int32_t> b_GSM_DCD_Stable{0};
std::atomic<int32_t> b_GSM_DCD_Enabled{0};
std::atomic<int32_t> b_GSM_PIN_Initialized{0};

WipSocketRecord WipSocket[GSM_SOCKET_COUNT];
std::atomic<API_GSM_ConnectionCallback> p_gsmcallback{nullptr};

std::atomic<int32_t> i_WPtr{0};
std::atomic<int32_t> i_RPtr{0};

namespace {

using channel::Find;

constexpr unsigned long kGpioGetDcdLevel = 0x8004FF18UL;
constexpr int kPinQueries = 5;

channel::Answers s_answers(Buffer_Cmd, Buffer_Cmd_Length);
channel::Ring s_ring(i_WPtr, i_RPtr, b_PSD_WaitForData, sem_gsm_id, "###### Overflow on GSM ########");
channel::Task s_task(gsm_task);

// A connection going back to data mode: its stream goes on behind its unread
// payload.  A call is answered only "OK", on which the task switches the line.
enum ResumeKind : int32_t { kResumeNone, kResumeSocket, kResumeCall };
std::atomic<int32_t> s_Resuming{kResumeNone};

// The escape's "OK" pauses the stream: its reader waits for the connection to
// go on, or to end.  Only once "+++" has gone out can an "OK" in the payload's
// place be that answer.
std::atomic<int32_t> s_Paused{0};
std::atomic<int32_t> s_EscapeSent{0};

// The task the application asked for, brought back by a restart of the unit.
bool s_taskWanted = false;
size_t s_taskStack = 0;
sched_param s_taskPriority{};

std::atomic<bool> b_GSM_semaphores{false};

int s_Exchange(const char *command, const char *expected, int seconds)
{
    int result = s_GsmSendCmd(command);
    return result == API_ERR_NONE ? s_GsmVerifyAnswer(expected, seconds) : result;
}

void s_ClearConnections(void)
{
    b_CSD_ConnectionStatus = 0;
    b_PSD_ConnectionStatus = 0;
    s_ring.Wake();  // a reader waiting through a pause learns of the end
}

bool s_StreamOver(void)
{
    return b_ExitDataMode == 1 && (s_Paused == 0 || b_PSD_ConnectionStatus + b_CSD_ConnectionStatus == 0);
}

// At a stream's end a drained ring closes the connection; an escape only pauses it.
void s_Deliver(const char *data, int count, bool streamMayEnd)
{
    s_ring.Put(data, count);
    if (streamMayEnd && b_ExitDataMode == 1 && s_ring.EndOfStream())
        s_ClearConnections();
}

void s_RecordAnswer(char *data, int count)
{
    if (b_switchToCommandModeRequested == 0 && bCloseSocketRequested == 0)
        return s_answers.Append(data, count);
    // Only the result words matter while the line is being switched.
    for (const char *word : {"OK", "ERROR"}) {
        if (Find(data, count, word)) {
            s_answers.Clear();
            s_answers.Append(word, static_cast<int>(strlen(word)) + 1);
        }
    }
}

// "CONNECT" and its CR LF come before the first payload.  A new connection
// starts an empty ring; a resumed one goes on behind the unread bytes.
void s_StartStream(char *data, int count, char *connect, bool resumed)
{
    b_ExitDataMode = 0;
    s_Paused = 0;
    (GSMprotocol == 1 ? b_PSD_ConnectionStatus : b_CSD_ConnectionStatus) = 1;
    if (!resumed)
        s_ring.Reset();
    long payloadStart = (connect - data) + 9;
    if (payloadStart < count)
        s_ring.Put(connect + 9, count - static_cast<int>(payloadStart));
    bCheckStatus = 1;
    b_CommandMode = 0;
    if (API_GSM_ConnectionCallback callback = p_gsmcallback.load())
        callback();
}

// Whether the rest of a read is only lines of the modem: empty ones and those
// that begin with its own texts.
bool s_OnlyModemLines(const char *rest, const char *end)
{
    static const char *const kModemTexts[] = {"NO CARRIER", "SHUTDOWN", "ERROR", "OK", "RING", "+"};
    while (rest < end) {
        const char *line = rest;
        while (rest < end && *rest != '\r' && *rest != '\n')
            ++rest;
        auto begins = [&](const char *text) { return Find(line, static_cast<int>(rest - line), text) == line; };
        if (rest > line && std::none_of(std::begin(kModemTexts), std::end(kModemTexts), begins))
            return false;
        while (rest < end && (*rest == '\r' || *rest == '\n'))
            ++rest;
    }
    return true;
}

// Payload may hold any byte, the modem's texts included.  The modem ends a
// stream with its text, after which it sends only lines of its own (a ring,
// a peer's close), so a text counts only where nothing but the rest of its
// line and such lines follow it in the read; anywhere else it is payload.
// Null when the read ends no stream.
char *s_StreamEnd(char *data, int count, const char *text)
{
    char *end = data + count;
    for (char *found = data; (found = Find(found, static_cast<int>(end - found), text)); ++found) {
        char *rest = found + strlen(text);
        while (rest < end && *rest != '\r' && *rest != '\n')
            ++rest;
        if (s_OnlyModemLines(rest, end))
            return found;
    }
    return nullptr;
}

// Payload in front of a modem text, less the text's CR LF framing.
int s_PayloadBefore(const char *data, const char *answer)
{
    int count = static_cast<int>(answer - data);
    return count >= 2 && answer[-2] == '\r' && answer[-1] == '\n' ? count - 2 : count;
}

void s_HandleDataRead(char *data, int count)
{
    static const char *const kStreamEnds[] = {"NO CARRIER", "SHUTDOWN", "ERROR", "+WIPPEERCLOSE:"};
    char *end = nullptr;
    for (const char *text : kStreamEnds) {
        char *found = s_StreamEnd(data, count, text);
        if (found != nullptr && (end == nullptr || found < end))
            end = found;
    }
    if (end != nullptr) {
        // The modem's lines from the end on: a peer's close, a call ringing.
        int lines = static_cast<int>(data + count - end);
        if (Find(end, lines, "+WIPPEERCLOSE:"))
            WipSocket[0].state = 1;
        if (Find(end, lines, "RING"))
            bCheckStatus = 0;
        // Only now: a reader finding the ring empty must not miss the bytes before it.
        s_ring.Put(data, s_PayloadBefore(data, end));
        b_ExitDataMode = 1;
        return s_Deliver(data, 0, true);
    }
    char *ok = b_switchToCommandModeRequested == 1 && s_EscapeSent == 1 ? Find(data, count, "OK") : nullptr;
    if (ok == nullptr)
        return s_Deliver(data, count, true);
    // The stream pauses; from now on the task reads the way command answers are read.
    s_Paused = 1;
    s_Deliver(data, s_PayloadBefore(data, ok), false);
    b_ExitDataMode = 1;
    s_answers.Append("OK", 3);
}

// Where the call's payload starts behind the "OK" line to "ATO"; null if none.
char *s_CallResumed(char *data, int count)
{
    if (s_Resuming != kResumeCall)
        return nullptr;
    char *ok = Find(data, count, "OK");
    if (ok == nullptr || s_Resuming.exchange(kResumeNone) != kResumeCall)
        return nullptr;
    char *end = ok + 2;
    return data + count - end >= 2 && end[0] == '\r' && end[1] == '\n' ? end + 2 : end;
}

void s_HandleCommandRead(char *data, int count)
{
    if (char *payload = s_CallResumed(data, count)) {
        b_ExitDataMode = 0;
        s_Paused = 0;
        b_CommandMode = 0;
        int answer = static_cast<int>(payload - data);
        s_RecordAnswer(data, answer);
        if (count > answer)
            s_HandleDataRead(payload, count - answer);
        return;
    }
    char *connect = Find(data, count, "CONNECT");
    bool resumed = connect != nullptr && s_Resuming.exchange(kResumeNone) != kResumeNone;
    s_RecordAnswer(data, count);
    if (Find(data, count, "+WIPPEERCLOSE:")) {
        WipSocket[0].state = 1;
        s_Paused = 0;  // the paused socket's stream is over
        s_ring.Wake();
    }
    if (Find(data, count, "NO CARRIER")) {
        s_ClearConnections();
        b_CommandMode = 1;
    }
    if (connect != nullptr)
        s_StartStream(data, count, connect, resumed);
    if (Find(data, count, "RING"))
        bCheckStatus = 0;
}

bool s_PortOpen(void) { return ai_fd[GSM_UART] > 0; }

// One read of the line, in the mode of the moment; false once the port is closed.
bool s_ServeLine(char *scratch)
{
    if (!s_PortOpen())
        return false;
    int count = channel::Task::Read(GSM_UART, scratch, channel::kSize);
    if (count == 0)
        return true;
    if (b_CommandMode == 1 || b_ExitDataMode == 1)
        s_HandleCommandRead(scratch, count);
    else
        s_HandleDataRead(scratch, count);
    return true;
}

// Made once, by the task or the start-up, whichever comes first.
pthread_once_t s_semaphores_once = PTHREAD_ONCE_INIT;
bool s_semaphores_made = false;
bool s_CreateSemaphores(void)
{
    pthread_once(&s_semaphores_once, [] {
        s_semaphores_made = sem_init(&sem_gsm_id, 0, 0) == 0 && sem_init(&sem_gsm_write_id, 0, 1) == 0 &&
                            sem_init(&sem_gsm_power_id, 0, 0) == 0;
    });
    b_GSM_semaphores = s_semaphores_made;
    return s_semaphores_made;
}

bool s_MayRetryEscape(int code) { return code == API_ERR_GSM_ACK || code == API_ERR_TIME_OUT; }

// "+++", a look for its echo, then "AT": 0, a retryable 92 or 24, or a failure.
int s_EscapeAttempt(void)
{
    s_EscapeSent = 1;
    int result = s_Exchange("+++", "OK", 3);
    if (s_MayRetryEscape(result))
        result = s_GsmVerifyAnswer("+++", 1);
    return s_MayRetryEscape(result) ? s_Exchange("AT\r", "OK", 2) : result;
}

// One exchange under the bus lock: 27 for the request, 26 for a failed reply.
int s_PmuExchange(unsigned char command, unsigned char parameter, unsigned char *data = nullptr)
{
    int result = API_ERR_WRITING_SPI;
    unsigned char reply[PMU_MSG_SIZE] = {0, 0, 0, 0};
    pthread_mutex_lock(&s_spi_mutex);
    // Descriptor 0 is the PMU closed, not a device to write to.
    if (ifd_pmu > 0 && API_SPI_Sendmsg(ifd_pmu, command, parameter) == API_ERR_NONE) {
        API_SPI_PauseMicroseconds(10);
        bool replied = API_SPI_Receivemsg(ifd_pmu, reply, command) == API_ERR_NONE;
        result = replied ? API_ERR_NONE : API_ERR_READING_FROM_SPI;
    }
    pthread_mutex_unlock(&s_spi_mutex);
    if (data != nullptr)
        *data = reply[2];
    return result;
}

int s_PowerSequence(void)
{
    if (API_GSM_SetPowerState(0) != API_ERR_NONE)
        return API_ERR_SET_GSM_POWER_FALSE;
    if (API_GSM_SetPowerState(1) != API_ERR_NONE)
        return API_ERR_SET_GSM_POWER_TRUE;
    if (API_GSM_Mod_ON_OFF(1) != API_ERR_NONE)
        return API_ERR_SET_GSM_MODULE_SIGNAL_TRUE;
    if (API_GSM_Mod_ON_OFF(0) != API_ERR_NONE)
        return API_ERR_SET_GSM_MODULE_SIGNAL_FALSE;
    return API_ERR_NONE;
}

int s_StartupCommands(void)
{
    // Each refusal's code follows its send failure's.
    static const std::pair<const char *, int> kCommands[] = {
        {"ATE0\r", API_ERR_SEND_ATE0}, {"AT&F0\r", API_ERR_SEND_AT_F0}, {"AT+CFUN=1\r", API_ERR_SEND_AT_CFUNC}};
    for (const auto &[command, failure] : kCommands) {
        if (s_GsmSendCmd(command) != API_ERR_NONE)
            return failure;
        if (s_GsmVerifyAnswer("OK", 10) != API_ERR_NONE)
            return failure + 1;
    }
    return API_ERR_NONE;
}

// Bounded, even for a modem that never reports its status.
int s_StartupReadiness(void)
{
    for (int pass = 0; pass < 60; ++pass) {
        if (int result = s_Exchange("AT+WSTR=1\r", "OK", 10))
            return result;
        const char *status = s_GsmFindInAnswer("+WSTR: ");
        if (status == nullptr)
            continue;
        unsigned value = 0;
        if (s_CharToInt(static_cast<char>(s_GsmAnswerByte(status, 9)), &value) != API_ERR_NONE)
            return API_ERR_CHAR_NOT_DIGIT;
        if (value > 2)
            return API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS;
        if (value == 2) {
            printf("Modem ready\r");
            fflush(stdout);
            return API_ERR_NONE;
        }
        API_Sleep(1000);
    }
    return API_ERR_NONE;
}

int s_Startup(void)
{
    // The task stays off the line until the modem is powered again.
    s_GsmParkTask();
    if (!s_ring.Allocate())
        return API_ERR_ALLOCATION;
    b_CommandMode = 1;
    if (API_UartOpen(GSM_UART, O_RDWR | O_NOCTTY) != API_ERR_NONE)
        return API_ERR_OPEN_GSM_PORT;
    if (API_UartSetBaudRate(GSM_UART, B115200) != API_ERR_NONE)
        return API_ERR_SETTING_UART_BAUDRATE;
    channel::ConfigureLine(GSM_UART, IGNBRK | IGNPAR, CLOCAL | CREAD | CS8, CBAUD);
    if (!s_CreateSemaphores())
        return API_ERR_GSM_CREATE_SEMAPHORE;
    s_answers.Clear();
    if (int result = s_PowerSequence())
        return result;
    b_GSM_Power_ON = 1;
    sem_post(&sem_gsm_power_id);
    tcflush(ai_fd[GSM_UART], TCIOFLUSH);
    if (int result = s_StartupCommands())
        return result;
    return s_StartupReadiness();
}

bool s_IsWellFormedPin(const char *pin)
{
    size_t length = pin == nullptr ? 0 : strlen(pin);
    return length >= 4 && length <= 8 && strspn(pin, "0123456789") == length;
}

int s_SendPin(const char *pin)
{
    if (!s_IsWellFormedPin(pin))
        return API_ERR_GSM_PIN_CODE;
    char command[24];
    snprintf(command, sizeof command, "AT+CPIN=%s\r", pin);
    int result = s_Exchange(command, "OK", 10);
    // A refused PIN is a PIN error, not a failure of the channel.
    if (result == API_ERR_GSM_ACK)
        return API_ERR_GSM_PIN_CODE;
    if (result == API_ERR_NONE)
        b_GSM_PIN_Initialized = 1;
    return result;
}

// A failed SIM query is looked up in the extended error: no SIM (192), busy (asked
// again after 1 s, 191 at the end).  `answered`: whether the modem was heard.
int s_QuerySim(const char *pin, bool *answered)
{
    for (int query = 1;; ++query) {
        int sent = s_GsmSendCmd("AT+CPIN?\r");
        int failed = sent == API_ERR_NONE ? s_GsmVerifyAnswer("+CPIN:", 10) : sent;
        if (failed == API_ERR_NONE)
            break;
        bool cme = s_GsmVerifyAnswer("+CME", 10) == API_ERR_NONE;
        int result = failed;
        if (cme && s_answers.Holds("+CME ERROR: 10")) {
            result = API_ERR_SIM_CARD_NOT_INSERTED;
        } else if (cme && s_answers.Holds("+CME ERROR: 515")) {
            if (query < kPinQueries)
                API_Sleep(1000);
            if (query < kPinQueries && sent == API_ERR_NONE)
                continue;
            result = API_ERR_SIM_CARD_NOT_READY;
        }
        *answered = sent == API_ERR_NONE && result != failed;
        return result;
    }
    *answered = true;
    if (s_answers.Holds("+CPIN: READY")) {
        b_GSM_PIN_Initialized = 1;
        return API_ERR_NONE;
    }
    // "+CPIN: SIM PIN2" asks for the second PIN, which is not what is entered here.
    const char *asked = s_GsmFindInAnswer("+CPIN: SIM PIN");
    if (asked != nullptr && s_GsmAnswerByte(asked, 14) != '2')
        return s_SendPin(pin);
    // A SIM blocked on its PUK cannot be unlocked with the PIN.
    return s_answers.Holds("+CPIN: SIM PUK") && !s_answers.Holds("+CPIN: SIM PUK2") ? API_ERR_GSM_PIN_CODE
                                                                                    : API_ERR_NONE;
}

int s_EnterPinLocked(const char *pin)
{
    int result = s_GsmCmdMode();
    if (result == API_ERR_NONE)
        result = s_GsmSendCmd("AT+CPAS\r");
    if (result != API_ERR_NONE)
        return result;
    if (s_GsmVerifyAnswer("OK", 10) != API_ERR_NONE || !s_answers.Holds("+CPAS: 0"))
        return API_ERR_GSM_PIN_CODE;
    if ((result = s_Exchange("AT+CMEE=1\r", "OK", 10)) != API_ERR_NONE)
        return result;
    bool answered = false;
    result = s_QuerySim(pin, &answered);
    for (int attempt = 0; attempt < (answered ? 2 : 1); ++attempt) {
        if (s_Exchange("AT+CMEE=0\r", "OK", 10) == API_ERR_NONE)
            break;
    }
    return result == API_ERR_NONE ? s_GsmDataMode() : result;
}

}  // namespace

char *s_GsmFindInAnswer(const char *text) { return s_answers.Find(text); }

int s_GsmAnswerByte(const char *position, int offset) { return s_answers.ByteAt(position, offset); }

int s_GsmCopyAnswer(char *copy, int size) { return s_answers.Copy(copy, size); }

int s_GsmUartWrite(const void *data, int length)
{
    if (!b_GSM_semaphores) {
        errno = EBADF;
        return -1;
    }
    channel::WaitSemaphore(&sem_gsm_write_id);
    int written = API_UartWrite(GSM_UART, data, length);
    sem_post(&sem_gsm_write_id);
    return written;
}

int s_GsmSendCmd(const char *command)
{
    bool alwaysAllowed = strcmp(command, "+++") == 0 || strcmp(command, "AT\r") == 0;
    if (!alwaysAllowed && b_CommandMode == 0)
        return API_ERR_GSM_INVALID_MODE;
    s_answers.Clear();
    int length = static_cast<int>(strlen(command));
    return s_GsmUartWrite(command, length) == length ? API_ERR_NONE : API_ERR_GSM_WRITE;
}

int s_GsmVerifyAnswer(const char *expected, int seconds) { return s_answers.Wait(expected, seconds, "ERROR", false); }

int s_CharToInt(char c, unsigned *value)
{
    unsigned digit = static_cast<unsigned char>(c) - '0';
    if (digit > 9)
        return API_ERR_CHAR_NOT_DIGIT;
    *value = digit;
    return API_ERR_NONE;
}

int s_GsmCheckErrorInfo(int code)
{
    // The modem's WIP error numbers, each block on consecutive codes.
    static const struct {
        int first, last, code;
    } kBlocks[] = {{800, 821, API_ERR_WIP_INVALID_OPTION},
                   {830, 833, API_ERR_WIP_BAD_INDEX},
                   {835, 844, API_ERR_WIP_OPTION_NOT_SUPPORTED},
                   {850, 850, API_ERR_WIP_CONFIG_STACK_IP},
                   {851, 851, API_ERR_WIP_BAD_STATE}};
    if (code != API_ERR_GSM_ACK)
        return code;
    for (const auto &block : kBlocks) {
        for (int number = block.first; number <= block.last; ++number) {
            char text[8];
            snprintf(text, sizeof text, "%d", number);
            if (s_answers.Holds(text))
                return block.code + number - block.first;
        }
    }
    return code;
}

int s_GsmWaitForReady(void)
{
    for (int poll = 0; poll < 200; ++poll) {
        if (int result = s_Exchange("AT+WSTR=1\r", "OK", 1))
            return result;
        if (s_answers.Holds("+WSTR: 1,2"))
            return API_ERR_NONE;
        API_Sleep(250);
    }
    return API_ERR_GSM_INIT_SEQUENCE_NOT_FINISHED;
}

int s_GsmCmdMode(void)
{
    if (b_CommandMode == 1) {
        b_switchToCommandModeRequested = 0;
        return API_ERR_NONE;
    }
    b_switchToCommandModeRequested = 1;
    // The modem takes "+++" as an escape only after a silence.
    API_Sleep(1000);
    int result = s_EscapeAttempt();
    if (s_MayRetryEscape(result))
        result = s_EscapeAttempt();
    b_CommandMode = result == API_ERR_NONE;
    if (result == API_ERR_NONE)
        s_Exchange("AT\r", "OK", 2);
    b_switchToCommandModeRequested = 0;
    s_EscapeSent = 0;
    return result;
}

int s_GsmPsdDataMode(void)
{
    if (b_CommandMode == 0)
        return API_ERR_NONE;
    s_Resuming = b_PSD_ConnectionStatus == 1 ? kResumeSocket : kResumeNone;
    int result = s_Exchange(PSDprotocol == 1 ? "AT+WIPDATA=1,1,1\r" : "AT+WIPDATA=2,1,2\r", "CONNECT", 10);
    s_Resuming = kResumeNone;
    if (result != API_ERR_NONE)
        return result;
    b_CommandMode = 0;
    API_GSM_ConnectionCallback callback = p_gsmcallback.load();
    if (b_PSD_ConnectionStatus == 0 && callback != nullptr)
        callback();
    return API_ERR_NONE;
}

int s_GsmCsdDataMode(void)
{
    if (b_CSD_ConnectionStatus == 0 || b_CommandMode == 0)
        return API_ERR_NONE;
    // The task switches the line on the "OK": payload may share its read.
    s_Resuming = kResumeCall;
    int result = s_Exchange("ATO\r", "OK", 10);
    s_Resuming = kResumeNone;
    return result;
}

int s_GsmDataMode(void)
{
    if (b_PSD_ConnectionStatus == 1)
        return s_GsmPsdDataMode();
    return b_CSD_ConnectionStatus == 1 ? s_GsmCsdDataMode() : API_ERR_NONE;
}

int s_GsmRead(char *destination, int wanted, int *received)
{
    if (destination == nullptr || received == nullptr || wanted < 0)
        return API_ERR_INVALID_PARAMETERS;
    *received = 0;
    if (wanted == 0)
        return API_ERR_NONE;
    int taken = s_ring.Take(destination, wanted, s_StreamOver);
    if (taken < 0) {
        s_ClearConnections();
        return API_ERR_GSM_CONNEXION;
    }
    *received = taken;
    return API_ERR_NONE;
}

void s_GsmResetRing(void) { s_ring.Reset(); }

extern "C" void *gsm_task(void *)
{
    char *scratch = static_cast<char *>(malloc(channel::kSize));
    if (scratch != nullptr && s_CreateSemaphores()) {
        while (!s_task.Stopping()) {
            channel::WaitSemaphore(&sem_gsm_power_id);
            // A closed port parks the task until the next start-up posts again.
            if (s_task.OnLine(b_GSM_Power_ON == 1)) {
                while (b_GSM_Power_ON == 1 && !s_task.Stopping() && s_ServeLine(scratch)) {
                }
            }
            s_task.OffLine();
        }
    }
    free(scratch);
    return nullptr;
}

int s_GsmCreateTask(const pthread_attr_t *attributes)
{
    s_CreateSemaphores();  // before the task: its stop posts one
    int result = s_task.Start(&gsm_thread_id, attributes);
    if (result == 0) {
        s_taskWanted = true;
        pthread_attr_getstacksize(attributes, &s_taskStack);
        pthread_attr_getschedparam(attributes, &s_taskPriority);
    }
    return result;
}

void s_GsmParkTask(void)
{
    b_GSM_Power_ON = 0;
    s_task.WaitOffLine();
}

void s_GsmStopTask(void)
{
    s_task.Stop([] { sem_post(&sem_gsm_power_id); });
}

extern "C" int API_GSM_Initialize(void)
{
    if (b_GSM_API_Initialized == 1)
        return API_ERR_NONE;
    for (int i = 0; i < GSM_SOCKET_COUNT; ++i) {
        WipSocket[i].number = i + 1;
        WipSocket[i].reserved = 0;
        WipSocket[i].state = -1;
    }
    b_GSM_DCD_Stable = 0;
    b_GSM_DCD_Enabled = 0;
    // The task the application had before a restart of the unit.
    pthread_attr_t attributes;
    if (s_taskWanted && pthread_attr_init(&attributes) == 0) {
        pthread_attr_setstacksize(&attributes, s_taskStack);
        if (s_task.Start(&gsm_thread_id, &attributes) == 0)
            pthread_setschedparam(gsm_thread_id, SCHED_FIFO, &s_taskPriority);
        pthread_attr_destroy(&attributes);
    }
    pthread_mutex_lock(&gsm_mutex);
    int result = s_Startup();
    if (result != API_ERR_NONE) {
        s_GsmParkTask();
        s_ring.Release();
        API_UartClose(GSM_UART);
    } else {
        s_ClearConnections();
    }
    pthread_mutex_unlock(&gsm_mutex);
    if (result != API_ERR_NONE)
        API_GSM_SetPowerState(0);
    b_GSM_API_Initialized = result == API_ERR_NONE;
    return result;
}

extern "C" int API_GSM_Cleanup(void)
{
    // The task is ended first: the line is closed below.
    s_GsmStopTask();
    b_PSD_BearerConnected = 0;
    s_ClearConnections();
    b_ExitDataMode = 0;
    s_Paused = 0;
    b_GSM_API_Initialized = 0;
    b_GSM_PIN_Initialized = 0;
    b_GSM_DCD_Stable = 0;
    b_GSM_DCD_Enabled = 0;
    b_CommandMode = 1;
    s_ring.Release();
    API_UartClose(GSM_UART);
    return API_ERR_NONE;
}

extern "C" int API_GSM_SendCmd(const char *command)
{
    if (command == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    int result = s_GsmCmdMode();
    return result == API_ERR_NONE ? s_Exchange(command, "OK", 10) : result;
}

extern "C" int API_GSM_SetPowerState(int state)
{
    if (state == 1)
        b_GSM_DCD_Stable = 0;
    int result = s_PmuExchange(state == 1 ? PMU_CMD_GSM_POWER_ON : PMU_CMD_GSM_POWER_OFF, 1);
    if (result != API_ERR_NONE)
        return result;
    if (state != 1)
        b_GSM_Power_ON = 0;
    API_Sleep(state == 1 ? 1000 : 500);
    if (state != 1)
        b_GSM_DCD_Stable = 0;
    return API_ERR_NONE;
}

extern "C" int API_GSM_GetPowerState(int *state)
{
    if (state == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char data = 0;
    int result = s_PmuExchange(PMU_CMD_GSM_POWER_STATE, 0, &data);
    if (result == API_ERR_NONE)
        *state = data == 1;
    return result;
}

extern "C" int API_GSM_Mod_ON_OFF(int level)
{
    if (level != 0 && level != 1)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char current = 0;
    int result = s_PmuExchange(PMU_CMD_GSM_MODULE_SIGNAL, 0, &current);
    bool already = result == API_ERR_NONE && (current != 0) == (level == 1);
    if (result == API_ERR_NONE && !already)
        result = s_PmuExchange(PMU_CMD_GSM_SET_MODULE_SIGNAL, static_cast<unsigned char>(level));
    if (result != API_ERR_NONE || already || level == 0)
        return result;
    // The modem needs the line held while it starts.
    API_Sleep(8000);
    b_GSM_DCD_Stable = 1;
    return API_ERR_NONE;
}

extern "C" int API_GSM_GetDCDPinLevel(int *level)
{
    if (level == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    if (!s_PortOpen())
        return API_ERR_OPEN_GSM_PORT;
    int value = 0;
    if (sigiofd <= 0 || Board_Ioctl(sigiofd, kGpioGetDcdLevel, &value) < 0)
        return API_ERR_IOCTL_GPIO_DRIVER;
    *level = value == 1;
    return API_ERR_NONE;
}

extern "C" int API_GSM_EnterPIN(const char *pin)
{
    if (b_GSM_PIN_Initialized == 1)
        return API_ERR_NONE;
    pthread_mutex_lock(&gsm_mutex);
    int result = s_EnterPinLocked(pin);
    pthread_mutex_unlock(&gsm_mutex);
    return result;
}

extern "C" int API_GSM_DSCCallback(API_GSM_ConnectionCallback callback)
{
    if (callback == nullptr)
        return API_ERR_GSM_CALL_NULL;
    p_gsmcallback = callback;
    return API_ERR_NONE;
}

// Nothing to do: a stream's end is seen in the modem's texts.
extern "C" void API_GSM_DSCSignalHandler(void) {}
