// The Bluetooth module on interface 3: commands, link data, start-up, settings.
#include "API_Bluetooth.h"

#include <ctype.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "API_Errors.h"
#include "API_NOR.h"
#include "API_SPI.h"
#include "API_SYS.h"
#include "API_Uart.h"
#include "internal/API_Bluetooth.h"
#include "internal/API_Channel.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"
#include "internal/API_Uart.h"

namespace bt {

char Buffer_Cmd[BT_BUFFER_SIZE];
std::atomic<int> Buffer_Cmd_Length{0};

std::atomic<int> b_ConnectionStatus{0};
std::atomic<int> b_RestaureDataMode{0};
std::atomic<int> b_switchToCommandModeRequested{0};
std::atomic<int> b_switchToDataModeRequested{0};
std::atomic<int> b_BTDebug{0};
std::atomic<int> b_ExitDataMode{0};
std::atomic<int> b_BT_WaitForData{0};

std::atomic<int> i_WPtr{0};
std::atomic<int> i_RPtr{0};
sem_t sem_bt_id;
std::atomic<void (*)(void)> p_btcallback{nullptr};
pthread_t bt_thread_id;

char a_DeviceName[API_BLUETOOTH_NAME_MAX + 1];
int i_DevNameLength = 0;
char a_Type[API_BLUETOOTH_TYPE_MAX + 1];
int i_DevTypeLength = 0;
unsigned char a_MACAddress[6];
char a_PinCode[API_BLUETOOTH_PIN_MAX + 1] = "5820";
int i_PinCodeLength = 0;
char a_Version[API_BLUETOOTH_VERSION_MAX + 1];
int b_GotDevName = 0;
int b_GotDevType = 0;
int b_GotMacAddress = 0;
int b_GotPinCode = 0;
int b_GotProfile = 0;
int b_EnablePinRequest = 0;
int b_GotBTParameters = 0;

}  // namespace bt

using namespace bt;

// Recursive: the resume to data mode takes it too, so that its "SELECT 0"
// never cuts into another thread's exchange.
pthread_mutex_t Bluetooth_mutex;
// Made at load time: a static recursive initializer is glibc's alone, and
// the static tool is built on musl.
[[gnu::constructor]] static void s_MakeBluetoothMutex()
{
    pthread_mutexattr_t recursive;
    pthread_mutexattr_init(&recursive);
    pthread_mutexattr_settype(&recursive, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&Bluetooth_mutex, &recursive);
    pthread_mutexattr_destroy(&recursive);
}

