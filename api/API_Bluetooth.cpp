// The Bluetooth module: a text command channel on interface 3, a receive task
// that gathers answers in command mode and the remote's bytes in data mode,
// start-up, reset, data transfer and the module's settings.
#include "API_Bluetooth.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>

#include <algorithm>

#include "API_Errors.h"
#include "API_GSM.h"
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

// Recursive: the resume to data mode takes it too, whether or not the
// operation that ends with it still holds it, so that its "SELECT 0" never
// cuts into another thread's exchange.
pthread_mutex_t Bluetooth_mutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

namespace {

constexpr int kUart = 3;
constexpr int kTaskPriority = 20;
constexpr int kFlashBufSize = 256;
constexpr int kPinRecordSize = 16;
constexpr int kAddressSize = 6;

const char kReady[] = "READY.";
const char kNoCarrier[] = "NO CARRIER";
const char kLinkEvent[] = "RFCOMM ";
// The link event's marker and the two bytes after it come before the payload.
constexpr int kLinkPayloadOffset = 9;
const char kAuthCommand[] = "SET BT AUTH * ";

void *bt_task(void *);

channel::Answers s_answers(Buffer_Cmd, Buffer_Cmd_Length);
channel::Ring s_ring(i_WPtr, i_RPtr, b_BT_WaitForData, sem_bt_id, "###### Overflow on BT ########");
channel::Task s_task(bt_task);

unsigned char a_FlashBuf[kFlashBufSize];

char *s_Text(const char *text) { return const_cast<char *>(text); }

bool s_IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The answer text after `marker` up to the end of what is held; null while
// the marker has not come.
const char *s_After(const char *data, int held, const char *marker)
{
    char *found = MyStrStr(const_cast<char *>(data), static_cast<unsigned long>(held), s_Text(marker));
    return found ? found + strlen(marker) : nullptr;
}

// Reads the word right after `marker` into `field` (at most `most`
// characters; the rest of a longer word is dropped).  A word is taken only
// once its end has arrived: a line still being received is not read yet.
bool s_ReadWordAfter(const char *marker, char *field, int most, int *length)
{
    return s_answers.Parse([&](const char *data, int held) {
        const char *end = data + held;
        const char *p = s_After(data, held, marker);
        if (!p)
            return false;
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        const char *start = p;
        while (p < end && !s_IsBlank(*p))
            ++p;
        if (p == start || p == end)
            return false;
        int count = std::min(static_cast<int>(p - start), most);
        memcpy(field, start, static_cast<size_t>(count));
        field[count] = '\0';
        *length = count;
        return true;
    });
}

// Six colon-separated hexadecimal values after `marker`, complete only once
// the line's end has arrived.
bool s_ReadAddressAfter(const char *marker, unsigned char *address)
{
    return s_answers.Parse([&](const char *data, int held) {
        const char *end = data + held;
        const char *p = s_After(data, held, marker);
        unsigned char parsed[kAddressSize];
        for (int i = 0; p != nullptr && i < kAddressSize; ++i) {
            if (i > 0 && (p >= end || *p++ != ':'))
                return false;
            unsigned value = 0;
            const char *first = p;
            for (; p < end && isxdigit(static_cast<unsigned char>(*p)); ++p)
                value = (value << 4) | static_cast<unsigned>(isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : (tolower(*p) - 'a' + 10));
            if (p == first)
                return false;
            parsed[i] = static_cast<unsigned char>(value & 0xFF);
        }
        if (p == nullptr || p >= end || !s_IsBlank(*p))
            return false;
        memcpy(address, parsed, kAddressSize);
        return true;
    });
}

int s_Write(const char *data, int length) { return API_UartWrite(kUart, data, length); }

void s_CallLinkCallback()
{
    if (void (*callback)(void) = p_btcallback.load())
        callback();
}

// ---- the receive task ----

// The task waits for a reader to make room only while that reader can still
// drain the ring: the link is up and no escape is setting its data aside.
bool s_MayWaitForRoom()
{
    return b_ConnectionStatus.load() == 1 && b_switchToCommandModeRequested.load() == 0 && !s_task.Stopping();
}

void s_StoreData(const unsigned char *data, int length)
{
    s_ring.Put(reinterpret_cast<const char *>(data), length, s_MayWaitForRoom);
}

// After the link's end or the escape's answer: with nothing left to read the
// link is over at once, otherwise the reader drains the ring first.
void s_EndOfLinkCheck()
{
    if (s_ring.EndOfStream())
        b_ConnectionStatus = 0;
}

void s_DataModeChunk(unsigned char *chunk, int count, int &continuation)
{
    char *text = reinterpret_cast<char *>(chunk);
    const unsigned long length = static_cast<unsigned long>(count);

    if (char *end = MyStrStr(text, length, s_Text(kNoCarrier))) {
        int before = static_cast<int>(end - text);
        if (before == 0)
            continuation = 0;
        else if (continuation)
            s_StoreData(chunk, before);
        // Only now: a reader finding the ring empty must not miss those bytes.
        b_ExitDataMode = 1;
        s_EndOfLinkCheck();
        return;
    }
    if (MyStrStr(text, length, s_Text(kReady)) && b_switchToCommandModeRequested.load() == 1) {
        // The escape's answer, handed to s_BluetoothSendCmd once the task
        // has settled into command mode.
        b_ExitDataMode = 1;
        continuation = 0;
        s_EndOfLinkCheck();
        s_answers.Append(kReady, sizeof kReady);
        return;
    }
    continuation = 1;
    s_StoreData(chunk, count);
}

void s_CommandModeChunk(unsigned char *chunk, int count, int &continuation)
{
    char *text = reinterpret_cast<char *>(chunk);
    const unsigned long length = static_cast<unsigned long>(count);
    s_answers.Append(text, count);

    bool linkLost = MyStrStr(text, length, s_Text(kNoCarrier)) != nullptr;
    if (linkLost) {
        b_ConnectionStatus = 0;
        // A link that ended during a command exchange is not to be resumed.
        b_RestaureDataMode = 0;
    }

    if (char *event = MyStrStr(text, length, s_Text(kLinkEvent))) {
        s_ring.Reset(true);
        b_ExitDataMode = 0;
        b_ConnectionStatus = 1;
        continuation = 1;
        b_switchToDataModeRequested = 0;
        int payload = static_cast<int>(event - text) + kLinkPayloadOffset;
        if (payload < count)
            s_StoreData(chunk + payload, count - payload);
        s_CallLinkCallback();
        return;
    }

    if (b_switchToDataModeRequested.load() == 1) {
        b_switchToDataModeRequested = 0;
        if (linkLost)
            return;
        // Bytes the reader had not taken before the command exchange stay
        // readable; the new ones follow them.
        b_ExitDataMode = 0;
        b_ConnectionStatus = 1;
        continuation = 1;
        s_StoreData(chunk, count);
        s_CallLinkCallback();
    }
}

void *bt_task(void *)
{
    unsigned char *chunk = static_cast<unsigned char *>(malloc(BT_BUFFER_SIZE));
    if (!chunk)
        return nullptr;
    int continuation = 1;
    while (!s_task.Stopping()) {
        if (!channel::Task::LineReady(kUart))
            continue;
        memset(chunk, 0, BT_BUFFER_SIZE);
        int count = API_UartRead(kUart, reinterpret_cast<char *>(chunk), BT_BUFFER_SIZE);
        // The mode is taken when the chunk is there: a reset or the clean-up
        // may have ended the link meanwhile.
        bool dataMode = b_ConnectionStatus.load() == 1 && b_ExitDataMode.load() == 0;
        if (b_BTDebug.load() == 1)
            puts(dataMode ? "BT task in data mode receive data" : "BT task in command mode receive data");
        if (count <= 0)
            API_Sleep(100);  // a line that keeps failing must not make the task spin
        else if (dataMode)
            s_DataModeChunk(chunk, count, continuation);
        else
            s_CommandModeChunk(chunk, count, continuation);
    }
    free(chunk);
    return nullptr;
}

// Ends the receive task before what it uses goes away.
void s_StopTask()
{
    s_task.Stop([] { s_ring.WakeWriter(); });
}

int s_ConfigureLine()
{
    int fd = ai_fd[kUart];
    termios settings;
    if (fd <= 0 || tcgetattr(fd, &settings) != 0)
        return API_ERR_SETTING_UART_BAUDRATE;
    settings.c_iflag = IGNBRK;
    settings.c_oflag = 0;
    settings.c_cflag |= CRTSCTS | CLOCAL | CREAD;
    settings.c_lflag = NOFLSH;
    memset(settings.c_cc, 0, sizeof settings.c_cc);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        return API_ERR_SETTING_UART_BAUDRATE;
    tcflush(fd, TCIOFLUSH);
    return API_UartSetBaudRate(kUart, B115200) == API_ERR_NONE ? API_ERR_NONE : API_ERR_SETTING_UART_BAUDRATE;
}

void s_StartTask()
{
    if (s_task.Start(&bt_thread_id, nullptr) != 0)
        return;
    sched_param parameter{};
    parameter.sched_priority = kTaskPriority;
    if (pthread_setschedparam(bt_thread_id, SCHED_FIFO, &parameter) == 0)
        puts("Priority of bt task set to 20 and policy FIFO");
    else
        puts("Can't change priority of bt task");
}

// Sends one command under the unit's lock; 0 or 44.
int s_LockedCommand(const char *command)
{
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = s_BluetoothSendCmd(command) == API_ERR_NONE ? API_ERR_NONE : API_ERR_WRITING_BLUETOOTH;
    pthread_mutex_unlock(&Bluetooth_mutex);
    return result;
}

// "SET BT AUTH * " with the PIN, or alone to switch authentication off.
void s_AuthCommand(int enable, char *command, size_t size)
{
    snprintf(command, size, "%s%s", kAuthCommand, enable ? a_PinCode : "");
}

// A text for a module command: at most `most` characters and none that
// could end the command line and start another.
bool s_IsCommandText(const char *text, size_t most, size_t *length)
{
    *length = strnlen(text, most + 1);
    for (size_t i = 0; i < *length; ++i)
        if (iscntrl(static_cast<unsigned char>(text[i])))
            return false;
    return *length <= most;
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
    if (result != API_ERR_NONE)
        return result;
    if (buffer)
        strcpy(buffer, cached);
    if (length)
        *length = cachedLength;
    return API_ERR_NONE;
}

// Whether the settings listing has shown each item; parses those it has.
int s_ParseListing(int known)
{
    if (!(known & 1)) {
        if (b_GotPinCode) {
            known |= 1;
        } else if (b_EnablePinRequest == 0) {
            i_PinCodeLength = static_cast<int>(strlen(a_PinCode));
            b_GotPinCode = 1;
            known |= 1;
        } else if (s_ReadWordAfter(kAuthCommand, a_PinCode, API_BLUETOOTH_PIN_MAX, &i_PinCodeLength)) {
            b_GotPinCode = 1;
            known |= 1;
        }
    }
    if (!(known & 4)) {
        if (b_GotMacAddress || s_ReadAddressAfter("SET BT BDADDR ", a_MACAddress)) {
            b_GotMacAddress = 1;
            known |= 4;
        }
    }
    if (!(known & 2)) {
        if (b_GotDevName || s_ReadWordAfter("SET BT NAME ", a_DeviceName, API_BLUETOOTH_NAME_MAX, &i_DevNameLength)) {
            b_GotDevName = 1;
            known |= 2;
        }
    }
    if (!(known & 8)) {
        if (b_GotDevType || s_ReadWordAfter("SET BT CLASS ", a_Type, API_BLUETOOTH_TYPE_MAX, &i_DevTypeLength)) {
            b_GotDevType = 1;
            known |= 8;
        }
    }
    if (!b_GotProfile && s_answers.Holds("SET PROFILE SPP"))
        b_GotProfile = 1;
    return known;
}

}  // namespace

