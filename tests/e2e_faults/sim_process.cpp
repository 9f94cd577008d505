#include "sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace faults {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::string NewSandbox()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orva-faults-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot create a sandbox");
    return name.data();
}

std::vector<std::string> FullArguments(const SimProcess &process)
{
    std::vector<std::string> arguments{ORVAFLASH_SIM, "--sandbox", process.sandbox, "--report",
                                       process.sandbox + "/report.txt"};
    arguments.insert(arguments.end(), process.simArguments.begin(), process.simArguments.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), process.loaderArguments.begin(), process.loaderArguments.end());
    return arguments;
}

pid_t Spawn(SimProcess &process)
{
    process.sandbox = NewSandbox();
    std::vector<std::string> arguments = FullArguments(process);
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (process.sandbox + "/stdout").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (process.sandbox + "/stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

void Collect(SimProcess &process, int waitStatus)
{
    if (WIFEXITED(waitStatus))
        process.status = WEXITSTATUS(waitStatus);
    else if (WIFSIGNALED(waitStatus))
        process.signal = WTERMSIG(waitStatus);
    process.out = ReadAll(process.sandbox + "/stdout");
    process.err = ReadAll(process.sandbox + "/stderr");
    process.report = ReadAll(process.sandbox + "/report.txt");
}

}  // namespace

SimProcess::~SimProcess()
{
    if (!sandbox.empty()) {
        std::error_code ignored;
        fs::remove_all(sandbox, ignored);
    }
}

std::string SimProcess::CommandLine() const
{
    std::string line = "orvaflash-sim";
    for (const std::string &argument : simArguments)
        line += " " + argument;
    line += " --";
    for (const std::string &argument : loaderArguments)
        line += " " + argument;
    return line;
}

std::vector<std::string> SimProcess::LogLines(const std::string &device) const
{
    std::vector<std::string> lines;
    std::istringstream in(report);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            inside = line == "== " + device + " ==";
            continue;
        }
        if (inside) {
            size_t stamp = line.find("] ");
            lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
        }
    }
    return lines;
}

bool SimProcess::SandboxHas(const std::string &boardPath) const
{
    struct stat status;
    return stat((sandbox + boardPath).c_str(), &status) == 0;
}

void RunAll(const std::vector<SimProcess *> &processes, int parallel)
{
    struct Child {
        SimProcess *process;
        pid_t pid;
        Clock::time_point start;
    };
    std::vector<Child> running;
    size_t next = 0;
    while (next < processes.size() || !running.empty()) {
        while (next < processes.size() && running.size() < static_cast<size_t>(parallel)) {
            SimProcess *process = processes[next++];
            pid_t pid = Spawn(*process);
            process->started = pid > 0;
            if (pid > 0)
                running.push_back({process, pid, Clock::now()});
        }
        for (auto child = running.begin(); child != running.end();) {
            int waitStatus = 0;
            pid_t done = waitpid(child->pid, &waitStatus, WNOHANG);
            double seconds = std::chrono::duration<double>(Clock::now() - child->start).count();
            if (done == 0 && seconds > child->process->deadlineSeconds) {
                child->process->hung = true;
                kill(child->pid, SIGKILL);
                done = waitpid(child->pid, &waitStatus, 0);
            }
            if (done != child->pid) {
                ++child;
                continue;
            }
            child->process->seconds = seconds;
            Collect(*child->process, waitStatus);
            child = running.erase(child);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace faults