namespace {

using channel::Find;

constexpr int kUart = 3;
constexpr int kAddressSize = 6;
const char kReady[] = "READY.";
const char kAuthCommand[] = "SET BT AUTH * ";

void *bt_task(void *);

channel::Answers s_answers(Buffer_Cmd, Buffer_Cmd_Length);
channel::Ring s_ring(i_WPtr, i_RPtr, b_BT_WaitForData, sem_bt_id, "###### Overflow on BT ########");
channel::Task s_task(bt_task);

unsigned char a_FlashBuf[256];

bool s_IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// What the module has answered so far, steady while it is parsed.
struct Answer {
    char data[channel::kSize + 1];
    int held = s_answers.Copy(data, sizeof data);
};

// The word after `marker` (cut to `most`), once its end has arrived.
bool s_ReadWordAfter(const char *marker, char *field, int most, int *length)
{
    Answer answer;
    const char *end = answer.data + answer.held;
    const char *p = Find(answer.data, answer.held, marker);
    if (!p)
        return false;
    for (p += strlen(marker); p < end && (*p == ' ' || *p == '\t');)
        ++p;
    const char *start = p;
    while (p < end && !s_IsBlank(*p))
        ++p;
    if (p == start || p == end)
        return false;
    *length = std::min(static_cast<int>(p - start), most);
    memcpy(field, start, static_cast<size_t>(*length));
    field[*length] = '\0';
    return true;
}

// Six colon-separated hexadecimal values after `marker`, once the line ended.
bool s_ReadAddressAfter(const char *marker, unsigned char *address)
{
    Answer answer;
    const char *end = answer.data + answer.held;
    const char *p = Find(answer.data, answer.held, marker);
    if (!p)
        return false;
    p += strlen(marker);
    unsigned char parsed[kAddressSize];
    for (int i = 0; i < kAddressSize; ++i) {
        if (i > 0 && (p >= end || *p++ != ':'))
            return false;
        const char *first = p;
        unsigned value = 0;
        for (; p < end && isxdigit(static_cast<unsigned char>(*p)); ++p)
            value = value << 4 | static_cast<unsigned>(isdigit(*p) ? *p - '0' : tolower(*p) - 'a' + 10);
        if (p == first)
            return false;
        parsed[i] = static_cast<unsigned char>(value);
    }
    if (p >= end || !s_IsBlank(*p))
        return false;
    memcpy(address, parsed, kAddressSize);
    return true;
}

int s_Write(const char *data, int length) { return API_UartWrite(kUart, data, length); }

// Payload the full ring could not take yet, in order: the task goes on
// reading the line behind it, for the link's end, until it is full too.
char *s_held = nullptr;
std::atomic<int> s_heldCount{0};

// Held bytes wait for the reader only while it can still drain them: the
// link is up and no escape is setting its data aside.
bool s_MayHold()
{
    return b_ConnectionStatus.load() == 1 && b_switchToCommandModeRequested.load() == 0 && !s_task.Stopping();
}

// Moves what is held into the ring as far as it has room.
void s_FlushHeld()
{
    int held = s_heldCount.load();
    if (held == 0)
        return;
    int moved = s_ring.Offer(s_held, held);
    memmove(s_held, s_held + moved, static_cast<size_t>(held - moved));
    s_heldCount = held - moved;
    // A reader that found the ring empty while the end was held looks again.
    if (held == moved)
        s_ring.Wake();
}

void s_DropHeld()
{
    if (s_heldCount.exchange(0) > 0)
        s_ring.Overflow();
}

void s_StoreData(const char *data, int length)
{
    s_FlushHeld();
    int stored = s_heldCount.load() == 0 ? s_ring.Offer(data, length) : 0;
    // The task reads no more than the held bytes leave room for.
    int kept = std::min(length - stored, BT_BUFFER_SIZE - s_heldCount.load());
    memcpy(s_held + s_heldCount.load(), data + stored, static_cast<size_t>(kept));
    s_heldCount += kept;
}

// With nothing left to read the link is over at once, else once drained.
void s_EndOfLinkCheck()
{
    b_ExitDataMode = 1;
    if (s_ring.EndOfStream() && s_heldCount.load() == 0)
        b_ConnectionStatus = 0;
}

void s_DataModeChunk(const char *chunk, int count)
{
    if (const char *end = Find(chunk, count, "NO CARRIER")) {
        s_StoreData(chunk, static_cast<int>(end - chunk));
        // Only now: a reader finding the ring empty must not miss those bytes.
        return s_EndOfLinkCheck();
    }
    if (!Find(chunk, count, kReady) || b_switchToCommandModeRequested.load() == 0)
        return s_StoreData(chunk, count);
    // The escape's answer, for s_BluetoothSendCmd once the task is in command mode.
    s_EndOfLinkCheck();
    s_answers.Append(kReady, sizeof kReady);
}

void s_CommandModeChunk(const char *chunk, int count)
{
    s_answers.Append(chunk, count);
    bool linkLost = Find(chunk, count, "NO CARRIER") != nullptr;
    if (linkLost) {
        b_ConnectionStatus = 0;
        // A link that ended during a command exchange is not to be resumed.
        b_RestaureDataMode = 0;
        // A reader waiting on a resumed link is told it ended.
        s_ring.Wake();
    }
    const char *event = Find(chunk, count, "RFCOMM ");
    bool resumed = !event && b_switchToDataModeRequested.exchange(0) == 1;
    if (!event && (!resumed || linkLost))
        return;
    if (event) {
        s_heldCount = 0;
        s_ring.Reset();
        b_switchToDataModeRequested = 0;
    }
    // A resumed link's bytes follow the unread ones; a new link's payload
    // comes behind its event and the two bytes after it.
    b_ExitDataMode = 0;
    b_ConnectionStatus = 1;
    int payload = event ? static_cast<int>(event - chunk) + 9 : 0;
    if (payload < count)
        s_StoreData(chunk + payload, count - payload);
    if (void (*callback)(void) = p_btcallback.load())
        callback();
}

void *bt_task(void *)
{
    char *chunk = static_cast<char *>(malloc(BT_BUFFER_SIZE));
    s_held = static_cast<char *>(malloc(BT_BUFFER_SIZE));
    s_heldCount = 0;
    while (chunk && s_held && !s_task.Stopping()) {
        s_FlushHeld();
        // Held bytes full too: the line's handshake holds the remote back.
        if (s_heldCount.load() == BT_BUFFER_SIZE) {
            if (!s_ring.WaitForRoom(s_MayHold))
                s_DropHeld();
            continue;
        }
        int count = channel::Task::Read(kUart, chunk, BT_BUFFER_SIZE - s_heldCount.load());
        if (count == 0)
            continue;
        // The mode of the moment: a reset may have ended the link meanwhile.
        bool dataMode = b_ConnectionStatus.load() == 1 && b_ExitDataMode.load() == 0;
        // A resumed link escaped again before its first byte: the module
        // answers from data mode.
        if (!dataMode && b_switchToCommandModeRequested.load() == 1 && b_switchToDataModeRequested.exchange(0) == 1) {
            b_ExitDataMode = 0;
            dataMode = true;
        }
        if (b_BTDebug.load() == 1)
            puts(dataMode ? "BT task in data mode receive data" : "BT task in command mode receive data");
        if (dataMode)
            s_DataModeChunk(chunk, count);
        else
            s_CommandModeChunk(chunk, count);
    }
    s_heldCount = 0;
    free(s_held);
    s_held = nullptr;
    free(chunk);
    return nullptr;
}

// Up in data mode, or resumed and waiting for its first byte.
bool s_LinkLive()
{
    return b_ConnectionStatus.load() == 1 && (b_ExitDataMode.load() == 0 || b_switchToDataModeRequested.load() == 1);
}

// The guard silences and "+++", answered by "READY.": 0 or 51.  A link that
// ended during the first silence left the module in command mode, where
// "+++" would be the start of the next command.
int s_Escape()
{
    API_Sleep(1000);
    if (!s_LinkLive())
        return API_ERR_BLUETOOTH_MODULE_INVALID_MODE;
    s_answers.Clear();
    if (s_Write("+++", 3) != 3)
        return API_ERR_BLUETOOTH_MODULE_INVALID_MODE;
    API_Sleep(1000);
    return s_BluetoothGetAnswer(kReady, 10) == API_ERR_NONE ? API_ERR_NONE : API_ERR_BLUETOOTH_MODULE_INVALID_MODE;
}

// One command exchange under the unit's lock, then back to data mode.
template <typename Exchange>
int s_Locked(Exchange exchange, bool resume = true)
{
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = exchange();
    pthread_mutex_unlock(&Bluetooth_mutex);
    if (resume)
        s_BTDataMode();
    return result;
}

// Sends one command: 0 or 44.
int s_Send(const char *command)
{
    return s_BluetoothSendCmd(command) == API_ERR_NONE ? API_ERR_NONE : API_ERR_WRITING_BLUETOOTH;
}

// Back to data mode, for an operation with nothing to send.  It waits for
// no exchange: one under way resumes when it ends, and a link callback may
// call it on the receive task while another thread waits for an answer.
int s_Resume()
{
    if (pthread_mutex_trylock(&Bluetooth_mutex) != 0)
        return API_ERR_NONE;
    int result = s_BTDataMode();
    pthread_mutex_unlock(&Bluetooth_mutex);
    return result;
}

// A command and the module's "READY." after it: 0, 44 or 50.
int s_SendAndAwaitReady(const char *command)
{
    if (s_Send(command) != API_ERR_NONE)
        return API_ERR_WRITING_BLUETOOTH;
    return s_BluetoothGetAnswer(kReady, 10) == API_ERR_NONE ? API_ERR_NONE : API_ERR_BLUETOOTH_MODULE_NOT_READY;
}

// "SET BT AUTH * " with the PIN, or alone to switch authentication off.
int s_SendAuth(int enable)
{
    char command[64];
    snprintf(command, sizeof command, "%s%s", kAuthCommand, enable ? a_PinCode : "");
    return s_Send(command);
}

// Copies a text that cannot end the command line and start another.
bool s_TakeCommandText(const char *text, char *field, size_t most)
{
    size_t length = strnlen(text, most + 1);
    if (length > most ||
        std::any_of(text, text + length, [](char c) { return iscntrl(static_cast<unsigned char>(c)); }))
        return false;
    memset(field, 0, most + 1);
    memcpy(field, text, length);
    return true;
}

int s_WriteFlash(unsigned address, int length)
{
    int written = 0;
    int result = API_Flash_WriteData(address, reinterpret_cast<const char *>(a_FlashBuf), length, &written);
    if (result != API_ERR_NONE)
        memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    return result;
}

// Copies a cached text to the caller after the settings are known.
int s_GetCachedText(const char *cached, const int &cachedLength, char *buffer, int *length)
{
    int result = s_BluetoothGetParameters(0);
    if (result == API_ERR_NONE && buffer)
        strcpy(buffer, cached);
    if (result == API_ERR_NONE && length)
        *length = cachedLength;
    return result;
}

// Parses what the settings listing has shown; true once every item is known.
bool s_ParseListing()
{
    if (!b_GotPinCode && (b_EnablePinRequest == 0 ||
                          s_ReadWordAfter(kAuthCommand, a_PinCode, API_BLUETOOTH_PIN_MAX, &i_PinCodeLength))) {
        // With authentication off the PIN is the one held.
        if (b_EnablePinRequest == 0)
            i_PinCodeLength = static_cast<int>(strlen(a_PinCode));
        b_GotPinCode = 1;
    }
    if (!b_GotMacAddress)
        b_GotMacAddress = s_ReadAddressAfter("SET BT BDADDR ", a_MACAddress);
    if (!b_GotDevName)
        b_GotDevName = s_ReadWordAfter("SET BT NAME ", a_DeviceName, API_BLUETOOTH_NAME_MAX, &i_DevNameLength);
    if (!b_GotDevType)
        b_GotDevType = s_ReadWordAfter("SET BT CLASS ", a_Type, API_BLUETOOTH_TYPE_MAX, &i_DevTypeLength);
    if (s_answers.Holds("SET PROFILE SPP"))
        b_GotProfile = 1;
    return b_GotPinCode && b_GotMacAddress && b_GotDevName && b_GotDevType;
}

}  // namespace

