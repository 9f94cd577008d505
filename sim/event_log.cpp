#include "sim/event_log.h"

#include <stdarg.h>
#include <stdio.h>

#include <algorithm>
#include <fstream>

namespace sim {

EventLog::EventLog(std::string name) : m_name(std::move(name)), m_start(std::chrono::steady_clock::now()) {}

void EventLog::Add(const std::string &line)
{
    auto when = std::chrono::steady_clock::now() - m_start;
    std::shared_ptr<const Observer> observer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back({when, line});
        observer = m_observer;
    }
    if (observer)
        (*observer)(m_name, line);
}

void EventLog::SetObserver(Observer observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = observer ? std::make_shared<const Observer>(std::move(observer)) : nullptr;
}

void EventLog::Addf(const char *format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    Add(text);
}

std::vector<std::string> EventLog::Lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const Entry &entry : m_entries)
        lines.push_back(entry.line);
    return lines;
}

std::vector<std::string> EventLog::StampedLines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const Entry &entry : m_entries) {
        auto us = std::chrono::duration_cast<std::chrono::microseconds>(entry.when).count();
        char stamp[40];
        snprintf(stamp, sizeof stamp, "[%lld.%06lld] ", static_cast<long long>(us / 1000000),
                 static_cast<long long>(us % 1000000));
        lines.push_back(stamp + entry.line);
    }
    return lines;
}

bool EventLog::Contains(const std::string &line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry &e) { return e.line == line; });
}

void EventLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

bool EventLog::WriteTo(const std::string &path) const
{
    std::ofstream out(path);
    for (const std::string &line : StampedLines())
        out << line << '\n';
    return static_cast<bool>(out);
}

}  // namespace sim
