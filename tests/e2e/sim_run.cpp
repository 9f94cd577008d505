#include "sim_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char **environ;

namespace e2e {

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::string MakeSandbox()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orva-e2e-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot create a sandbox");
    return name.data();
}

pid_t Spawn(SimRun &run)
{
    run.sandbox = MakeSandbox();
    for (const auto &file : run.files) {
        fs::path host = run.sandbox + file.first;
        fs::create_directories(host.parent_path());
        std::ofstream(host, std::ios::binary) << file.second;
    }
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
    posix_spawn_file_actions_addopen(&actions, 1, (run.sandbox + "/stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (run.sandbox + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

void Collect(SimRun &run)
{
    run.out = ReadAll(run.sandbox + "/stdout");
    run.err = ReadAll(run.sandbox + "/stderr");
    run.report = ReadAll(run.sandbox + "/sim/report.txt");
}

}  // namespace

SimRun::~SimRun()
{
    if (!sandbox.empty()) {
        std::error_code ignored;
        fs::remove_all(sandbox, ignored);
    }
}

std::string SimRun::SandboxFile(const std::string &boardPath) const { return ReadAll(sandbox + boardPath); }

std::string SimRun::RadioBlocks(const std::string &port) const { return ReadAll(sandbox + "/sim/radio-" + port + ".bin"); }

std::vector<std::string> SimRun::LogLines(const std::string &section) const
{
    std::vector<std::string> lines;
    std::istringstream in(report);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) == 0) {
            inside = line == "== " + section + " ==";
            continue;
        }
        if (inside) {
            size_t stamp = line.find("] ");
            lines.push_back(stamp == std::string::npos ? line : line.substr(stamp + 2));
        }
    }
    return lines;
}

void Run(std::vector<SimRun *> runs, int parallel)
{
    struct Child {
        SimRun *run;
        pid_t pid;
        std::chrono::steady_clock::time_point deadline;
    };
    std::vector<Child> running;
    size_t next = 0;
    while (next < runs.size() || !running.empty()) {
        while (next < runs.size() && running.size() < size_t(parallel)) {
            SimRun *run = runs[next++];
            pid_t pid = Spawn(*run);
            if (pid < 0)
                continue;
            running.push_back({run, pid, std::chrono::steady_clock::now() + std::chrono::seconds(run->timeoutSeconds)});
        }
        for (auto child = running.begin(); child != running.end();) {
            int status = 0;
            rusage usage{};
            pid_t done = wait4(child->pid, &status, WNOHANG, &usage);
            if (done == 0 && std::chrono::steady_clock::now() > child->deadline) {
                kill(child->pid, SIGKILL);
                done = wait4(child->pid, &status, 0, &usage);
            }
            if (done == child->pid) {
                child->run->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                child->run->usage = usage;
                Collect(*child->run);
                child = running.erase(child);
            } else {
                ++child;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

size_t Count(const std::string &text, const std::string &part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++count;
    return count;
}

bool InOrder(const std::string &text, const std::vector<std::string> &parts)
{
    size_t at = 0;
    for (const std::string &part : parts) {
        at = text.find(part, at);
        if (at == std::string::npos)
            return false;
        at += part.size();
    }
    return true;
}

}  // namespace e2e
