// Standard input watched while units run whose device is not open: their
// descriptor is then 0, which must never be read or written.
#ifndef ORVA_TESTS_STANDARD_INPUT_H
#define ORVA_TESTS_STANDARD_INPUT_H

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace simtest {

// Runs `calls` with standard input a socket holding 8 bytes that look like
// PMU replies: afterwards nothing was written to it and the 8 bytes are
// still unread.  Non-blocking, so a read finds them gone rather than waits.
template <typename Calls>
void ExpectStandardInputUntouchedBy(Calls calls)
{
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
    const int saved = dup(0);
    dup2(pair[0], 0);
    close(pair[0]);
    const unsigned char replies[8] = {0x02, 0xF4, 0x00, 0xF6, 0x02, 0xF5, 0x05, 0xF2};
    EXPECT_EQ(write(pair[1], replies, sizeof replies), 8);
    calls();
    char bytes[16];
    EXPECT_LT(recv(pair[1], bytes, sizeof bytes, MSG_DONTWAIT), 0) << "written to standard input";
    EXPECT_EQ(recv(0, bytes, sizeof bytes, MSG_DONTWAIT), 8) << "read from standard input";
    dup2(saved, 0);
    close(saved);
    close(pair[1]);
}

}  // namespace simtest

#endif
