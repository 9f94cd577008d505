// One run of a program on the simulated receiver, shared by orvaflash-sim
// (the loader in-process) and the simulated liborva_api.so that orva-sim puts
// under any application: the options both understand, and the session that
// brings the sandbox, every device model and serial peer up before the
// program runs, carries out the actions asked for at their receiver times,
// and writes the report, the device logs and the display's pictures when it
// ends.  Its timeline and controls stay for the front ends that live in the
// program's process.
#ifndef ORVA_TOOLS_SIM_SESSION_H
#define ORVA_TOOLS_SIM_SESSION_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/radio_peer.h"
#include "sim_bridges.h"
#include "sim_control.h"
#include "sim_timeline.h"

namespace simsession {

// Which tool reads the options: some belong to the loader's runs only.
enum class Tool { Runner, Orvaflash };

struct Options {
    std::string sandbox;
    bool keepSandbox = false;
    std::string reportPath;
    double timeScale = 0.05;
    std::vector<std::pair<std::string, int>> failOpen;
    std::vector<uint8_t> pmuFailures;
    std::string displayPng;
    std::string displayFrames;
    // Empty: the tool's default line.
    std::string radioPort;
    sim::RadioOptions radio;
    // orvaflash-sim only: a generated image.
    long long imageSize = -1;
    bool bootloaderImage = false;
    std::string imageFile;
    unsigned long imageSeed = 1;
    bool demo = false;
    simbridges::Options bridges;
    // Actions by receiver time (--at, and the GSM options at 0), in the
    // order given; those at 0 are carried out before the program starts.
    std::vector<std::pair<ReceiverMs, Action>> actions;
    bool listActions = false;
    // What stood before "--", as given, and what follows it.
    std::vector<std::string> simArguments;
    std::vector<std::string> programArguments;
};

// Reads "[sim options] -- [program arguments]" (argv[0] is skipped).  False
// with a message for a bad option; --help sets *help (and nothing else is
// read), --list-actions sets Options::listActions.
bool ParseOptions(Tool tool, const std::vector<std::string> &arguments, Options *options, std::string *error,
                  bool *help = nullptr);
std::string HelpText(Tool tool);
// A tool's main: its options read, or its help or the actions printed (exit
// 0), or the error told (exit 2).
Options ParseOrExit(Tool tool, const char *name, int argc, char **argv);

// What the tool knows about the program it runs.
struct Setup {
    const char *tool = "orva-sim";  // names the tool in messages
    // Board paths that get a serial line; the radio listens on one of them
    // (Options::radioPort: a path, "all" or "none"; empty: defaultRadioPort).
    std::vector<std::string> radioLines;
    std::string defaultRadioPort;
    // The line whose radio is powered by the PMU.
    std::string internalRadioPort;
    // Paths the program may open: a host file at a path the sandbox rebases
    // is mapped into the sandbox at that path.
    std::vector<std::string> hostFiles;
    // The program's standard output and error go through the timeline too.
    bool captureOutput = false;
};

// Starts the one session of the process; exits with status 2 after a message
// when the receiver cannot be brought up.  Its report is written by Finish,
// which runs at exit and on SIGINT, SIGTERM and SIGHUP.
void Start(const Options &options, const Setup &setup);
// Writes the report, logs and pictures once; later calls wait for the first.
void Finish();
// The sandbox of the running session (board paths are rebased below it).
std::string HostPath(const std::string &boardPath);
// After Finish: whether every radio verified the image it was sent.
bool EveryImageVerified();

// The running session's bus and controls; null before Start.  They outlive
// Finish (the scheduler is stopped then).
Timeline *CurrentTimeline();
Control *CurrentControl();
// A line on the standard error the program had before the session took it
// over, so that the session's messages are not taken for the program's.
void Say(const std::string &line);

[[noreturn]] void Fail(const char *tool, const std::string &message);

}  // namespace simsession

#endif