// ---- command channel ----

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

    // Only a live link is escaped: once it has ended the module is in
    // command mode already, whatever the reader has still to drain.
    if (b_ConnectionStatus.load() == 1 && b_ExitDataMode.load() == 0) {
        b_RestaureDataMode = 1;
        b_switchToCommandModeRequested = 1;
        if (!channel::SendEscape(kUart, s_answers, 1000))
            return API_ERR_BLUETOOTH_MODULE_INVALID_MODE;
        API_Sleep(1000);
        if (s_BluetoothGetAnswer(kReady, 10) != API_ERR_NONE)
            return API_ERR_BLUETOOTH_MODULE_INVALID_MODE;
        b_switchToCommandModeRequested = 0;
        b_ConnectionStatus = 0;
    }

    if (strcmp(command, "END") == 0)
        return s_BTDataMode();

    char line[API_BLUETOOTH_COMMAND_MAX + 2] = {0};
    memcpy(line, command, length);
    line[length] = '\n';
    s_answers.Clear();
    int wanted = static_cast<int>(length) + 1;
    int written = s_Write(line, wanted);
    if (written < 0 || written < wanted)
        return API_ERR_WRITING_BLUETOOTH;
    return API_ERR_NONE;
}

int s_BluetoothGetAnswer(const char *pattern, int seconds)
{
    if (!pattern)
        return API_ERR_TIME_OUT;
    bool found = s_answers.Await(pattern, seconds, nullptr, true) == channel::Answers::kFound;
    return found ? API_ERR_NONE : API_ERR_TIME_OUT;
}

