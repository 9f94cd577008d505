#include "sim_timeline.h"

#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

namespace simsession {

namespace {

// What is kept for late listeners and the report; the oldest go first.
const size_t kKeptEvents = 200000;
const size_t kKeptLines = 50000;

}  // namespace

bool ParseReceiverTime(const std::string &text, ReceiverMs *ms)
{
    if (text == "0") {
        *ms = 0;
        return true;
    }
    size_t digits = text.find_first_not_of("0123456789.");
    if (digits == 0 || digits == std::string::npos || text.find('.') != text.rfind('.'))
        return false;
    std::string unit = text.substr(digits);
    if (unit != "s" && unit != "ms")
        return false;
    double value = strtod(text.substr(0, digits).c_str(), nullptr) * (unit == "s" ? 1000 : 1);
    // Beyond a year of the receiver's time is a mistake.
    if (value > 365.0 * 86400000 || text[digits - 1] == '.' || text[0] == '.')
        return false;
    *ms = llround(value);
    return true;
}

std::thread QuietThread(std::function<void()> body)
{
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return thread;
}

struct Timeline::Item {
    enum class Kind { Event, Output, Frame, End, Replay };
    explicit Item(Kind k) : kind(k) {}
    Kind kind;
    uint64_t seq = 0;
    TimelineEvent event;
    OutputLine output;
    std::shared_ptr<const PanelFrame> frame;
    ReceiverMs endMs = 0;
    int replayTo = 0;
};

struct Timeline::Entry {
    TimelineListener listener;
    uint64_t since;  // the first item it is given as it comes
    std::atomic<bool> removed{false};
};

Timeline::Timeline(double timeScale)
    : m_scale(timeScale > 0 ? timeScale : 1.0), m_start(std::chrono::steady_clock::now()), m_owner(getpid())
{
    m_thread = QuietThread([this] { Run(); });
    m_threadId = m_thread.get_id();
}

Timeline::~Timeline()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

ReceiverMs Timeline::Now() const
{
    std::chrono::duration<double, std::milli> host = std::chrono::steady_clock::now() - m_start;
    return static_cast<ReceiverMs>(host.count() / m_scale);
}

std::chrono::steady_clock::time_point Timeline::HostTime(ReceiverMs ms) const
{
    auto host = std::chrono::duration<double, std::milli>(static_cast<double>(ms) * m_scale);
    return m_start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(host);
}

int Timeline::AddListener(TimelineListener listener, bool replay)
{
    auto entry = std::make_shared<Entry>();
    entry->listener = std::move(listener);
    std::lock_guard<std::mutex> lock(m_mutex);
    int id = m_nextId++;
    entry->since = m_published + 1;
    m_listeners[id] = entry;
    if (replay) {
        // Everything before it comes through the replay, everything after as it comes.
        Item item(Item::Kind::Replay);
        item.seq = ++m_published;
        item.replayTo = id;
        entry->since = item.seq + 1;
        m_queue.push_back(std::move(item));
        m_changed.notify_all();
    }
    return id;
}

void Timeline::RemoveListener(int id)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto found = m_listeners.find(id);
        if (found == m_listeners.end())
            return;
        found->second->removed = true;
        m_listeners.erase(found);
    }
    if (std::this_thread::get_id() != m_threadId)
        std::lock_guard<std::mutex> wait(m_delivering);
}

void Timeline::Publish(const std::string &source, const std::string &text) { Publish(source, text, Now()); }

void Timeline::Publish(const std::string &source, const std::string &text, ReceiverMs ms)
{
    Item item(Item::Kind::Event);
    item.event = TimelineEvent{ms, source, text};
    Enqueue(std::move(item));
}

void Timeline::PublishOutput(Stream stream, const std::string &text)
{
    Item item(Item::Kind::Output);
    item.output = OutputLine{Now(), stream, text};
    Enqueue(std::move(item));
}

void Timeline::PublishFrame(PanelFrame frame)
{
    frame.ms = Now();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        frame.number = ++m_frames;
    }
    Item item(Item::Kind::Frame);
    item.frame = std::make_shared<const PanelFrame>(frame);
    Enqueue(std::move(item));
}

