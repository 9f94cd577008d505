// The loader's tests: byte strings, a fresh run record, and the radio's port
// as a scripted device on the simulated receiver, whose sleeps are recorded
// but not waited for.
#ifndef LOADER_TEST_H
#define LOADER_TEST_H

#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "Commun.h"
#include "orvaflash.h"
#include "scripted_radio.h"
#include "sim_test.h"
#include "text_search.h"

namespace loadertest {

using Bytes = std::string;
using simtest::Stdout;

inline Bytes B(std::initializer_list<int> values)
{
    Bytes bytes;
    for (int value : values)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

// Bytes the heap holds: a leaked image shows as megabytes.  Zero where the
// allocator does not count them (the sanitizers find leaks themselves).
inline size_t HeapInUse()
{
#ifdef __GLIBC__
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#else
    return 0;
#endif
}

// The tool's argv for these arguments, pointing into them.
inline std::vector<char *> Argv(std::vector<std::string> &arguments)
{
    std::vector<char *> argv = {const_cast<char *>("orvaflash")};
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return argv;
}

// Runs the tool's main: its result, and what it printed in `out`.
inline int Main(std::vector<std::string> arguments, std::string &out)
{
    std::vector<char *> argv = Argv(arguments);
    int result = 0;
    out = Stdout([&] { result = OrvaflashMain(static_cast<int>(argv.size() - 1), argv.data()); });
    return result;
}

// What was written into a pipe standing in for the traffic log, once its
// writing end is closed.
inline std::string Logged(int log[2])
{
    close(log[1]);
    char logged[4096];
    ssize_t count = read(log[0], logged, sizeof logged);
    close(log[0]);
    return std::string(logged, count > 0 ? count : 0);
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

class RadioTest : public simtest::SimTest {
protected:
    RadioTest() : SimTest(0) { Attach("/dev/ttyUSB0"); }
    ~RadioTest() override
    {
        free(env.image);
        gl_debug_level = 2;
    }
    void Attach(const char *port)
    {
        receiver.AddDevice(port, radio);
        env.port_name = port;
    }
    // The PMU's requests to switch the radio on (0xC3) or off (0xC2).
    long Pmu(uint8_t command) const
    {
        std::vector<uint8_t> commands = board.pmu->Commands();
        return std::count(commands.begin(), commands.end(), command);
    }

    std::shared_ptr<simtest::ScriptedRadio> radio = std::make_shared<simtest::ScriptedRadio>();
    LOADER_ENV env = FreshRecord();
};

}  // namespace loadertest

#endif