int s_BTDataMode(void)
{
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_NONE;
    if (b_ConnectionStatus.load() == 0 && b_RestaureDataMode.load() != 0) {
        b_RestaureDataMode = 0;
        API_Sleep(1000);
        s_answers.Clear();
        // Raised only now: text that was still coming in during the pause is
        // the module's, not the remote's.
        b_switchToDataModeRequested = 1;
        if (s_Write("SELECT 0\n", 9) != 9) {
            b_switchToDataModeRequested = 0;
            result = API_ERR_WRITING_BLUETOOTH;
        } else {
            API_Sleep(1000);
            // Unless the task saw the link end in the meantime: then it
            // withdrew the request without switching.
            if (b_switchToDataModeRequested.load() == 1 || b_ExitDataMode.load() == 0)
                b_ConnectionStatus = 1;
        }
    }
    pthread_mutex_unlock(&Bluetooth_mutex);
    return result;
}

int s_BluetoothGetParameters(int refresh)
{
    if (refresh == 1) {
        b_GotBTParameters = 0;
    } else if (b_GotBTParameters) {
        s_BTDataMode();
        return API_ERR_NONE;
    }
    pthread_mutex_lock(&Bluetooth_mutex);
    if (s_BluetoothSendCmd("SET") != API_ERR_NONE) {
        pthread_mutex_unlock(&Bluetooth_mutex);
        s_BTDataMode();
        return API_ERR_WRITING_BLUETOOTH;
    }
    const int everything = 1 | 2 | 4 | 8;
    int known = 0;
    bool done = false;
    for (int poll = 0; poll < 21 && !done; ++poll) {
        API_Sleep(100);
        known = s_ParseListing(known);
        done = known == everything && b_GotProfile;
    }
    // Without the profile line the listing still counts when every item came.
    done = done || known == everything;
    if (done)
        b_GotBTParameters = 1;
    pthread_mutex_unlock(&Bluetooth_mutex);
    s_BTDataMode();
    return done ? API_ERR_NONE : API_ERR_TIME_OUT;
}

