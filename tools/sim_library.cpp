// The simulated receiver inside an application's process.  This file is
// linked only into the simulated liborva_api.so: orva-sim puts that library
// first on the program's library path, and the receiver comes up before main,
// with the options orva-sim was given.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "internal/API_Init.h"
#include "sim_library.h"
#include "sim_session.h"

namespace {

// The interface table's rows of the receiver's two UHF radios.
const int kUhfTransmitterRow = 4;
const int kUhfReceiverRow = 5;

__attribute__((constructor)) void StartSimulatedReceiver(int argc, char **argv, char **)
{
    std::vector<std::string> arguments{"orva-sim"};
    if (const char *encoded = getenv(kOptionsVariable)) {
        for (std::string &option : DecodeOptions(encoded))
            arguments.push_back(std::move(option));
        // A child the program starts is a run of its own.
        unsetenv(kOptionsVariable);  // NOLINT(concurrency-mt-unsafe): before main, no other thread yet
    }
    arguments.push_back("--");
    for (int i = 0; i < argc; ++i)
        arguments.push_back(argv[i]);

    simsession::Options options;
    std::string error;
    if (!simsession::ParseOptions(simsession::Tool::Runner, arguments, &options, &error))
        simsession::Fail("orva-sim", error);
    simsession::Setup setup;
    // The table as compiled in: the configuration file is read only at start-up.
    setup.internalRadioPort = a_devnames[kUhfReceiverRow].path;
    setup.defaultRadioPort = setup.internalRadioPort;
    setup.radioLines = {setup.internalRadioPort, a_devnames[kUhfTransmitterRow].path};
    if (options.programArguments.size() > 1)
        setup.hostFiles.assign(options.programArguments.begin() + 1, options.programArguments.end());
    // Its output reaches the timeline through a pipe: each line as it is
    // printed, not when a block is full.
    setup.captureOutput = true;
    setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    simsession::Start(options, setup);
}

}  // namespace
