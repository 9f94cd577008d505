// Shared pieces of the loader tests: a scripted far end on a pty line, and
// run records set up as the load sequence leaves them.
#ifndef LOADER_TEST_SUPPORT_H
#define LOADER_TEST_SUPPORT_H

#include <atomic>
#include <functional>
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

// A peer that answers requests it recognises by their first bytes and length;
// bytes before a recognised request are skipped.
class ScriptedPeer {
public:
    // Returns the answer to the n-th (from 1) request of its kind.
    using Answer = std::function<Bytes(const Bytes &request, int n)>;

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
    Bytes Received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }
    std::vector<Bytes> Requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

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
            pending.append(buffer, static_cast<size_t>(count));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.append(buffer, static_cast<size_t>(count));
            }
            while (AnswerFirstRequest(pending)) {
            }
        }
    }

    bool AnswerFirstRequest(Bytes &pending)
    {
        Rule *first = nullptr;
        size_t at = Bytes::npos;
        for (Rule &rule : m_rules) {
            size_t found = pending.find(rule.prefix);
            if (found < at) {
                at = found;
                first = &rule;
            }
        }
        if (!first || pending.size() < at + first->length)
            return false;
        Bytes request = pending.substr(at, first->length);
        pending.erase(0, at + first->length);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        Bytes answer = first->answer(request, ++first->count);
        if (!answer.empty())
            m_line.Send(answer);
        return true;
    }

    sim::PtyLine &m_line;
    std::vector<Rule> m_rules;
    std::atomic<bool> m_running{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    Bytes m_received;
    std::vector<Bytes> m_requests;
};

// An acknowledgement of `command` as the bootloader sends it.
inline Bytes Ack(int command) { return B({0x02, command, 0x00, 0x01, 0x06, 0x00, command + 7, 0x03}); }

// A record as the load sequence sets it up, before any file or port.
inline LOADER_ENV FreshRecord(const char *port = "/dev/ttyUSB0", const char *speed = "9600")
{
    LOADER_ENV env{};
    env.log_fd = -1;
    env.port_fd = -1;
    env.file_name = DEFAULT_FILE;
    env.port_name = port;
    env.speed_name = speed;
    return env;
}

}  // namespace loader_test

#endif