// ---- start-up, reset, clean-up ----

extern "C" int API_Bluetooth_Initialize(void) { return API_Bluetooth_Init(); }

extern "C" int API_Bluetooth_Init(void)
{
    // A second start-up replaces the first one's task and ring.
    s_StopTask();
    if (!s_ring.Allocate())
        return API_ERR_ALLOCATION;
    s_answers.Clear();

    if (API_UartOpen(kUart, O_RDWR | O_NOCTTY) != API_ERR_NONE)
        return API_ERR_OPEN_BLUETOOTH;
    if (int result = s_ConfigureLine())
        return result;
    if (sem_init(&sem_bt_id, 0, 0) != 0) {
        API_UartClose(kUart);
        return API_ERR_BLUETOOTH_SEMAPHORE_CREATION;
    }
    s_StartTask();

    int result = API_Bluetooth_EnableSlaveMode();
    if (result != API_ERR_NONE) {
        b_ConnectionStatus = 0;
        API_Bluetooth_Reset();
        if (s_BluetoothGetAnswer(kReady, 10) != API_ERR_NONE)
            return API_ERR_BLUETOOTH_MODULE_NOT_READY;
        result = API_Bluetooth_EnableSlaveMode();
        if (result != API_ERR_NONE)
            return result;
    }
    b_ConnectionStatus = 0;
    return API_Bluetooth_StartServer(1);
}

