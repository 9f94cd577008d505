// Helpers shared by the fuzz targets: reading typed values off the front of
// the input, and the one-time set-up every target needs.
#ifndef FUZZ_SUPPORT_H
#define FUZZ_SUPPORT_H

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "sim/receiver.h"

namespace fuzz {

// Consumes the input from the front; reads past the end give zeros.
class Input {
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    size_t Left() const { return m_size - m_at; }
    uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    template <typename T>
    T Take()
    {
        T value{};
        size_t count = sizeof value < Left() ? sizeof value : Left();
        memcpy(&value, m_data + m_at, count);
        m_at += count;
        return value;
    }
    // Up to `count` bytes (fewer when the input ends).
    std::string Bytes(size_t count)
    {
        if (count > Left())
            count = Left();
        std::string bytes(reinterpret_cast<const char *>(m_data + m_at), count);
        m_at += count;
        return bytes;
    }
    std::string Rest() { return Bytes(Left()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

// The code under test reports on standard output; at a million runs that is
// only noise (libFuzzer's own lines go to standard error).
inline void SilenceStandardOutput()
{
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        fflush(stdout);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
}

// Sandboxes in memory when the host has a tmpfs: a file written and read back
// on every run costs milliseconds on a journalling disk.
inline sim::ReceiverOptions FastReceiverOptions()
{
    struct stat status;
    if (getenv("TMPDIR") == nullptr && stat("/dev/shm", &status) == 0 && S_ISDIR(status.st_mode) &&
        access("/dev/shm", W_OK) == 0)
        setenv("TMPDIR", "/dev/shm", 0);
    // Sleeps are scaled to nothing; the default timer slack would still make
    // each one last 50 microseconds.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sim::ReceiverOptions options;
    options.timeScale = 0;
    options.recordSleeps = false;
    return options;
}

}  // namespace fuzz

#endif
