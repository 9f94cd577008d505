// A scenario carried out inside the program's process: one thread performs
// the steps in order; the timeline's listener files what happens as items,
// each of one stream (the program's output, the panel, a device log's
// source).  A check takes items of its own stream only, so that streams that
// reach the timeline by different paths (the output through a pipe, a PMU
// request at once) may come in any order between them.
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "sim_scenario.h"

namespace simsession {

namespace {

const size_t kLinesShown = 6;
// Items not looked at by any check are dropped beyond this many.
const size_t kItemsKept = 100000;
// Host time a program has to end once stopped, and the session to hear the
// verdict.
const auto kStopGrace = std::chrono::seconds(10);
const auto kVerdictGrace = std::chrono::seconds(30);

using Kind = ScenarioStep::Kind;

bool Holds(const std::string &line, const std::string &text) { return line.find(text) != std::string::npos; }

int Differences(const sim::PanelRam &seen, const ScenarioStep &step)
{
    int count = 0;
    for (size_t i = 0; i < seen.size(); ++i)
        count += __builtin_popcount(static_cast<unsigned>((seen[i] ^ step.reference[i]) & ~step.ignored[i]) & 0xFFu);
    return count;
}

// A log line's bytes back from their printable form (\xNN escapes).
std::string Unprintable(const std::string &text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
            isxdigit(static_cast<unsigned char>(text[i + 2])) && isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            bytes += static_cast<char>(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

// What a line of the modem's or the Bluetooth module's log says the program
// sent: a command line, or payload ("host data: 12 bytes: ..."), whose shown
// bytes may have been cut ("...").  False for the peer's own lines.
bool SentBytes(const TimelineEvent &event, std::string *bytes, bool *payload)
{
    bool gsm = event.source == "gsm";
    const std::string command = gsm ? "host: " : "> ", data = gsm ? "host data: " : "> data ";
    if (event.text.compare(0, data.size(), data) == 0) {
        size_t colon = event.text.find(": ", data.size());
        if (colon == std::string::npos)
            return false;
        std::string shown = event.text.substr(colon + 2);
        size_t count = strtoul(event.text.c_str() + data.size(), nullptr, 10);
        *bytes = Unprintable(shown);
        if (bytes->size() > count && shown.size() >= 3 && shown.compare(shown.size() - 3, 3, "...") == 0)
            bytes->resize(bytes->size() - 3);
        *payload = true;
        return true;
    }
    if (event.text.compare(0, command.size(), command) != 0)
        return false;
    *bytes = Unprintable(event.text.substr(command.size()));
    *payload = false;
    return true;
}

std::string Stem(const std::string &path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

// What the messages of a failed step show.
struct ScenarioRunner::Lines {
    std::map<std::string, std::deque<std::string>> last;  // by source, "output", "sent to gsm"
    std::map<std::string, std::string> open;              // payload not ended by a newline, by peer
    int frames = 0;

    void Keep(const std::string &source, ReceiverMs ms, const std::string &line)
    {
        std::deque<std::string> &kept = last[source];
        kept.push_back(std::to_string(ms) + " ms: " + line);
        if (kept.size() > kLinesShown)
            kept.pop_front();
    }
};

ScenarioRunner::ScenarioRunner(Scenario scenario, ScenarioHooks hooks)
    : m_scenario(std::move(scenario)), m_hooks(std::move(hooks)), m_lines(std::make_unique<Lines>())
{
    TimelineListener listener;
    auto file = [this](Item item) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_items.size() >= kItemsKept)
            m_items.pop_front();
        m_items.push_back(std::move(item));
        m_changed.notify_all();
    };
    listener.output = [this, file](const OutputLine &line) {
        Item item;
        item.stream = Item::Stream::Output;
        item.ms = line.ms;
        item.text = line.text;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines->Keep("output", line.ms, line.text);
        }
        file(std::move(item));
    };
    listener.frame = [this, file](const PanelFrame &frame) {
        Item item;
        item.stream = Item::Stream::Frame;
        item.ms = frame.ms;
        auto screen = std::make_shared<sim::PanelRam>();
        std::copy(frame.ram.begin(), frame.ram.end(), screen->begin());
        item.screen = screen;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_screen = *screen;
            m_lines->frames++;
        }
        file(std::move(item));
    };
    listener.event = [this](const TimelineEvent &event) {
        Item item;
        item.ms = event.ms;
        item.source = event.source;
        item.text = event.text;
        std::string bytes;
        bool payload = false;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines->Keep(event.source, event.ms, item.text);
        if ((event.source == "gsm" || event.source == "bluetooth") && SentBytes(event, &bytes, &payload)) {
            std::string &open = m_lines->open[event.source];
            std::string text = payload ? open + bytes : bytes;
            size_t start = 0;
            for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
                std::string line = text.substr(start, end - start);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                item.sent.push_back(line);
            }
            if (payload) {
                open = text.substr(start);
                if (!open.empty())
                    item.sent.push_back(open);
            } else if (start < text.size()) {
                item.sent.push_back(text.substr(start));
            }
            for (const std::string &line : item.sent)
                m_lines->Keep("sent to " + event.source, event.ms, line);
        }
        if (m_items.size() >= kItemsKept)
            m_items.pop_front();
        m_items.push_back(std::move(item));
        m_changed.notify_all();
    };
    listener.end = [this](ReceiverMs ms) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ended = true;
        m_endMs = ms;
        m_changed.notify_all();
    };
    m_listener = m_hooks.timeline.AddListener(std::move(listener));
}