extern "C" int s_BluetoothSendCmd(const char *command)
{
    if (!command)
        return API_ERR_INVALID_PARAMETERS;
    if (strcmp(command, "DEBUG") == 0) {
        b_BTDebug = 1;
        return API_ERR_NONE;
    }
    // The line must fit its 512 bytes with the line feed.
    size_t length = strnlen(command, API_BLUETOOTH_COMMAND_MAX + 1);
    if (length > API_BLUETOOTH_COMMAND_MAX)
        return API_ERR_INVALID_PARAMETERS;
    // Only a live link is escaped: an ended one left the module in command mode.
    if (s_LinkLive()) {
        b_RestaureDataMode = 1;
        b_switchToCommandModeRequested = 1;
        s_ring.Wake();  // a task waiting for room sets the link's data aside
        int result = s_Escape();
        b_switchToCommandModeRequested = 0;
        if (result != API_ERR_NONE) {
            // Nothing to resume: the link goes on in data mode, or has ended.
            b_RestaureDataMode = 0;
            return result;
        }
        b_ConnectionStatus = 0;
    }
    if (strcmp(command, "END") == 0)
        return s_BTDataMode();
    char line[API_BLUETOOTH_COMMAND_MAX + 2];
    memcpy(line, command, length);
    line[length] = '\n';
    s_answers.Clear();
    int wanted = static_cast<int>(length) + 1;
    return s_Write(line, wanted) == wanted ? API_ERR_NONE : API_ERR_WRITING_BLUETOOTH;
}

