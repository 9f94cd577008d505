// The radio's end of its port as a device model: each query or frame the
// loader writes gets the answer scripted for its number, else a correct one
// (none once silent).  An answer comes in pieces, one per read; an empty
// piece is an idle read.  No pty: a receive costs no real time, and idle
// reads can be counted.
#ifndef ORVA_TESTS_SCRIPTED_RADIO_H
#define ORVA_TESTS_SCRIPTED_RADIO_H

#include <errno.h>
#include <string.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/device.h"

namespace simtest {

class ScriptedRadio : public sim::Device {
public:
    using Answer = std::vector<std::string>;

    std::map<int, Answer> answers;     // by request (query or frame) number, from 1
    int silentFrom = 0;                // from this request on, the unscripted get no answer
    int failOpensFrom = 0;             // this opening and every later one fail with EIO
    std::vector<std::string> written;  // every write, as it came
    int requests = 0;
    int opens = 0;  // attempts
    int idleReads = 0;

    static Answer Correct(const std::string &request)
    {
        if (request[0] == 0x01) {
            if (request[1] == 0x34)
                return {std::string("\x01\x34\x07\xC4", 4)};
            if (request[1] == 0x33)
                return {std::string("\x01\x33\x00\x02\x00\x0A\x01\x2C\x93", 9)};
            return {request};  // the hard reset's echo
        }
        unsigned char sum = static_cast<unsigned char>(request[1] + 0x01 + 0x06);
        return {std::string("\x02", 1) + request[1] + std::string("\x00\x01\x06\x00", 4) + char(sum) + '\x03'};
    }

    int Open(int) override
    {
        if (++opens >= failOpensFrom && failOpensFrom > 0) {
            errno = EIO;
            return -1;
        }
        return 0;
    }

    ssize_t Write(const void *data, size_t size) override
    {
        std::string request(static_cast<const char *>(data), size);
        written.push_back(request);
        m_pending.clear();
        if (size < 2 || (request[0] != 0x01 && request[0] != 0x02))
            return static_cast<ssize_t>(size);
        auto scripted = answers.find(++requests);
        if (scripted != answers.end()) {
            m_pending.assign(scripted->second.begin(), scripted->second.end());
        } else if (silentFrom == 0 || requests < silentFrom) {
            Answer correct = Correct(request);
            m_pending.assign(correct.begin(), correct.end());
        }
        return static_cast<ssize_t>(size);
    }

    ssize_t Read(void *buffer, size_t size) override
    {
        if (m_pending.empty() || m_pending.front().empty()) {
            if (!m_pending.empty())
                m_pending.pop_front();
            ++idleReads;
            return 0;
        }
        std::string &piece = m_pending.front();
        size_t count = size < piece.size() ? size : piece.size();
        memcpy(buffer, piece.data(), count);
        piece.erase(0, count);
        if (piece.empty())
            m_pending.pop_front();
        return static_cast<ssize_t>(count);
    }

private:
    std::deque<std::string> m_pending;
};

}  // namespace simtest

#endif
