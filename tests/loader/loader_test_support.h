// Shared pieces of the loader tests: byte strings, a scripted far end on a pty
// line, and a fresh run record.
#ifndef LOADER_TEST_SUPPORT_H
#define LOADER_TEST_SUPPORT_H

#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "orvaflash.h"
#include "sim/pty_line.h"

namespace loader_test {

using Bytes = std::string;

inline Bytes B(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

// The bootloader's acknowledgement of `command`.
inline Bytes Ack(int command) { return B({0x02, command, 0x00, 0x01, 0x06, 0x00, command + 7, 0x03}); }

inline LOADER_ENV FreshRecord(const char *port = "/dev/ttyUSB0")
{
    LOADER_ENV env{};
    env.log_fd = -1;
    env.port_fd = -1;
    env.file_name = DEFAULT_FILE;
    env.port_name = port;
    env.speed_name = DEFAULT_SPEED;
    return env;
}

// Answers requests recognised by their first bytes and length; bytes in
// front of a recognised request are skipped.
class ScriptedPeer {
public:
    using Answer = std::function<Bytes(int n)>;  // n: 1 for the first request of its kind

    explicit ScriptedPeer(sim::PtyLine &line) : m_line(line) {}
    ~ScriptedPeer() { Stop(); }

    void On(const Bytes &prefix, size_t length, Answer answer) { m_rules.push_back({prefix, length, answer, 0}); }
    void Start()
    {
        m_running = true;
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        m_running = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    std::vector<Bytes> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    size_t BytesReceived() const { return m_bytes; }

private:
    struct Rule {
        Bytes prefix;
        size_t length;
        Answer answer;
        int count;
    };

    void Run()
    {
        Bytes pending;
        char buffer[1024];
        while (m_running) {
            long count = m_line.Receive(buffer, sizeof buffer, 10);
            if (count <= 0)
                continue;
            m_bytes += static_cast<size_t>(count);
            pending.append(buffer, static_cast<size_t>(count));
            while (AnswerFirst(pending)) {
            }
        }
    }

    bool AnswerFirst(Bytes &pending)
    {
        Rule *first = nullptr;
        size_t at = Bytes::npos;
        for (Rule &rule : m_rules) {
            size_t found = pending.find(rule.prefix);
            if (found < at)
                at = found, first = &rule;
        }
        if (!first || pending.size() < at + first->length)
            return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(pending.substr(at, first->length));
        }
        pending.erase(0, at + first->length);
        m_line.Send(first->answer(++first->count));
        return true;
    }

    sim::PtyLine &m_line;
    std::vector<Rule> m_rules;
    std::atomic<bool> m_running{false};
    std::atomic<size_t> m_bytes{0};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<Bytes> m_requests;
};

}  // namespace loader_test

#endif
