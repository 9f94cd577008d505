// Taking the radio into its bootloader, writing the image, and the power-off
// sequence that ends every run once the port has been opened.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "API_Errors.h"
#include "API_Init.h"
#include "API_UHF_RX_PacificCrest.h"
#include "Commun.h"
#include "board.h"
#include "orvaflash.h"

namespace {

// Queries of the radio's normal command set: 0x01, command, parameters, and a
// check byte that makes the bytes after 0x01 add up to 0xFF.
const unsigned char model_ID[] = {0x01, 0x34, 0xCB};
const unsigned char firmware[] = {0x01, 0x33, 0xCC};
const unsigned char reset_hard[] = {0x01, 0x1D, 0x02, 0xE0};

const unsigned char ADL_MODEL = 0x07;
const int POC_ATTEMPTS = 100;
const unsigned int QUERY_TIMEOUT_MS = 200;
const unsigned int POC_TIMEOUT_MS = 200;
const unsigned int BLOCK_TIMEOUT_MS = 10000;

bool IsInternalRadio(const LOADER_ENV *env) { return strcmp(env->port_name, INTERNAL_RADIO_PORT) == 0; }

void DiscardPending(LOADER_ENV *env) { tcflush(env->port_fd, TCIOFLUSH); }

unsigned long Query(LOADER_ENV *env, const unsigned char *query, unsigned long length, unsigned char *answer)
{
    memset(answer, 0, ANSWER_BUFFER_SIZE);
    SendComPortBlock(env, query, length);
    return ReceiveComPort(env, reinterpret_cast<char *>(answer), ANSWER_BUFFER_SIZE - 1, QUERY_TIMEOUT_MS);
}

// The radio leaves its data mode on "+++" framed by silence.
void EscapeToCommandMode(LOADER_ENV *env)
{
    DiscardPending(env);
    Sleep(500);
    Sleep(500);
    SendComPortBlock(env, "+++", 3);
    Sleep(500);
    DiscardPending(env);
    Sleep(500);
}

// True when the radio identified itself as an ADL radio.
bool IdentifyRadio(LOADER_ENV *env, unsigned char *answer)
{
    DebugPrintf(4, "Query: Model Radio %02X %02X %02X\n", model_ID[0], model_ID[1], model_ID[2]);
    unsigned long count = Query(env, model_ID, sizeof model_ID, answer);
    if (count == 4 && answer[2] == ADL_MODEL) {
        DebugPrintf(2, "ADL Radio Detected\n");
        return true;
    }
    DebugPrintf(2, "Radio Model ID not received (%d) or not ADL (0x%02X)\n", static_cast<int>(count), answer[2]);
    return false;
}

void ReportFirmwareVersion(LOADER_ENV *env, unsigned char *answer)
{
    DebugPrintf(4, "Query: FW Version %02X %02X %02X\n", firmware[0], firmware[1], firmware[2]);
    Query(env, firmware, sizeof firmware, answer);
    DebugPrintf(2, "Version of ADL Radio Detected V%02d.%02d(%d)\n", (answer[2] << 8) | answer[3],
                (answer[4] << 8) | answer[5], (answer[6] << 8) | answer[7]);
}

void OrderHardReset(LOADER_ENV *env, unsigned char *answer)
{
    DebugPrintf(4, "Query: Reset hard %02X %02X %02X %02X\n", reset_hard[0], reset_hard[1], reset_hard[2],
                reset_hard[3]);
    if (Query(env, reset_hard, sizeof reset_hard, answer) == 4)
        DebugPrintf(2, "Reset Hard Done\n");
}

// A radio that did not identify itself starts its bootloader from power-up.
void PowerCycleRadio(LOADER_ENV *env)
{
    DebugPrintf(1, "POWER PDL OFF - begin ... ");
    API_UHF_RX_PacificCrest_TurnOn(0);
    puts("end");
    Sleep(500);
    DebugPrintf(1, "POWER PDL ON - begin ... ");
    API_UHF_RX_PacificCrest_TurnOn(1);
    puts("end");
    Sleep(500);
    DiscardPending(env);
    Sleep(500);
}

int SendPOCFrames(LOADER_ENV *env, unsigned char *answer)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length;
    unsigned long answer_length = FormatPOCcommand(frame, frame_length);
    DebugPrintf(3, "POC (%d) %02X %02X %02X %02X %02X %02X %02X\n", static_cast<int>(frame_length), frame[0], frame[1],
                frame[2], frame[3], frame[4], frame[5], frame[6]);

