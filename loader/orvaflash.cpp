// The load sequence: command line, radio power, image, bootloader entry,
// CREATEFILE, download at 115200 bit/s, back to 9600 bit/s, RESET, power-off.
#include "orvaflash.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "API_Init.h"
#include "API_UHF_RX_PacificCrest.h"
#include "Commun.h"

const char DEFAULT_FILE[] = "/mnt/usbdisk/adl_fw.bin";
const char DEFAULT_PORT[] = "/dev/ttyS5";
const char DEFAULT_SPEED[] = "38400";
const char LOADING_SPEED[] = "115200";
const char BOOTLOADER_SPEED[] = "9600";
const char PORT_A[] = "/dev/ttyS4";
const char PORT_B[] = "/dev/ttyUSB1";
const char PORT_D[] = "/dev/ttyS5";
const char PORT_F[] = "/dev/ttyUSB0";

namespace {

const char VERSION_TEXT[] = "0.01\r";
const char USAGE_A[] = "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D 38400\n\n"
                       "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n";
const char USAGE_B[] = "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D \n\n"
                       "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n";

// Units of the API the loader needs started.
const int LOADER_API_FEATURES = 0x2D7E7;
const unsigned long RADIO_POWER_UP_MS = 5000;
const unsigned int CREATEFILE_TIMEOUT_MS = 200;
const unsigned int SETBAUDRATE_TIMEOUT_MS = 100;
const unsigned int RESET_TIMEOUT_MS = 10000;

const char *PortOfLetter(const char *letter)
{
    static const struct {
        const char *letter;
        const char *port;
    } ports[] = {{"A", PORT_A}, {"B", PORT_B}, {"D", PORT_D}, {"F", PORT_F}};
    for (const auto &entry : ports) {
        if (strcasecmp(letter, entry.letter) == 0)
            return entry.port;
    }
    return nullptr;
}

// Sends a bootloader frame and receives its 8-byte answer into a cleared buffer.
unsigned long Exchange(LOADER_ENV *env, const unsigned char *frame, unsigned long frame_length, unsigned char *answer,
                       unsigned long answer_length, unsigned int timeout_ms)
{
    SendComPortBlock(env, frame, frame_length);
    memset(answer, 0, ANSWER_BUFFER_SIZE);
    return ReceiveComPort(env, reinterpret_cast<char *>(answer), answer_length, timeout_ms);
}

void PrintReceivedBytes(const unsigned char *answer, unsigned long count)
{
    for (unsigned long i = 0; i < count; i++)
        DebugPrintf(1, "%02X", answer[i]);
    DebugPrintf(1, "\n");
}

bool CreateFile(LOADER_ENV *env, unsigned char *answer)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length;
    unsigned long answer_length = FormatCREATEFILEcommand(frame, frame_length, env);
    SendComPortBlock(env, frame, frame_length);
    DumpString(3, frame, frame_length, "CREATEFILE command ");
    memset(answer, 0, ANSWER_BUFFER_SIZE);
    unsigned long count = ReceiveComPort(env, reinterpret_cast<char *>(answer), answer_length, CREATEFILE_TIMEOUT_MS);
    DumpString(3, answer, ANSWER_LENGTH, "CREATEFILE answer ");
    if (IsAcknowledged(answer, count, COMMAND_CREATEFILE)) {
        DebugPrintf(3, "CREATEFILE ACK received!!\n");
        return true;
    }
    DebugPrintf(1, "CREATEFILE failed: (%d of %d expected) ", static_cast<int>(count), ANSWER_LENGTH);
    PrintReceivedBytes(answer, count);
    return false;
}

bool RaiseRadioSpeed(LOADER_ENV *env, unsigned char *answer)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length;
    unsigned long answer_length = FormatSETBAUDRATEcommand(frame, frame_length, 115200);
    unsigned long count = Exchange(env, frame, frame_length, answer, answer_length, SETBAUDRATE_TIMEOUT_MS);
    if (IsAcknowledged(answer, count, COMMAND_SETBAUDRATE))
        return true;
    if (count != ANSWER_LENGTH)
        DebugPrintf(1, "Switch ADL Radio to 115200 bauds failed : (%d of %d expected) ", static_cast<int>(count),
                    ANSWER_LENGTH);
    else
        DebugPrintf(1, "Switch ADL Radio to 115200 bauds failed : (%d) ", static_cast<int>(count));
    PrintReceivedBytes(answer, count);
    return false;
}

bool LowerRadioSpeed(LOADER_ENV *env, unsigned char *answer)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length;
    unsigned long answer_length = FormatSETBAUDRATEcommand(frame, frame_length, 9600);
    unsigned long count = Exchange(env, frame, frame_length, answer, answer_length, SETBAUDRATE_TIMEOUT_MS);
    if (count != ANSWER_LENGTH) {
        DebugPrintf(1, "Bad response length to SetBaudRate at 9600 (%d)\n", static_cast<int>(count));
        return false;
    }
    if (!IsAcknowledged(answer, count, COMMAND_SETBAUDRATE)) {
        DebugPrintf(1, "SetBaudRate to 9600 is bad\n");
        return false;
    }
    return true;
}

