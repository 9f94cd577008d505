// A timestamped transcript of what a simulated device or peer saw and did.
#ifndef SIM_EVENT_LOG_H
#define SIM_EVENT_LOG_H

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class EventLog {
public:
    explicit EventLog(std::string name);

    const std::string &Name() const { return m_name; }
    void Add(const std::string &line);
    // printf-style convenience.
    void Addf(const char *format, ...) __attribute__((format(printf, 2, 3)));

    // The lines without their time stamps, in order.
    std::vector<std::string> Lines() const;
    // Lines with "[seconds.micro] " in front, counted from the log's creation.
    std::vector<std::string> StampedLines() const;
    bool Contains(const std::string &line) const;
    void Clear();
    // Writes the stamped lines to a file; false when it cannot be written.
    bool WriteTo(const std::string &path) const;

    // Sees every line as it is added (the log's name, the line), on the
    // adding thread, which may hold its model's lock: it must not call into
    // the model.  Null removes it.
    using Observer = std::function<void(const std::string &name, const std::string &line)>;
    void SetObserver(Observer observer);

private:
    struct Entry {
        std::chrono::steady_clock::duration when;
        std::string line;
    };

    std::string m_name;
    std::chrono::steady_clock::time_point m_start;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::shared_ptr<const Observer> m_observer;
};

}  // namespace sim

#endif
