#include "sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace simproc {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const std::string &path)
{
    std::ostringstream contents;
    contents << std::ifstream(path, std::ios::binary).rdbuf();
    return contents.str();
}

pid_t Spawn(SimRun &run)
{
    std::string pattern = (fs::temp_directory_path() / "orva-run-XXXXXX").string();
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("cannot create a sandbox");
    run.sandbox = pattern;
    std::vector<std::string> arguments{ORVAFLASH_SIM, "--sandbox", run.sandbox};
    arguments.insert(arguments.end(), run.simArguments.begin(), run.simArguments.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), run.loaderArguments.begin(), run.loaderArguments.end());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (run.sandbox + "/stdout").c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (run.sandbox + "/stderr").c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = -1;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

}  // namespace

SimRun::~SimRun()
{
    std::error_code ignored;
    if (!sandbox.empty())
        fs::remove_all(sandbox, ignored);
}

std::string SimRun::CommandLine() const
{
    std::string line = "orvaflash-sim";
    for (const std::string &argument : simArguments)
        line += " " + argument;
    line += " --";
    for (const std::string &argument : loaderArguments)
        line += " " + argument;
    return line;
}

std::string SimRun::SandboxFile(const std::string &boardPath) const { return ReadAll(sandbox + boardPath); }

std::vector<std::string> SimRun::LogLines(const std::string &section) const
{
    std::vector<std::string> lines;
    std::istringstream in(report);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("== ", 0) == 0)
            inside = line == "== " + section + " ==";
        else if (inside)
            lines.push_back(line.substr(line.find("] ") == std::string::npos ? 0 : line.find("] ") + 2));
    }
    return lines;
}

void Run(const std::vector<SimRun *> &runs, int parallel)
{
    struct Child {
        SimRun *run;
        pid_t pid;
        Clock::time_point start;
    };
    std::vector<Child> running;
    for (size_t next = 0; next < runs.size() || !running.empty();) {
        for (; next < runs.size() && running.size() < size_t(parallel); ++next) {
            pid_t pid = Spawn(*runs[next]);
            if (pid > 0)
                running.push_back({runs[next], pid, Clock::now()});
        }
        for (auto child = running.begin(); child != running.end();) {
            SimRun &run = *child->run;
            int waitStatus = 0;
            pid_t done = wait4(child->pid, &waitStatus, WNOHANG, &run.usage);
            run.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - child->start).count();
            if (done == 0 && run.wallMs > run.timeoutSeconds * 1000.0) {
                kill(child->pid, SIGKILL);
                done = wait4(child->pid, &waitStatus, 0, &run.usage);
            }
            if (done != child->pid) {
                ++child;
                continue;
            }
            if (WIFEXITED(waitStatus))
                run.status = WEXITSTATUS(waitStatus);
            else if (WIFSIGNALED(waitStatus))
                run.signal = WTERMSIG(waitStatus);
            run.out = ReadAll(run.sandbox + "/stdout");
            run.err = ReadAll(run.sandbox + "/stderr");
            run.report = ReadAll(run.sandbox + "/sim/report.txt");  // there when the sandbox is kept
            child = running.erase(child);
        }
        // A short poll keeps the wall time of a timed run within 2 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string PowerOffProblem(const SimRun &run, size_t cycles)
{
    const char kOff[] = "02 C2 00 C0";
    std::vector<std::string> pmu = run.LogLines("pmu");
    size_t offs = static_cast<size_t>(std::count(pmu.begin(), pmu.end(), kOff));
    if (Count(run.out, "POWER PDL OFF - begin ... ") != 1 + cycles || offs != 1 + cycles)
        return std::to_string(offs) + " switch-offs, " + std::to_string(1 + cycles) + " expected";
    if (std::find(pmu.rbegin(), pmu.rend(), "02 C3 00 C1") < std::find(pmu.rbegin(), pmu.rend(), kOff))
        return "the radio was switched on again after its last switch-off";
    return "";
}

}  // namespace simproc
