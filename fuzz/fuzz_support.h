// Helpers shared by the fuzz targets: reading typed values off the front of
// the input, and the simulated receiver every target runs on.
#ifndef FUZZ_SUPPORT_H
#define FUZZ_SUPPORT_H

#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <string>

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
        int null = open("/dev/null", O_WRONLY);
        fflush(stdout);
        dup2(null, STDOUT_FILENO);
        close(null);
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

}  // namespace fuzz

#endif