ScenarioRunner::~ScenarioRunner()
{
    m_hooks.timeline.RemoveListener(m_listener);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ScenarioRunner::Start()
{
    // The actions a scenario opens with set the receiver up before the
    // program starts, as --at 0 does.  One refused is the thread's to tell.
    for (; m_first < m_scenario.steps.size(); ++m_first) {
        const ScenarioStep &step = m_scenario.steps[m_first];
        if (step.kind != Kind::Do || step.at > 0 || !m_hooks.control.Perform(step.action).done)
            break;
        Say(step.Name() + " held before the program started");
    }
    m_thread = QuietThread([this] { Run(); });
}

int ScenarioRunner::Verdict()
{
    bool reached;
    int verdict;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        reached = m_changed.wait_for(lock, kVerdictGrace, [this] { return m_verdict >= 0; });
        verdict = reached ? m_verdict : 1;
    }
    // The run ends right after its verdict; joined, it is no thread left
    // behind by the process's end (unless it is the one ending it).
    if (reached && m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    return verdict;
}

void ScenarioRunner::Say(const std::string &line) { m_hooks.say("scenario " + m_scenario.path + ": " + line); }

void ScenarioRunner::Run()
{
    for (size_t i = m_first; i < m_scenario.steps.size(); ++i) {
        const ScenarioStep &step = m_scenario.steps[i];
        std::vector<std::string> failure;
        if (RunStep(step, &failure)) {
            Say(step.Name() + " held at " + std::to_string(m_hooks.timeline.Now()) + " ms");
            continue;
        }
        Say(step.Name() + " FAILED at " + failure[0]);
        for (size_t line = 1; line < failure.size(); ++line)
            m_hooks.say("  " + failure[line]);
        if (!Conclude(1))
            StopProgram();
        return;
    }
    bool ended = Conclude(0);
    if (ended || m_scenario.WaitsForExit()) {
        Say("every step held");
        return;
    }
    Say("every step held; stopping the program");
    StopProgram();
}

// Through the session's end, which a program's own SIGTERM handler may
// hold up; a program that outlives it is ended all the same.
void ScenarioRunner::StopProgram()
{
    m_hooks.stopProgram();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_changed.wait_for(lock, kStopGrace, [this] { return m_ended || m_stopping; }))
        return;
    m_verdict = 1;
    lock.unlock();
    Say("the program did not end within 10 s of SIGTERM");
    m_hooks.forceEnd();
}

bool ScenarioRunner::Conclude(int verdict)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_verdict = verdict;
    m_changed.notify_all();
    return m_ended;
}

bool ScenarioRunner::WaitUntil(std::unique_lock<std::mutex> &lock, ReceiverMs ms)
{
    auto host = m_hooks.timeline.HostTime(ms);
    m_changed.wait_until(lock, host, [&] { return m_ended || m_stopping; });
    return !m_ended && !m_stopping;
}

bool ScenarioRunner::Next(std::unique_lock<std::mutex> &lock, ReceiverMs until,
                          const std::function<bool(const Item &)> &wanted, Item *item)
{
    size_t looked = 0;
    for (;;) {
        for (; looked < m_items.size(); ++looked) {
            if (!wanted(m_items[looked]))
                continue;
            *item = std::move(m_items[looked]);
            m_items.erase(m_items.begin() + static_cast<long>(looked));
            return item->ms <= until;
        }
        if (m_ended || m_stopping || m_hooks.timeline.Now() > until)
            return false;
        size_t before = m_items.size();
        m_changed.wait_until(lock, m_hooks.timeline.HostTime(until + 1),
                             [&] { return m_items.size() != before || m_ended || m_stopping; });
        // An item dropped at the front moves the rest.
        looked = std::min(looked, m_items.size());
    }
}

std::string ScenarioRunner::EndText()
{
    ProgramEnd end = m_hooks.programEnd();
    std::string how = !end.known      ? ""
                      : end.signalled ? " (ended by signal " + std::to_string(end.status - 128) + ")"
                                      : " (exit status " + std::to_string(end.status) + ")";
    return "the program ended at " + std::to_string(m_endMs) + " ms" + how;
}

