// Shared pieces of the loader tests: byte strings and a fresh run record.
#ifndef LOADER_TEST_SUPPORT_H
#define LOADER_TEST_SUPPORT_H

#include <initializer_list>
#include <string>

#include "orvaflash.h"

namespace loader_test {

using Bytes = std::string;

inline Bytes B(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

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

}  // namespace loader_test

#endif