int s_BluetoothGetAnswer(const char *pattern, int seconds)
{
    return pattern ? s_answers.Wait(pattern, seconds, nullptr, true) : API_ERR_TIME_OUT;
}

int s_BTDataMode(void)
{
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_NONE;
    if (b_ConnectionStatus.load() == 0 && b_RestaureDataMode.exchange(0) != 0) {
        API_Sleep(1000);
        s_answers.Clear();
        // Only now: text still coming during the pause is the module's.
        b_switchToDataModeRequested = 1;
        if (s_Write("SELECT 0\n", 9) != 9) {
            b_switchToDataModeRequested = 0;
            result = API_ERR_WRITING_BLUETOOTH;
        } else {
            API_Sleep(1000);
            // Unless the task saw the link end and withdrew the request.
            if (b_switchToDataModeRequested.load() == 1 || b_ExitDataMode.load() == 0)
                b_ConnectionStatus = 1;
        }
    }
    pthread_mutex_unlock(&Bluetooth_mutex);
    return result;
}

int s_BluetoothGetParameters(int refresh)
{
    if (refresh == 1)
        b_GotBTParameters = 0;
    if (b_GotBTParameters)
        return s_Resume();
    return s_Locked([] {
        if (s_Send("SET") != API_ERR_NONE)
            return API_ERR_WRITING_BLUETOOTH;
        bool complete = false;
        for (int poll = 0; poll < 21 && !(complete && b_GotProfile); ++poll) {
            API_Sleep(100);
            complete = s_ParseListing();
        }
        // Without the profile line the listing still counts when every item came.
        b_GotBTParameters = complete;
        return complete ? API_ERR_NONE : API_ERR_TIME_OUT;
    });
}