    for (int attempt = 1; attempt <= POC_ATTEMPTS; attempt++) {
        DebugPrintf(2, ".");
        SendComPortBlock(env, frame, frame_length);
        memset(answer, 0, ANSWER_BUFFER_SIZE);
        unsigned long count = ReceiveComPort(env, reinterpret_cast<char *>(answer), answer_length, POC_TIMEOUT_MS);
        DebugPrintf(3, "(%d of %d) %02X %02X %02X %02X %02X %02X %02X %02X\n", static_cast<int>(count),
                    static_cast<int>(answer_length), answer[0], answer[1], answer[2], answer[3], answer[4], answer[5],
                    answer[6], answer[7]);
        bool acknowledged = IsAcknowledged(answer, count, COMMAND_POC);
        if (acknowledged)
            DebugPrintf(3, "POC ACK received!!\n");
        Sleep(100);
        if (acknowledged)
            return 1;
    }
    return 0;
}

}  // namespace

int SwitchToPOCMode(LOADER_ENV *env)
{
    if (env->port_fd == -1)
        return 0;
    DebugPrintf(3, "Begin SwitchToPOCMode\r\n");
    unsigned char answer[ANSWER_BUFFER_SIZE];

    EscapeToCommandMode(env);
    bool identified = IdentifyRadio(env, answer);
    ReportFirmwareVersion(env, answer);
    OrderHardReset(env, answer);

    CloseSerialPort(env);
    env->speed_name = BOOTLOADER_SPEED;
    if (OpenSerialPort(env) < 0) {
        DebugPrintf(1, "Open Serial Port at %s failed\n", env->speed_name);
        PowerOFF(env);
        return -1;
    }
    if (!identified && IsInternalRadio(env))
        PowerCycleRadio(env);

    int result = SendPOCFrames(env, answer);
    DebugPrintf(3, "End SwitchToPOCMode (%d)\n", result);
    return result;
}

void PowerOFF(LOADER_ENV *env)
{
    if (IsInternalRadio(env)) {
        DebugPrintf(1, "POWER PDL OFF - begin ... ");
        int error = API_UHF_RX_PacificCrest_TurnOn(0);
        if (error != API_ERR_NONE) {
            char text[100];
            API_Errors_GetErrorText(error, text);
            DebugPrintf(1, "ERROR %s\n", text);
        } else {
            DebugPrintf(1, "end\n");
        }
    }
    API_Finalize();
    free(env->image);
    env->image = nullptr;
    env->image_size = 0;
    if (env->log_fd != -1) {
        Board_Close(env->log_fd);
        env->log_fd = -1;
    }
}

int Download(LOADER_ENV *env)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned char answer[ANSWER_BUFFER_SIZE];
    for (unsigned long block = 1; block <= env->block_count; block++) {
        unsigned long frame_length;
        unsigned long answer_length = FormatWRITEFILEBLOCK(frame, frame_length, env, block);
        if (env->test_mode) {
            DumpStringLog(env->log_fd, 1, frame, frame_length, ">> ");
            continue;
        }
        SendComPortBlock(env, frame, frame_length);
        memset(answer, 0, ANSWER_BUFFER_SIZE);
        unsigned long count = ReceiveComPort(env, reinterpret_cast<char *>(answer), answer_length, BLOCK_TIMEOUT_MS);
        if (!IsAcknowledged(answer, count, COMMAND_WRITEFILEBLOCK)) {
            DumpString(3, frame, frame_length, "WRITEFILEBLOCK command ");
            DebugPrintf(3, "WRITEFILEBLOCK %d failed: (%d read) ", static_cast<int>(block), static_cast<int>(count));
            DumpString(3, answer, count, " ");
            return -1;
        }
    }
    return 0;
}
