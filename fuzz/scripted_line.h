// A serial line whose far end is played by the fuzz target, for units whose
// receive task reads the line.  Each chunk handed to the task is waited for
// until the task has dealt with it and reads again, so that a run replays the
// same events every time.  The line stands at the board path in front of a
// real pseudo-terminal, so the unit's terminal settings apply.
#ifndef FUZZ_SCRIPTED_LINE_H
#define FUZZ_SCRIPTED_LINE_H

#include <string.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "sim/device.h"
#include "sim/pty_line.h"

namespace fuzz {

class ScriptedLine : public sim::Device {
public:
    // What the far end answers to each write: the chunks, in order.
    using Answerer = std::function<std::vector<std::string>(const std::string &written)>;

    // The line at `boardPath`, kept by the receiver, which is never
    // destroyed: the task stays blocked in its read until the process is
    // gone.  `heldUp`: what else holds the task up (a full ring waiting for
    // its reader).
    static ScriptedLine &Start(
        const std::string &boardPath, Answerer answerer, std::function<bool()> heldUp = [] { return false; })
    {
        std::shared_ptr<ScriptedLine> line(new ScriptedLine(std::move(answerer), std::move(heldUp)));
        TheReceiver().AddDevice(boardPath, line);
        line->m_pty = std::make_unique<sim::PtyLine>(TheReceiver(), boardPath);
        return *line;
    }

    // Returns once the task has taken all of `chunk` and reads again, or is
    // held up.  Never called from the task.
    void Deliver(const std::string &chunk)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!chunk.empty())
            m_chunks.push_back(chunk);
        m_changed.notify_all();
        while (!(m_chunks.empty() && m_readerWaiting) && !m_heldUp())
            m_changed.wait_for(lock, std::chrono::milliseconds(1));
    }

    ssize_t Read(void *buffer, size_t size) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_readerWaiting = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_chunks.empty(); });
        m_readerWaiting = false;
        std::string &chunk = m_chunks.front();
        size_t count = std::min(chunk.size(), size);
        memcpy(buffer, chunk.data(), count);
        chunk.erase(0, count);
        if (chunk.empty())
            m_chunks.pop_front();
        return static_cast<ssize_t>(count);
    }

    ssize_t Write(const void *data, size_t size) override
    {
        for (const std::string &chunk : m_answerer(std::string(static_cast<const char *>(data), size)))
            Deliver(chunk);
        return static_cast<ssize_t>(size);
    }

private:
    ScriptedLine(Answerer answerer, std::function<bool()> heldUp)
        : m_answerer(std::move(answerer)), m_heldUp(std::move(heldUp))
    {}

    std::unique_ptr<sim::PtyLine> m_pty;
    const Answerer m_answerer;
    const std::function<bool()> m_heldUp;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_chunks;
    bool m_readerWaiting = false;
};

}  // namespace fuzz

#endif