extern "C" int API_Bluetooth_Initialize(void) { return API_Bluetooth_Init(); }

extern "C" int API_Bluetooth_Init(void)
{
    // A second start-up replaces the first one's task and ring.
    s_task.Stop([] { s_ring.Wake(); });
    if (!s_ring.Allocate())
        return API_ERR_ALLOCATION;
    s_answers.Clear();
    if (API_UartOpen(kUart, O_RDWR | O_NOCTTY) != API_ERR_NONE)
        return API_ERR_OPEN_BLUETOOTH;
    if (!channel::ConfigureLine(kUart, IGNBRK, CRTSCTS | CLOCAL | CREAD, ~tcflag_t{0}) ||
        API_UartSetBaudRate(kUart, B115200) != API_ERR_NONE)
        return API_ERR_SETTING_UART_BAUDRATE;
    if (sem_init(&sem_bt_id, 0, 0) != 0) {
        API_UartClose(kUart);
        return API_ERR_BLUETOOTH_SEMAPHORE_CREATION;
    }
    if (s_task.Start(&bt_thread_id, nullptr) == 0) {
        sched_param parameter{};
        parameter.sched_priority = 20;
        bool raised = pthread_setschedparam(bt_thread_id, SCHED_FIFO, &parameter) == 0;
        puts(raised ? "Priority of bt task set to 20 and policy FIFO" : "Can't change priority of bt task");
    }
    int result = API_Bluetooth_EnableSlaveMode();
    if (result != API_ERR_NONE) {
        b_ConnectionStatus = 0;
        API_Bluetooth_Reset();
        if (s_BluetoothGetAnswer(kReady, 10) != API_ERR_NONE)
            return API_ERR_BLUETOOTH_MODULE_NOT_READY;
        if ((result = API_Bluetooth_EnableSlaveMode()) != API_ERR_NONE)
            return result;
    }
    b_ConnectionStatus = 0;
    return API_Bluetooth_StartServer(1);
}

extern "C" int API_Bluetooth_EnableSlaveMode(void)
{
    return s_Locked([] {
        static const char *const kSetUp[] = {"SET CONTROL ECHO 5", "SET BT PAGEMODE 3 2000 1", "SET BT ROLE 0 f 7d00"};
        int result = s_SendAndAwaitReady("INFO");
        for (const char *command : kSetUp)
            if (result == API_ERR_NONE)
                result = s_Send(command);
        return result == API_ERR_NONE ? s_SendAndAwaitReady("RESET") : result;
    });
}