bool ScenarioRunner::RunStep(const ScenarioStep &step, std::vector<std::string> *failure)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (step.at >= 0)
        WaitUntil(lock, step.at);
    ReceiverMs begin = m_hooks.timeline.Now();
    ReceiverMs until = begin + step.within;
    auto fail = [&](const std::string &why) {
        failure->push_back(std::to_string(m_ended ? m_endMs : m_hooks.timeline.Now()) + " ms: " + why);
        return false;
    };
    switch (step.kind) {
    case Kind::Do: {
        // What came before the action is no answer to it.
        lock.unlock();
        m_hooks.timeline.Flush();
        lock.lock();
        m_items.clear();
        if (m_ended || m_stopping)
            return fail(EndText());
        lock.unlock();
        Outcome outcome = m_hooks.control.Perform(step.action);
        lock.lock();
        return outcome.done || fail("refused: " + outcome.text);
    }
    case Kind::Wait: WaitUntil(lock, begin + step.duration); return true;
    case Kind::Exit: {
        Item item;
        while (Next(
            lock, until, [](const Item &) { return true; }, &item)) {
        }
        ProgramEnd end = m_hooks.programEnd();
        if (m_ended && (step.status < 0 || (end.known && !end.signalled && end.status == step.status)))
            return true;
        fail(m_ended ? EndText()
                     : "the program was still running " + std::to_string(step.within) + " ms after the step began");
        Explain(step, failure);
        return false;
    }
    default: break;
    }
    std::function<bool(const Item &)> wanted = [&step](const Item &item) {
        switch (step.kind) {
        case Kind::Screen: return item.stream == Item::Stream::Frame;
        case Kind::Output: return item.stream == Item::Stream::Output;
        case Kind::Log: return item.stream == Item::Stream::Event && item.source == step.source;
        case Kind::Pmu: return item.stream == Item::Stream::Event && item.source == "pmu";
        default:
            return item.stream == Item::Stream::Event && !item.sent.empty() &&
                   (step.source.empty() || item.source == step.source);
        }
    };
    if (step.kind == Kind::Screen && Differences(m_screen, step) == 0)
        return true;
    Item item;
    while (Next(lock, until, wanted, &item)) {
        if (step.kind == Kind::Screen   ? Differences(*item.screen, step) == 0
            : step.kind == Kind::Serial ? std::any_of(item.sent.begin(), item.sent.end(),
                                                      [&](const std::string &line) { return Holds(line, step.text); })
                                        : Holds(item.text, step.text))
            return true;
    }
    fail(m_ended || m_stopping ? EndText() + " before it held"
                               : "not seen within " + std::to_string(step.within) + " ms");
    Explain(step, failure);
    return false;
}

// What was seen instead, and the pictures of the screen.
void ScenarioRunner::Explain(const ScenarioStep &step, std::vector<std::string> *lines)
{
    std::string shown, source;
    switch (step.kind) {
    case Kind::Output: source = "output", shown = "the program's last lines"; break;
    case Kind::Log: source = step.source, shown = "the last lines of " + step.source; break;
    case Kind::Pmu: source = "pmu", shown = "the last PMU requests"; break;
    case Kind::Serial:
        source = "sent to " + (step.source.empty() ? std::string("gsm") : step.source);
        shown = "the last lines " + source;
        break;
    default: break;
    }
    if (!source.empty()) {
        const std::deque<std::string> &last = m_lines->last[source];
        lines->push_back(!last.empty()               ? shown + ":"
                         : step.kind == Kind::Output ? std::string("nothing printed")
                         : step.kind == Kind::Serial ? "nothing " + source
                                                     : "nothing of " + source);
        for (const std::string &line : last)
            lines->push_back("  " + line);
        if (step.kind == Kind::Serial && step.source.empty())
            for (const std::string &line : m_lines->last["sent to bluetooth"])
                lines->push_back("  bluetooth " + line);
    }
    std::string base = m_hooks.outputDirectory + "/" + Stem(m_scenario.path) + "-step" + std::to_string(step.number);
    std::string error;
    if (sim::WritePanelPng(m_screen, base + "-screen.png", &error))
        lines->push_back("the screen (" + std::to_string(m_lines->frames) + " frames so far): " + base + "-screen.png");
    else
        lines->push_back("the screen: " + error);
    if (step.kind != Kind::Screen)
        return;
    lines->push_back("it differs from " + step.text + " in " + std::to_string(Differences(m_screen, step)) + " pixels");
    if (sim::WritePanelDifferencePng(m_screen, step.reference, step.ignored, base + "-difference.png", &error))
        lines->push_back("the differences (red: lit only on the screen, blue: only in the picture): " + base +
                         "-difference.png");
    else
        lines->push_back("the differences: " + error);
}

}  // namespace simsession