extern "C" int API_Bluetooth_EnableSlaveMode(void)
{
    static const char *const kSetUp[] = {"SET CONTROL ECHO 5", "SET BT PAGEMODE 3 2000 1", "SET BT ROLE 0 f 7d00",
                                         "RESET"};
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_NONE;
    if (s_BluetoothSendCmd("INFO") != API_ERR_NONE)
        result = API_ERR_WRITING_BLUETOOTH;
    else if (s_BluetoothGetAnswer(kReady, 10) != API_ERR_NONE)
        result = API_ERR_BLUETOOTH_MODULE_NOT_READY;
    for (const char *command : kSetUp)
        if (result == API_ERR_NONE && s_BluetoothSendCmd(command) != API_ERR_NONE)
            result = API_ERR_WRITING_BLUETOOTH;
    if (result == API_ERR_NONE && s_BluetoothGetAnswer(kReady, 10) != API_ERR_NONE)
        result = API_ERR_BLUETOOTH_MODULE_NOT_READY;
    pthread_mutex_unlock(&Bluetooth_mutex);
    s_BTDataMode();
    return result;
}

extern "C" int API_Bluetooth_StartServer(int enable)
{
    if (s_LockedCommand(enable ? "SET PROFILE SPP Bluetooth Serial Port" : "SET PROFILE SPP") != API_ERR_NONE) {
        s_BTDataMode();
        return API_ERR_WRITING_BLUETOOTH;
    }
    API_Sleep(1000);
    b_GotProfile = 0;
    // The listing's reading resumes data mode itself.
    if (int result = s_BluetoothGetParameters(1))
        return result;
    if (enable && !b_GotProfile) {
        s_BTDataMode();
        return API_ERR_TIME_OUT;
    }
    if (!enable && b_GotProfile) {
        s_BTDataMode();
        return API_ERR_SET_BLUETOOTH_PROFILE;
    }
    if (s_LockedCommand("RESET") != API_ERR_NONE) {
        s_BTDataMode();
        return API_ERR_WRITING_BLUETOOTH;
    }
    API_Sleep(1500);
    s_BTDataMode();
    return API_ERR_NONE;
}

extern "C" int API_Bluetooth_Reset(void)
{
    // Without the PMU's descriptor there is nobody to ask.
    if (ifd_pmu <= 0)
        return API_ERR_WRITING_SPI;
    pthread_mutex_lock(&s_spi_mutex);
    int result = API_SPI_Sendmsg(ifd_pmu, PMU_CMD_BLUETOOTH_RESET, 0);
    if (result == API_ERR_NONE) {
        unsigned char reply[PMU_MSG_SIZE];
        result = API_SPI_Receivemsg(ifd_pmu, reply, PMU_CMD_BLUETOOTH_RESET);
    }
    pthread_mutex_unlock(&s_spi_mutex);
    if (result == API_ERR_NONE) {
        b_ConnectionStatus = 0;
        // A reader waiting for the lost link's data learns of its end, and
        // a task waiting for room in the ring goes back to the line, where
        // the module's "READY." comes.
        s_ring.WakeReader();
        s_ring.WakeWriter();
    }
    return result;
}

extern "C" int API_Bluetooth_Cleanup(void)
{
    b_ConnectionStatus = 0;
    b_GotMacAddress = 0;
    // The name is asked again with the address: a cached name without its
    // length would be handed out empty.
    i_DevNameLength = 0;
    b_GotDevName = 0;
    b_GotBTParameters = 0;
    s_StopTask();
    s_ring.Release();
    API_UartClose(kUart);
    return API_ERR_NONE;
}

// ---- link and data ----

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
        return (b_ExitDataMode.load() && !b_switchToDataModeRequested.load()) || b_ConnectionStatus.load() != 1;
    });
    if (taken < 0) {
        b_ConnectionStatus = 0;
        *count = 0;
        return API_ERR_BLUETOOTH_REMOTE_DISCONNECTED;
    }
    *count = taken;
    return API_ERR_NONE;
}

extern "C" int API_Bluetooth_WriteData(const char *data, int length, int *written)
{
    if (!written || length < 0 || (!data && length > 0))
        return API_ERR_INVALID_PARAMETERS;
    if (b_ConnectionStatus.load() != 1)
        return API_ERR_BLUETOOTH_REMOTE_DISCONNECTED;
    int count = s_Write(data, length);
    *written = count < 0 ? 0 : count;
    return count < length ? API_ERR_WRITING_BLUETOOTH : API_ERR_NONE;
}