extern "C" int API_Bluetooth_StartServer(int enable)
{
    const char *profile = enable ? "SET PROFILE SPP Bluetooth Serial Port" : "SET PROFILE SPP";
    int result = s_Locked([profile] { return s_Send(profile); }, false);
    if (result == API_ERR_NONE) {
        API_Sleep(1000);
        b_GotProfile = 0;
        // The listing's reading resumes data mode itself.
        if ((result = s_BluetoothGetParameters(1)) != API_ERR_NONE)
            return result;
        if (enable && !b_GotProfile)
            result = API_ERR_TIME_OUT;
        else if (!enable && b_GotProfile)
            result = API_ERR_SET_BLUETOOTH_PROFILE;
        else if ((result = s_Locked([] { return s_Send("RESET"); }, false)) == API_ERR_NONE)
            API_Sleep(1500);
    }
    s_BTDataMode();
    return result;
}

extern "C" int API_Bluetooth_Reset(void)
{
    // Without the PMU's descriptor there is nobody to ask.
    int result = ifd_pmu <= 0 ? API_ERR_WRITING_SPI : API_SPI_PmuSendRecv(PMU_CMD_BLUETOOTH_RESET, 0);
    if (result == API_ERR_NONE) {
        b_ConnectionStatus = 0;
        b_RestaureDataMode = 0;  // the restart ends a paused link too
        // A waiting reader learns of the end; a task waiting for room goes
        // back to the line for "READY.".
        s_ring.Wake();
    }
    return result;
}

extern "C" int API_Bluetooth_Cleanup(void)
{
    b_ConnectionStatus = 0;
    b_GotMacAddress = 0;
    // The name is asked again with the address, not handed out without length.
    i_DevNameLength = 0;
    b_GotDevName = 0;
    b_GotBTParameters = 0;
    // Ended before what it uses goes away.
    s_task.Stop([] { s_ring.Wake(); });
    s_ring.Release();
    API_UartClose(kUart);
    return API_ERR_NONE;
}

extern "C" int API_Bluetooth_ConnectedCallback(void (*callback)(void))
{
    if (!callback)
        return API_ERR_BLUETOOTH_CALL_BACK_SET_NULL;
    p_btcallback = callback;
    return API_ERR_NONE;
}

extern "C" int API_Bluetooth_CheckCnxStatus(void) { return b_ConnectionStatus.load(); }

extern "C" int API_Bluetooth_ReadData(char *buffer, int size, int *count)
{
    if (!count || size < 0 || (!buffer && size > 0))
        return API_ERR_INVALID_PARAMETERS;
    if (b_ConnectionStatus.load() != 1)
        return API_ERR_BLUETOOTH_REMOTE_DISCONNECTED;
    // The link is over once it ended and no resumption is pending.
    int taken = s_ring.Take(buffer, size, [] {
        return (b_ExitDataMode.load() && !b_switchToDataModeRequested.load() && s_heldCount.load() == 0) ||
               b_ConnectionStatus.load() != 1;
    });
    *count = std::max(taken, 0);
    if (taken >= 0)
        return API_ERR_NONE;
    b_ConnectionStatus = 0;
    return API_ERR_BLUETOOTH_REMOTE_DISCONNECTED;
}

extern "C" int API_Bluetooth_WriteData(const char *data, int length, int *written)
{
    if (!written || length < 0 || (!data && length > 0))
        return API_ERR_INVALID_PARAMETERS;
    if (b_ConnectionStatus.load() != 1)
        return API_ERR_BLUETOOTH_REMOTE_DISCONNECTED;
    int count = s_Write(data, length);
    *written = std::max(count, 0);
    return count < length ? API_ERR_WRITING_BLUETOOTH : API_ERR_NONE;
}

