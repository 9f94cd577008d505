// Helpers shared by the fuzz targets: reading typed values off the front of
// the input, the simulated receiver every target runs on, and a scripted
// serial line.
#ifndef FUZZ_SUPPORT_H
#define FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"

namespace fuzz {

// Consumes the input from the front; reads past the end give zeros.
struct Input {
    size_t Left() const { return size - at; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    // Up to `count` bytes (fewer when the input ends).
    std::string Bytes(size_t count)
    {
        count = count < Left() ? count : Left();
        at += count;
        return std::string(reinterpret_cast<const char *>(data + at - count), count);
    }
    std::string Rest() { return Bytes(Left()); }
    // A length byte and that many bytes.
    std::string Chunk() { return Bytes(Byte()); }
    template <typename T>
    T Take()
    {
        T value{};
        std::string bytes = Bytes(sizeof value);
        memcpy(&value, bytes.data(), bytes.size());
        return value;
    }

    const uint8_t *data;
    size_t size;
    size_t at = 0;
};

// Made at the first call, never destroyed (a unit's task may still read one
// of its lines when the process ends).
inline sim::Receiver &TheReceiver()
{
    static sim::Receiver *receiver = [] {
        // The code under test reports on standard output; at a million runs
        // that is only noise (libFuzzer's own lines go to standard error).
        if (freopen("/dev/null", "w", stdout) == nullptr)
            abort();
        // A sandbox in memory: a file written and read back on every run
        // costs milliseconds on a journalling disk.
        if (access("/dev/shm", W_OK) == 0)
            setenv("TMPDIR", "/dev/shm", 0);
        // Sleeps are scaled to nothing; the default timer slack would still
        // make each one last 50 microseconds.
        prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
        sim::ReceiverOptions options;
        options.timeScale = 0;
        options.recordSleeps = false;
        return new sim::Receiver(options);
    }();
    return *receiver;
}

// A serial line whose far end is played by the fuzz target, for units whose
// receive task reads the line.  Each chunk handed to the task is waited for
// until the task has dealt with it and reads again, so that a run replays the
// same events every time.  The line stands at the board path in front of a
// real pseudo-terminal, so the unit's terminal settings apply.
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