void Timeline::End()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_ended)
            return;
        m_ended = true;
    }
    Item item(Item::Kind::End);
    item.endMs = Now();
    Enqueue(std::move(item));
}

bool Timeline::Ended() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ended;
}

void Timeline::Flush()
{
    if (std::this_thread::get_id() == m_threadId)
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    uint64_t target = m_published;
    m_changed.wait(lock, [&] { return m_delivered >= target; });
}

std::vector<TimelineEvent> Timeline::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<TimelineEvent>(m_events.begin(), m_events.end());
}

std::vector<OutputLine> Timeline::Output() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<OutputLine>(m_output.begin(), m_output.end());
}

bool Timeline::LastFrame(PanelFrame *frame) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_lastFrame)
        return false;
    *frame = *m_lastFrame;
    return true;
}

void Timeline::Enqueue(Item item)
{
    // A child the program forked shares the session but has no timeline thread.
    if (getpid() != m_owner)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    item.seq = ++m_published;
    m_queue.push_back(std::move(item));
    m_changed.notify_all();
}

void Timeline::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [&] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            return;
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        std::vector<std::shared_ptr<Entry>> to;
        if (item.kind == Item::Kind::Replay) {
            auto found = m_listeners.find(item.replayTo);
            if (found != m_listeners.end())
                to.push_back(found->second);
        } else {
            for (const auto &listener : m_listeners)
                if (listener.second->since <= item.seq)
                    to.push_back(listener.second);
        }
        // A replay hands out what was kept up to here, which this copy fixes.
        std::vector<Item> replay;
        if (item.kind == Item::Kind::Replay) {
            auto event = m_events.begin();
            auto output = m_output.begin();
            while (event != m_events.end() || output != m_output.end()) {
                bool takeEvent = output == m_output.end() || (event != m_events.end() && event->ms <= output->ms);
                Item kept(takeEvent ? Item::Kind::Event : Item::Kind::Output);
                if (takeEvent)
                    kept.event = *event++;
                else
                    kept.output = *output++;
                replay.push_back(std::move(kept));
            }
            if (m_lastFrame) {
                Item frame(Item::Kind::Frame);
                frame.frame = std::make_shared<const PanelFrame>(*m_lastFrame);
                replay.push_back(std::move(frame));
            }
            if (m_endKept) {
                Item end(Item::Kind::End);
                end.endMs = m_endMs;
                replay.push_back(end);
            }
        } else {
            Keep(item);
        }
        lock.unlock();
        {
            std::lock_guard<std::mutex> delivering(m_delivering);
            if (item.kind == Item::Kind::Replay) {
                for (const Item &kept : replay)
                    Deliver(kept, to);
            } else {
                Deliver(item, to);
            }
        }
        lock.lock();
        m_delivered = item.seq;
        m_changed.notify_all();
    }
}

// Caller holds m_mutex.
void Timeline::Keep(const Item &item)
{
    switch (item.kind) {
    case Item::Kind::Event:
        m_events.push_back(item.event);
        if (m_events.size() > kKeptEvents)
            m_events.pop_front();
        break;
    case Item::Kind::Output:
        m_output.push_back(item.output);
        if (m_output.size() > kKeptLines)
            m_output.pop_front();
        break;
    case Item::Kind::Frame: m_lastFrame = std::make_unique<PanelFrame>(*item.frame); break;
    case Item::Kind::End:
        m_endKept = true;
        m_endMs = item.endMs;
        break;
    case Item::Kind::Replay: break;
    }
}

void Timeline::Deliver(const Item &item, const std::vector<std::shared_ptr<Entry>> &to)
{
    for (const auto &entry : to) {
        if (entry->removed)
            continue;
        const TimelineListener &listener = entry->listener;
        switch (item.kind) {
        case Item::Kind::Event:
            if (listener.event)
                listener.event(item.event);
            break;
        case Item::Kind::Output:
            if (listener.output)
                listener.output(item.output);
            break;
        case Item::Kind::Frame:
            if (listener.frame)
                listener.frame(*item.frame);
            break;
        case Item::Kind::End:
            if (listener.end)
                listener.end(item.endMs);
            break;
        case Item::Kind::Replay: break;
        }
    }
}

}  // namespace simsession
