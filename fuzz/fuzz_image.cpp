// The firmware image file: classification, block count and checksum, and the
// CREATEFILE and WRITEFILEBLOCK frames built from the result.
//
// Input: a flags byte, then the file's bytes.  Flag 1 puts a bootloader part
// (0xDE 0xAD and filler up to 0xC100) in front, so the bootloader layout is
// reached without 48 KiB inputs.
#include <stdlib.h>
#include <zlib.h>

#include "fuzz_support.h"
#include "orvaflash.h"

namespace {

const char kImagePath[] = "/mnt/usbdisk/adl_fw.bin";

unsigned Uint16At(const unsigned char *at) { return static_cast<unsigned>(at[0] << 8 | at[1]); }

uint32_t Uint32At(const unsigned char *at) { return static_cast<uint32_t>(Uint16At(at)) << 16 | Uint16At(at + 2); }

// Frame structure every builder must keep: STX, command, length, payload,
// the 16-bit sum of command, length and payload, ETX.
void CheckFrame(const unsigned char *frame, unsigned long length, unsigned char command)
{
    unsigned long payload = Uint16At(frame + 2);
    if (frame[0] != 0x02 || frame[1] != command || length != payload + 7 || frame[length - 1] != 0x03)
        abort();
    unsigned sum = 0;
    for (unsigned long i = 1; i < 4 + payload; ++i)
        sum += frame[i];
    if (Uint16At(frame + 4 + payload) != (sum & 0xFFFF))
        abort();
}

void CheckBlock(LOADER_ENV &env, unsigned long block)
{
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long length = 0;
    FormatWRITEFILEBLOCK(frame, length, &env, block);
    CheckFrame(frame, length, COMMAND_WRITEFILEBLOCK);
    if (Uint16At(frame + 5) != (block & 0xFFFF) || Uint16At(frame + 7) != env.block_count)
        abort();
    const unsigned char *data = frame + 9;
    unsigned long offset = (block - 1) * BLOCK_SIZE;
    for (unsigned long i = 0; i < BLOCK_SIZE; ++i) {
        bool inImage = block >= 1 && offset + i < env.image_size;
        if (data[i] != (inImage ? env.image[offset + i] : 0xFF))
            abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input input{data, size};
    const bool bootloader = input.Byte() & 1;
    std::string file;
    if (bootloader) {
        file.assign(BOOTLOADER_PART_SIZE, '\xFF');
        file[0] = '\xDE';
        file[1] = '\xAD';
    }
    file += input.Rest();
    fuzz::TheReceiver().CreateFile(kImagePath, file);

    LOADER_ENV env;
    memset(&env, 0, sizeof env);
    env.file_name = kImagePath;
    env.log_fd = -1;
    if (LoadImageFile(&env) != 0) {
        if (env.image != nullptr)
            abort();
        return 0;
    }

    // Only a file holding an application image is taken, and the image is its tail.
    if (env.image_size < 2 || env.image[0] != 0xCA || env.image[1] != 0xFE || env.image_size > file.size() ||
        memcmp(env.image, file.data() + (file.size() - env.image_size), env.image_size) != 0)
        abort();
    if (env.block_count != (env.image_size + BLOCK_SIZE - 1) / BLOCK_SIZE)
        abort();
    if (env.checksum != adler32(1, env.image, env.image_size))
        abort();

    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long length = 0;
    FormatCREATEFILEcommand(frame, length, &env);
    CheckFrame(frame, length, COMMAND_CREATEFILE);
    if (Uint16At(frame + 5) != env.block_count || Uint32At(frame + 7) != env.checksum)
        abort();
    CheckBlock(env, 1);
    CheckBlock(env, env.block_count);
    CheckBlock(env, env.block_count + 1);
    free(env.image);
    return 0;
}