// ---- settings ----

extern "C" int API_Bluetooth_GetVersion(char *buffer, int *length)
{
    if (buffer) {
        strcpy(buffer, a_Version);
        if (length)
            *length = static_cast<int>(strlen(a_Version));
        s_BTDataMode();
        return API_ERR_NONE;
    }
    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_TIME_OUT;
    int found = 0;
    if (s_BluetoothSendCmd("INFO") != API_ERR_NONE) {
        result = API_ERR_WRITING_BLUETOOTH;
    } else {
        for (int poll = 0; poll < 101 && result != API_ERR_NONE; ++poll) {
            API_Sleep(100);
            if (s_ReadWordAfter("Firmware version ", a_Version, API_BLUETOOTH_VERSION_MAX, &found))
                result = API_ERR_NONE;
        }
    }
    pthread_mutex_unlock(&Bluetooth_mutex);
    s_BTDataMode();
    if (result == API_ERR_NONE && length)
        *length = found;
    return result;
}

extern "C" int API_Bluetooth_SetDeviceName(const char *name)
{
    if (!name) {
        s_BTDataMode();
        return API_ERR_NONE;
    }
    size_t length = 0;
    if (!s_IsCommandText(name, API_BLUETOOTH_NAME_MAX, &length))
        return API_ERR_INVALID_PARAMETERS;
    memset(a_DeviceName, 0, sizeof a_DeviceName);
    memcpy(a_DeviceName, name, length);
    char command[API_BLUETOOTH_COMMAND_MAX + 1];
    snprintf(command, sizeof command, "SET BT NAME %s", a_DeviceName);
    int result = s_LockedCommand(command);
    if (result == API_ERR_NONE) {
        b_GotDevName = 1;
        i_DevNameLength = static_cast<int>(length);
    }
    s_BTDataMode();
    return result;
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
    if (!pin) {
        s_BTDataMode();
        return API_ERR_NONE;
    }
    size_t length = 0;
    if (!s_IsCommandText(pin, API_BLUETOOTH_PIN_MAX, &length))
        return API_ERR_INVALID_PARAMETERS;
    memset(a_PinCode, 0, sizeof a_PinCode);
    memcpy(a_PinCode, pin, length);
    char command[64];
    s_AuthCommand(1, command, sizeof command);
    b_EnablePinRequest = 1;

    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_NONE;
    if (s_BluetoothSendCmd(command) != API_ERR_NONE) {
        result = API_ERR_WRITING_BLUETOOTH;
    } else {
        memcpy(a_FlashBuf, a_PinCode, length);
        b_GotPinCode = 1;
        i_PinCodeLength = static_cast<int>(length);
        result = s_WriteFlash(API_BLUETOOTH_NOR_PIN, kPinRecordSize);
    }
    pthread_mutex_unlock(&Bluetooth_mutex);
    s_BTDataMode();
    return result;
}

extern "C" int API_Bluetooth_EnablePINRequest(int enable)
{
    char command[64];
    b_EnablePinRequest = enable ? 1 : 0;
    s_AuthCommand(enable, command, sizeof command);
    int result = s_LockedCommand(command);
    s_BTDataMode();
    return result;
}

extern "C" int API_Bluetooth_EnableEncryption(int enable)
{
    memset(a_FlashBuf, 0, sizeof a_FlashBuf);
    char command[64];
    s_AuthCommand(enable, command, sizeof command);
    snprintf(reinterpret_cast<char *>(a_FlashBuf), sizeof a_FlashBuf, "%d", enable);
    b_EnablePinRequest = enable != 0;

    pthread_mutex_lock(&Bluetooth_mutex);
    int result = API_ERR_NONE;
    if (s_BluetoothSendCmd(command) != API_ERR_NONE)
        result = API_ERR_WRITING_BLUETOOTH;
    else
        result = s_WriteFlash(API_BLUETOOTH_NOR_ENCRYPTION, 1);
    pthread_mutex_unlock(&Bluetooth_mutex);
    s_BTDataMode();
    return result;
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
