// Frames of the radio's serial bootloader: STX, command, 16-bit length,
// payload, 16-bit sum of command, length and payload, ETX.
#include <string.h>

#include "orvaflash.h"

namespace {

const unsigned char STX = 0x02;
const unsigned char ETX = 0x03;
const unsigned char ACK = 0x06;
const unsigned char BLOCK_FILLER = 0xFF;  // erased flash
const unsigned long FRAME_OVERHEAD = 7;

void PutUint16(unsigned char *at, unsigned long value)
{
    at[0] = static_cast<unsigned char>(value >> 8);
    at[1] = static_cast<unsigned char>(value);
}

void PutUint32(unsigned char *at, unsigned long value)
{
    PutUint16(at, (value >> 16) & 0xFFFF);
    PutUint16(at + 2, value & 0xFFFF);
}

// Writes STX, command and length; the payload goes to frame + 4.
unsigned char *BeginFrame(unsigned char *frame, unsigned char command, unsigned long payload_length)
{
    frame[0] = STX;
    frame[1] = command;
    PutUint16(frame + 2, payload_length);
    return frame + 4;
}

// Appends the check and ETX to a frame whose payload is in place.
unsigned long EndFrame(unsigned char *frame, unsigned long &frame_length, unsigned long payload_length)
{
    unsigned char *check = frame + 4 + payload_length;
    PutUint16(check, ComputeChecksum(frame + 1, 3 + payload_length) & 0xFFFF);
    check[2] = ETX;
    frame_length = payload_length + FRAME_OVERHEAD;
    return ANSWER_LENGTH;
}

}  // namespace

uint32_t ComputeChecksum(unsigned char *data, unsigned long length)
{
    uint32_t sum = 0;
    for (unsigned long i = 0; i < length; i++)
        sum += data[i];
    return sum;
}

unsigned long FormatPOCcommand(unsigned char *frame, unsigned long &frame_length)
{
    BeginFrame(frame, COMMAND_POC, 0);
    return EndFrame(frame, frame_length, 0);
}

unsigned long FormatRESETcommand(unsigned char *frame, unsigned long &frame_length)
{
    BeginFrame(frame, COMMAND_RESET, 0);
    return EndFrame(frame, frame_length, 0);
}

unsigned long FormatSETBAUDRATEcommand(unsigned char *frame, unsigned long &frame_length, unsigned long bit_rate)
{
    unsigned char *payload = BeginFrame(frame, COMMAND_SETBAUDRATE, 5);
    payload[0] = 0x00;
    PutUint32(payload + 1, bit_rate);
    return EndFrame(frame, frame_length, 5);
}

unsigned long FormatCREATEFILEcommand(unsigned char *frame, unsigned long &frame_length, LOADER_ENV *env)
{
    unsigned char *payload = BeginFrame(frame, COMMAND_CREATEFILE, 7);
    payload[0] = static_cast<unsigned char>(env->file_id);
    PutUint16(payload + 1, env->block_count & 0xFFFF);
    PutUint32(payload + 3, env->checksum);
    return EndFrame(frame, frame_length, 7);
}

unsigned long FormatWRITEFILEBLOCK(unsigned char *frame, unsigned long &frame_length, LOADER_ENV *env,
                                   unsigned long block_number)
{
    const unsigned long header_length = 5;
    const unsigned long payload_length = header_length + BLOCK_SIZE;
    unsigned char *payload = BeginFrame(frame, COMMAND_WRITEFILEBLOCK, payload_length);
    payload[0] = static_cast<unsigned char>(env->file_id);
    PutUint16(payload + 1, block_number & 0xFFFF);
    PutUint16(payload + 3, env->block_count & 0xFFFF);

    unsigned char *data = payload + header_length;
    unsigned long offset = (block_number - 1) * BLOCK_SIZE;
    unsigned long present = 0;
    if (block_number >= 1 && offset < env->image_size) {
        present = env->image_size - offset;
        if (present > BLOCK_SIZE)
            present = BLOCK_SIZE;
        memcpy(data, env->image + offset, present);
    }
    memset(data + present, BLOCK_FILLER, BLOCK_SIZE - present);
    return EndFrame(frame, frame_length, payload_length);
}

bool IsAcknowledged(const unsigned char *answer, unsigned long count, unsigned char command)
{
    return count == ANSWER_LENGTH && answer[0] == STX && answer[1] == command && answer[4] == ACK && answer[7] == ETX;
}