extern "C" int API_Bluetooth_GetVersion(char *buffer, int *length)
{
    if (buffer) {
        strcpy(buffer, a_Version);
        if (length)
            *length = static_cast<int>(strlen(a_Version));
        return s_Resume();
    }
    int found = 0;
    int result = s_Locked([&found] {
        if (s_Send("INFO") != API_ERR_NONE)
            return API_ERR_WRITING_BLUETOOTH;
        for (int poll = 0; poll < 101; ++poll) {
            API_Sleep(100);
            if (s_ReadWordAfter("Firmware version ", a_Version, API_BLUETOOTH_VERSION_MAX, &found))
                return API_ERR_NONE;
        }
        return API_ERR_TIME_OUT;
    });
    if (result == API_ERR_NONE && length)
        *length = found;
    return result;
}

extern "C" int API_Bluetooth_SetDeviceName(const char *name)
{
    if (!name)
        return s_Resume();
    if (!s_TakeCommandText(name, a_DeviceName, API_BLUETOOTH_NAME_MAX))
        return API_ERR_INVALID_PARAMETERS;
    char command[API_BLUETOOTH_COMMAND_MAX + 1];
    snprintf(command, sizeof command, "SET BT NAME %s", a_DeviceName);
    return s_Locked([&command] {
        int result = s_Send(command);
        if (result == API_ERR_NONE) {
            b_GotDevName = 1;
            i_DevNameLength = static_cast<int>(strlen(a_DeviceName));
        }
        return result;
    });
}

extern "C" int API_Bluetooth_GetDeviceName(char *buffer, int *length)
{
    return s_GetCachedText(a_DeviceName, i_DevNameLength, buffer, length);
}

extern "C" int API_Bluetooth_GetType(char *buffer, int *length)
{
    return s_GetCachedText(a_Type, i_DevTypeLength, buffer, length);
}

extern "C" int API_Bluetooth_GetPIN(char *buffer, int *length)
{
    return s_GetCachedText(a_PinCode, i_PinCodeLength, buffer, length);
}

extern "C" int API_Bluetooth_SetPIN(const char *pin)
{
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    if (!pin)
        return s_Resume();
    if (!s_TakeCommandText(pin, a_PinCode, API_BLUETOOTH_PIN_MAX))
        return API_ERR_INVALID_PARAMETERS;
    b_EnablePinRequest = 1;
    return s_Locked([]() -> int {
        if (s_SendAuth(1) != API_ERR_NONE)
            return API_ERR_WRITING_BLUETOOTH;
        i_PinCodeLength = static_cast<int>(strlen(a_PinCode));
        memcpy(a_FlashBuf, a_PinCode, static_cast<size_t>(i_PinCodeLength));
        b_GotPinCode = 1;
        return s_WriteFlash(API_BLUETOOTH_NOR_PIN, 16);
    });
}

extern "C" int API_Bluetooth_EnablePINRequest(int enable)
{
    b_EnablePinRequest = enable ? 1 : 0;
    return s_Locked([enable] { return s_SendAuth(enable); });
}

extern "C" int API_Bluetooth_EnableEncryption(int enable)
{
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    snprintf(reinterpret_cast<char *>(a_FlashBuf), sizeof a_FlashBuf, "%d", enable);
    b_EnablePinRequest = enable != 0;
    return s_Locked([enable] {
        int result = s_SendAuth(enable);
        return result == API_ERR_NONE ? s_WriteFlash(API_BLUETOOTH_NOR_ENCRYPTION, 1) : result;
    });
}

extern "C" int API_Bluetooth_GetMACAddress(unsigned char *address)
{
    if (!address)
        return API_ERR_INVALID_PARAMETERS;
    int result = s_BluetoothGetParameters(0);
    if (result == API_ERR_NONE)
        memcpy(address, a_MACAddress, kAddressSize);
    return result;
}

extern "C" int API_Bluetooth_SetMACAddress(unsigned char *address)
{
    if (!address)
        return API_ERR_INVALID_PARAMETERS;
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    // The module's own address wins when it can be read.
    API_Bluetooth_GetMACAddress(address);
    memcpy(a_FlashBuf, address, kAddressSize);
    return s_WriteFlash(API_BLUETOOTH_NOR_ADDRESS, kAddressSize);
}