bool ResetRadio(LOADER_ENV *env, unsigned char *answer)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length;
    unsigned long answer_length = FormatRESETcommand(frame, frame_length);
    unsigned long count = Exchange(env, frame, frame_length, answer, answer_length, RESET_TIMEOUT_MS);
    if (count != ANSWER_LENGTH) {
        DebugPrintf(1, "Bad response length to Reset (%d)\n", static_cast<int>(count));
        return false;
    }
    if (!IsAcknowledged(answer, count, COMMAND_RESET)) {
        DebugPrintf(1, "Reset failed\n");
        return false;
    }
    return true;
}

// Closes the port and reopens it at `speed`; false after the failure message.
bool ReopenSerialPort(LOADER_ENV *env, const char *speed)
{
    CloseSerialPort(env);
    env->speed_name = speed;
    if (OpenSerialPort(env) < 0) {
        DebugPrintf(1, "Open Serial Port at %s failed\n", env->speed_name);
        return false;
    }
    return true;
}

// Every failure from the bootloader entry on: port closed, then power-off.
int AbandonRun(LOADER_ENV *env)
{
    CloseSerialPort(env);
    PowerOFF(env);
    return -1;
}

// From the first opening of the port to the end of the run.
int LoadRadio(LOADER_ENV *env)
{
    if (OpenSerialPort(env) < 0) {
        DebugPrintf(1, "Open Serial Port %s failed\n", env->port_name);
        PowerOFF(env);
        return -1;
    }

    gl_debug_level = 2;
    int entered = SwitchToPOCMode(env);
    if (entered <= 0) {
        DebugPrintf(1, "\nSwitch to POC failed (%d)\n", entered);
        if (entered < 0) {
            // The entry has closed the port and run the power-off already.
            return -1;
        }
        return AbandonRun(env);
    }

    unsigned char answer[ANSWER_BUFFER_SIZE];
    if (!CreateFile(env, answer) || !RaiseRadioSpeed(env, answer))
        return AbandonRun(env);
    if (!ReopenSerialPort(env, LOADING_SPEED)) {
        PowerOFF(env);
        return -1;
    }

    int download_result = Download(env);
    DebugPrintf(1, "\nEND of Download with return code %d\r\n", download_result);

    if (!LowerRadioSpeed(env, answer))
        return AbandonRun(env);
    if (!ReopenSerialPort(env, BOOTLOADER_SPEED)) {
        PowerOFF(env);
        return -1;
    }
    if (!ResetRadio(env, answer))
        return AbandonRun(env);

    CloseSerialPort(env);
    PowerOFF(env);
    return download_result;
}

}  // namespace

CommandLineResult ParseCommandLine(LOADER_ENV *env, int argc, char **argv)
{
    env->file_name = DEFAULT_FILE;
    env->port_name = DEFAULT_PORT;
    env->speed_name = DEFAULT_SPEED;
    int arguments = argc - 1;
    if (arguments > 3)
        return COMMAND_LINE_USAGE_A;
    if (arguments == 1) {
        const char *argument = argv[1];
        if (strcasecmp(argument, "-v") == 0)
            return COMMAND_LINE_VERSION;
        if (strcasecmp(argument, "-h") == 0)
            return COMMAND_LINE_USAGE_A;
        if (strcasecmp(argument, "-t") == 0)
            env->test_mode = true;
        else
            env->file_name = argument;
        return COMMAND_LINE_RUN;
    }
    if (arguments >= 2) {
        env->file_name = argv[1];
        env->port_name = PortOfLetter(argv[2]);
        if (env->port_name == nullptr)
            return arguments == 2 ? COMMAND_LINE_USAGE_B : COMMAND_LINE_USAGE_A;
        if (arguments == 3)
            env->speed_name = argv[3];
    }
    return COMMAND_LINE_RUN;
}

int OrvaflashMain(int argc, char **argv)
{
    gl_debug_level = 2;
    LOADER_ENV env;
    memset(&env, 0, sizeof env);
    env.log_fd = -1;
    env.test_mode = false;

    switch (ParseCommandLine(&env, argc, argv)) {
    case COMMAND_LINE_VERSION: puts(VERSION_TEXT); return 1;
    case COMMAND_LINE_USAGE_A: puts(USAGE_A); return 1;
    case COMMAND_LINE_USAGE_B: puts(USAGE_B); return 1;
    case COMMAND_LINE_RUN: break;
    }

    if (!env.test_mode)
        DebugPrintf(1, "\nFile %s, port=%s, speed=%s\n", env.file_name, env.port_name, env.speed_name);

    API_Initialize(LOADER_API_FEATURES);
    if (strcmp(env.port_name, INTERNAL_RADIO_PORT) == 0) {
        DebugPrintf(2, "POWER PDL ON - begin ... ");
        API_UHF_RX_PacificCrest_TurnOn(1);
        puts("end");
        Sleep(RADIO_POWER_UP_MS);
    }

    gl_debug_level = 2;
    // A refused image leaves the radio powered and the API running, as
    // every exit before the port is opened does.
    if (LoadImageFile(&env) != 0)
        return 1;
    return LoadRadio(&env);
}
