// The radio's answers as the loader checks them: the command-mode model,
// version and hard-reset answers, the POC acknowledgement of the bootloader
// entry, and the acknowledgements of CREATEFILE, SETBAUDRATE, WRITEFILEBLOCK
// and RESET.
//
// Input: a flags byte, then the script of the radio's answers, taken one per
// query or frame the loader sends: a length byte (255: 255 plus the next
// byte) and that many bytes.  Once the script is used up the radio answers
// correctly, so every run comes to its end quickly.
#include <stdlib.h>

#include <memory>

#include "Commun.h"
#include "fuzz_support.h"
#include "orvaflash.h"
#include "scripted_radio.h"

namespace {

const char kPort[] = "/dev/ttyS4";  // not the internal radio: no power switching

// A bootloader frame and its answer, checked as the load sequence does.
void Exchange(LOADER_ENV &env, const unsigned char *frame, unsigned long length, unsigned long answerLength,
              unsigned char command, unsigned timeoutMs)
{
    unsigned char answer[ANSWER_BUFFER_SIZE];
    memset(answer, 0xA5, sizeof answer);
    SendComPortBlock(&env, frame, length);
    unsigned long count = ReceiveComPort(&env, reinterpret_cast<char *>(answer), answerLength, timeoutMs);
    if (count > answerLength || answer[count] != 0)
        abort();
    IsAcknowledged(answer, count, command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input{data, size};
    const uint8_t flags = input.Byte();
    auto radio = std::make_shared<simtest::ScriptedRadio>();
    radio->failOpensFrom = flags & 1 ? 2 : 0;
    for (int request = 1; input.Left() > 0; ++request) {
        size_t length = input.Byte();
        radio->answers[request] = {input.Bytes(length == 255 ? length + input.Byte() : length)};
    }
    fuzz::TheReceiver().AddDevice(kPort, radio);
    gl_debug_level = 2 + (flags >> 1) % 3;

    LOADER_ENV env;
    memset(&env, 0, sizeof env);
    env.log_fd = -1;
    env.port_name = kPort;
    env.speed_name = DEFAULT_SPEED;
    env.image_size = 1 + ((flags >> 3) & 3) * BLOCK_SIZE;
    env.image = static_cast<unsigned char *>(calloc(env.image_size, 1));
    env.block_count = (env.image_size + BLOCK_SIZE - 1) / BLOCK_SIZE;
    if (OpenSerialPort(&env) < 0)
        abort();

    int entered = SwitchToPOCMode(&env);
    if (entered < 0) {
        // The port could not be reopened and the power-off has run.
        if (env.image != nullptr)
            abort();
        return 0;
    }
    if (entered == 1) {
        unsigned char frame[MAX_FRAME_LENGTH];
        unsigned long length = 0;
        unsigned long answerLength = FormatCREATEFILEcommand(frame, length, &env);
        Exchange(env, frame, length, answerLength, COMMAND_CREATEFILE, 200);
        answerLength = FormatSETBAUDRATEcommand(frame, length, 115200);
        Exchange(env, frame, length, answerLength, COMMAND_SETBAUDRATE, 100);
        Download(&env);
        answerLength = FormatRESETcommand(frame, length);
        Exchange(env, frame, length, answerLength, COMMAND_RESET, 10000);
    }
    CloseSerialPort(&env);
    free(env.image);
    return 0;
}
