// Device API work that the receiver's applications repeat: finding a text in
// a modem answer, and flushing the display's screen mirror to the simulated
// display controller.
#include <string.h>

#include <string>

#include <benchmark/benchmark.h>

#include "API_Display.h"
#include "API_GSM.h"
#include "internal/API_GSM.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

namespace {

// The modem's answer buffer holding `answer`.
void SetGsmAnswer(const std::string &answer)
{
    size_t length = answer.size() < sizeof Buffer_Cmd ? answer.size() : sizeof Buffer_Cmd;
    memcpy(Buffer_Cmd, answer.data(), length);
    Buffer_Cmd_Length = static_cast<int32_t>(length);
}

// A signal-quality answer as the modem sends it, parsed as the GSM unit does:
// find the field, then read its digits.
void BM_GsmAnswer_ShortField(benchmark::State &state)
{
    SetGsmAnswer("\r\n+CSQ: 23,0\r\n\r\nOK\r\n");
    for (auto _ : state) {
        const char *field = s_GsmFindInAnswer("+CSQ: ");
        benchmark::DoNotOptimize(s_GsmAnswerByte(field, 6));
        benchmark::DoNotOptimize(s_GsmAnswerByte(field, 7));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_GsmAnswer_ShortField);

// The worst case: a full 4096-byte answer buffer (socket data with zero
// bytes in it) searched for a text that is only at its end, or absent.
void BM_GsmAnswer_FullBuffer(benchmark::State &state)
{
    const bool present = state.range(0) != 0;
    std::string answer(GSM_ANSWER_SIZE, '\0');
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = static_cast<char>(i % 7 == 0 ? 0 : 'A' + i % 26);
    const std::string tail = present ? "\r\nOK\r\n" : "\r\nOX\r\n";
    answer.replace(answer.size() - tail.size(), tail.size(), tail);
    SetGsmAnswer(answer);
    for (auto _ : state)
        benchmark::DoNotOptimize(s_GsmFindInAnswer("\r\nOK\r\n"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * GSM_ANSWER_SIZE);
}
BENCHMARK(BM_GsmAnswer_FullBuffer)->ArgName("found")->Arg(1)->Arg(0);

// A simulated receiver with the display open, as the display tests use it.
struct DisplayBench {
    DisplayBench() : receiver(Options()), board(receiver) { API_Display_Reset(); }
    ~DisplayBench() { API_Display_Cleanup(); }
    static sim::ReceiverOptions Options()
    {
        sim::ReceiverOptions options;
        options.timeScale = 0.001;
        return options;
    }
    sim::Receiver receiver;
    sim::StandardBoard board;
};

// Flushing after a change on every page (the whole screen is sent), on one
// page, and on none.
void BM_DisplayUpdate(benchmark::State &state)
{
    DisplayBench bench;
    const int kind = static_cast<int>(state.range(0));
    int flip = 0;
    for (auto _ : state) {
        if (kind == 0) {
            for (int y = 0; y < 64; y += 8)  // one pixel on each of the 8 pages
                API_Display_SetPixel(0, y, flip);
        } else if (kind == 1)
            API_Display_SetPixel(64, 32, flip);
        flip ^= 1;
        if (API_Display_Update() != 0) {
            state.SkipWithError("API_Display_Update failed");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_DisplayUpdate)->ArgName("change")->Arg(0)->Arg(1)->Arg(2);

}  // namespace
