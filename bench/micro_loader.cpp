// The loader's per-image and per-block work, in-process: the Adler-32 over
// the largest image, each bootloader frame, and the check of each answer.
#include <string.h>

#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "orvaflash.h"

namespace {

// The largest image the bootloader accepts (65535 blocks), with bytes that
// vary so that nothing is folded away.
const std::vector<unsigned char> &LargestImage()
{
    static const std::vector<unsigned char> image = [] {
        std::vector<unsigned char> bytes(MAX_IMAGE_SIZE);
        uint32_t state = 0x12345678;
        for (unsigned char &byte : bytes) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<unsigned char>(state >> 24);
        }
        return bytes;
    }();
    return image;
}

LOADER_ENV EnvWithLargestImage()
{
    LOADER_ENV env;
    memset(&env, 0, sizeof env);
    env.image = const_cast<unsigned char *>(LargestImage().data());
    env.image_size = static_cast<uint32_t>(LargestImage().size());
    env.block_count = MAX_BLOCK_COUNT;
    env.log_fd = -1;
    return env;
}

void BM_Adler32_LargestImage(benchmark::State &state)
{
    const std::vector<unsigned char> &image = LargestImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(ComputeAdler32(image.data(), image.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_Adler32_LargestImage)->Unit(benchmark::kMillisecond);

// zlib's optimised Adler-32 on the same bytes, for scale.
void BM_Adler32_LargestImage_Zlib(benchmark::State &state)
{
    const std::vector<unsigned char> &image = LargestImage();
    for (auto _ : state)
        benchmark::DoNotOptimize(adler32(adler32(0, nullptr, 0), image.data(), static_cast<uInt>(image.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_Adler32_LargestImage_Zlib)->Unit(benchmark::kMillisecond);

// One WRITEFILEBLOCK frame per iteration, walking through every block of the
// largest image (the last one included) as a download does.
void BM_FormatWRITEFILEBLOCK(benchmark::State &state)
{
    LOADER_ENV env = EnvWithLargestImage();
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length = 0;
    unsigned long block = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatWRITEFILEBLOCK(frame, frame_length, &env, block));
        benchmark::ClobberMemory();
        block = block == MAX_BLOCK_COUNT ? 1 : block + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BLOCK_SIZE);
}
BENCHMARK(BM_FormatWRITEFILEBLOCK);

// The short frames of a run: POC, CREATEFILE, SETBAUDRATE and RESET.
void BM_FormatControlFrames(benchmark::State &state)
{
    LOADER_ENV env = EnvWithLargestImage();
    env.checksum = 0x1234ABCD;
    unsigned char frame[MAX_FRAME_LENGTH];
    unsigned long frame_length = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatPOCcommand(frame, frame_length));
        benchmark::DoNotOptimize(FormatCREATEFILEcommand(frame, frame_length, &env));
        benchmark::DoNotOptimize(FormatSETBAUDRATEcommand(frame, frame_length, 115200));
        benchmark::DoNotOptimize(FormatRESETcommand(frame, frame_length));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 4);
}
BENCHMARK(BM_FormatControlFrames);

// The check of every 8-byte answer: an acknowledgement, a refusal, and a
// short answer.
void BM_IsAcknowledged(benchmark::State &state)
{
    const unsigned char answers[3][ANSWER_LENGTH] = {
        {0x02, COMMAND_WRITEFILEBLOCK, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03},
        {0x02, COMMAND_WRITEFILEBLOCK, 0x00, 0x01, 0x15, 0x00, 0x22, 0x03},
        {0x02, COMMAND_WRITEFILEBLOCK, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03},
    };
    const unsigned long counts[3] = {ANSWER_LENGTH, ANSWER_LENGTH, 5};
    unsigned index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(IsAcknowledged(answers[index], counts[index], COMMAND_WRITEFILEBLOCK));
        index = index == 2 ? 0 : index + 1;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_IsAcknowledged);

}  // namespace
