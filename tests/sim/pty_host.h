// The program's end of a model's serial line: raw, at the speed given, with
// or without the hardware handshake.
#ifndef ORVA_TESTS_SIM_PTY_HOST_H
#define ORVA_TESTS_SIM_PTY_HOST_H

#include <fcntl.h>
#include <poll.h>
#include <stdint.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "sim/pty_line.h"

class PtyHost {
public:
    PtyHost(sim::PtyLine &line, speed_t speed, bool handshake = false)
        : m_fd(open(line.SlaveName().c_str(), O_RDWR | O_NOCTTY))
    {
        SetSpeed(speed, handshake);
    }
    ~PtyHost() { close(m_fd); }

    void SetSpeed(speed_t speed, bool handshake = false)
    {
        termios settings;
        tcgetattr(m_fd, &settings);
        cfmakeraw(&settings);
        cfsetspeed(&settings, speed);
        settings.c_cflag = handshake ? settings.c_cflag | CRTSCTS : settings.c_cflag & ~CRTSCTS;
        tcsetattr(m_fd, TCSANOW, &settings);
    }

    // Sends `bytes`, then takes up to `count` bytes until `idleMs` pass
    // without one (`firstMs` for the first one, when given).
    template <typename Bytes>
    Bytes Exchange(const Bytes &bytes, size_t count = 8, int idleMs = 1000, int firstMs = -1)
    {
        EXPECT_EQ(write(m_fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        Bytes answer;
        pollfd waiting{m_fd, POLLIN, 0};
        unsigned char buffer[4096];
        while (answer.size() < count && poll(&waiting, 1, answer.empty() && firstMs >= 0 ? firstMs : idleMs) > 0) {
            ssize_t got = read(m_fd, buffer, std::min(sizeof buffer, count - answer.size()));
            if (got <= 0)
                break;
            answer.insert(answer.end(), buffer, buffer + got);
        }
        return answer;
    }

private:
    int m_fd;
};

#endif
