// The live page's delays, in-process as orva-sim serves it: the session with
// --serve on a free port, the simulated API under the benchmark's calls, and
// a page reading GET /events over the loopback.
//   FlushToPage: from API_Display_Update's call to the frame's arrival at the
//     page (the flush's end is found after a 2 ms pause of the panel's
//     writes, then the timeline and the stream).
//   ClickToPoll: from sending POST /actions press=record to a program's poll
//     (API_MMI_IsRecordPressed, on a thread that polls without pause) seeing
//     the button down; the program's own poll period comes on top.
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <httplib.h>

#include "API.h"
#include "sim_session.h"

namespace {

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// A page that stamps the arrival of each frame.
class Page {
public:
    explicit Page(int port) : m_client("127.0.0.1", port)
    {
        m_client.set_read_timeout(std::chrono::seconds(60));
        m_thread = std::thread([this] {
            m_client.Get("/events", [this](const char *data, size_t size) {
                long long now = NowNs();
                std::lock_guard<std::mutex> lock(m_mutex);
                m_pending.append(data, size);
                for (size_t at; (at = m_pending.find("event: frame\n")) != std::string::npos;) {
                    m_pending.erase(0, at + 1);
                    ++m_frames;
                    m_arrived = now;
                }
                m_changed.notify_all();
                return true;
            });
        });
    }
    ~Page()
    {
        m_client.stop();
        m_thread.join();
    }
    int Frames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    // The arrival of the frame after the first `seen`.
    long long WaitBeyond(int seen)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_frames > seen; });
        return m_arrived;
    }

private:
    httplib::Client m_client;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_pending;
    int m_frames = 0;
    long long m_arrived = 0;
};

// The median and the slowest tenth's lower bound of the samples, in ms:
// a loaded machine's outliers move the mean.
void Spread(benchmark::State &state, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    state.counters["p50_ms"] = samples[samples.size() / 2] * 1e3;
    state.counters["p90_ms"] = samples[samples.size() * 9 / 10] * 1e3;
}

int ServedPort()
{
    static int port = [] {
        simsession::Options options;
        options.serve = true;
        options.servePort = 0;
        options.radioPort = "none";
        simsession::Setup setup;
        setup.tool = "bench_serve";
        simsession::Start(options, setup);
        API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_MMI |
                       API_INIT_DISPLAY | API_INIT_NO_AUTOSTART);
        API_Display_SetPowerState(1);
        std::string url = simsession::ServingUrl();
        return std::stoi(url.substr(url.rfind(':') + 1));
    }();
    return port;
}

void FlushToPage(benchmark::State &state)
{
    Page page(ServedPort());
    int pixel = 0;
    std::vector<double> samples;
    for (auto _ : state) {
        int seen = page.Frames();
        API_Display_SetPixel(pixel % 128, pixel / 128 % 64, 1 - pixel / (128 * 64) % 2);
        ++pixel;
        long long sent = NowNs();
        API_Display_Update();
        samples.push_back(static_cast<double>(page.WaitBeyond(seen) - sent) / 1e9);
        state.SetIterationTime(samples.back());
    }
    Spread(state, samples);
}
BENCHMARK(FlushToPage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);

void ClickToPoll(benchmark::State &state)
{
    httplib::Client client("127.0.0.1", ServedPort());
    // As a browser does.
    client.set_tcp_nodelay(true);
    client.set_keep_alive(true);
    std::vector<double> samples;
    std::atomic<bool> polling{true};
    std::atomic<int> pressed{0};
    std::atomic<long long> changedAt{0};
    std::thread poll([&] {
        while (polling) {
            int now = 0;
            if (API_MMI_IsRecordPressed(&now) == 0 && (now != 0) != (pressed != 0)) {
                changedAt = NowNs();
                pressed = now != 0;
            }
            sched_yield();
        }
    });
    for (auto _ : state) {
        long long sent = NowNs();
        client.Post("/actions", "press=record", "text/plain");
        while (!pressed)
            sched_yield();
        samples.push_back(static_cast<double>(changedAt - sent) / 1e9);
        state.SetIterationTime(samples.back());
        client.Post("/actions", "release=record", "text/plain");
        while (pressed)
            sched_yield();
        // Within the bound of 50 actions a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(45));
    }
    polling = false;
    poll.join();
    Spread(state, samples);
}
BENCHMARK(ClickToPoll)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    API_Finalize();
    // Not waiting for Ctrl-C at exit as orva-sim does.
    simsession::StopServing();
    return 0;
}
