// The session's bus: the receiver's clock, and what happens on the simulated
// receiver as it happens, for every front end (the report, the command
// line's events, scenario runners, a live page).
//
// Receiver time: milliseconds since the program started, as the program
// lives it: host time since the session started divided by the time scale
// (at 0.05 one host millisecond is 20 receiver milliseconds).  A time scale
// of 0 (sleeps take no time at all) has no clock of its own: receiver time is
// host time then.
//
// Publishers (device logs, actions, the application's output, the panel) may
// be on any thread, including ones that hold a device model's lock: a publish
// only queues.  One thread delivers to the listeners, in publishing order, so
// a listener may do anything (perform an action, add or remove listeners)
// but should not block for long.
#ifndef ORVA_TOOLS_SIM_TIMELINE_H
#define ORVA_TOOLS_SIM_TIMELINE_H

#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace simsession {

// Milliseconds of the receiver's time since the program started.
using ReceiverMs = int64_t;

struct TimelineEvent {
    ReceiverMs ms = 0;
    // Who: "action", "gnss" (the PPS pulses), or the first word of a device
    // log's name: "pmu", "gpio", "extender", "watchdog", "display", "gsm",
    // "bluetooth", "radio".
    std::string source;
    std::string text;  // one line
};

enum class Stream { Stdout = 1, Stderr = 2 };

// A line the application wrote, without its newline (a last line without one
// comes at the end).
struct OutputLine {
    ReceiverMs ms = 0;
    Stream stream = Stream::Stdout;
    std::string text;
};

// The panel after a flush that changed it, or when its supply switched.
struct PanelFrame {
    static constexpr size_t kRamSize = 1024;
    ReceiverMs ms = 0;
    int number = 0;                       // 1, 2, ... in publishing order
    std::array<uint8_t, kRamSize> ram{};  // 8 pages of 128 columns, bit 0 a page's top row
    bool supplyOn = false;                // the PMU's display supply
    int contrast = -1;                    // -1 until the program set one
    // The panel lights what its RAM holds: its supply is on.
    bool Shown() const { return supplyOn; }
};

// Any of the members may be empty.  They run on the timeline's thread.
struct TimelineListener {
    std::function<void(const TimelineEvent &)> event;
    std::function<void(const PanelFrame &)> frame;
    std::function<void(const OutputLine &)> output;
    // The program ended (main returned, exit, or a stopping signal), at that
    // receiver time.  Delivery goes on: the receiver may outlive the program.
    std::function<void(ReceiverMs)> end;
};

// "2s", "1.5s", "1500ms" or "0"; false for anything else.
bool ParseReceiverTime(const std::string &text, ReceiverMs *ms);

// A thread of the simulator inside the program's process: it blocks every
// signal, so that the drivers' signals reach the program's own threads.
std::thread QuietThread(std::function<void()> body);

class Timeline {
public:
    explicit Timeline(double timeScale);
    // Delivers what is queued, then stops its thread.
    ~Timeline();
    Timeline(const Timeline &) = delete;
    Timeline &operator=(const Timeline &) = delete;

    ReceiverMs Now() const;
    // The factor the clock runs by (1 for a time scale of 0).
    double TimeScale() const { return m_scale; }
    // The host instant of a receiver time.
    std::chrono::steady_clock::time_point HostTime(ReceiverMs ms) const;

    // With `replay`, the listener first gets everything delivered so far (the
    // events and output lines kept, the last frame), then what follows, with
    // nothing missed or repeated.  Gives the listener's id.
    int AddListener(TimelineListener listener, bool replay = false);
    // Once it returns the listener is not called again (from within one of
    // its own calls, after that call).
    void RemoveListener(int id);

    void Publish(const std::string &source, const std::string &text);
    // Stamped with a time the publisher took (when what it tells began).
    void Publish(const std::string &source, const std::string &text, ReceiverMs ms);
    void PublishOutput(Stream stream, const std::string &text);
    // Stamps the frame's time and number.
    void PublishFrame(PanelFrame frame);
    // The end of the program, once.
    void End();
    bool Ended() const;

    // Returns once everything published before the call has been delivered
    // (at once on the timeline's own thread).
    void Flush();

    // What was delivered so far, oldest first; the oldest go beyond a limit.
    std::vector<TimelineEvent> Events() const;
    std::vector<OutputLine> Output() const;
    bool LastFrame(PanelFrame *frame) const;

private:
    struct Item;
    struct Entry;

    void Enqueue(Item item);
    void Run();
    void Deliver(const Item &item, const std::vector<std::shared_ptr<Entry>> &to);
    void Keep(const Item &item);

    const double m_scale;
    const std::chrono::steady_clock::time_point m_start;
    const pid_t m_owner;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Item> m_queue;
    uint64_t m_published = 0;
    uint64_t m_delivered = 0;
    bool m_stopping = false;
    bool m_ended = false;
    bool m_endKept = false;
    ReceiverMs m_endMs = 0;
    int m_nextId = 1;
    int m_frames = 0;
    std::map<int, std::shared_ptr<Entry>> m_listeners;
    std::deque<TimelineEvent> m_events;
    std::deque<OutputLine> m_output;
    std::unique_ptr<PanelFrame> m_lastFrame;
    // Held while listeners are called: a removal waits for the call to end.
    std::mutex m_delivering;
    std::thread::id m_threadId;
    std::thread m_thread;
};

}  // namespace simsession

#endif
