#include "sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace simproc {

void Run(SimRun &run)
{
    namespace fs = std::filesystem;
    std::string sandbox = (fs::temp_directory_path() / "orva-run-XXXXXX").string();
    if (!mkdtemp(&sandbox[0]))
        return;
    std::vector<std::string> arguments{ORVAFLASH_SIM, "--sandbox", sandbox};
    arguments.insert(arguments.end(), run.simArguments.begin(), run.simArguments.end());
    arguments.push_back("--");
    arguments.insert(arguments.end(), run.loaderArguments.begin(), run.loaderArguments.end());
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    const std::string err = sandbox + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT, 0644);
    pid_t pid = -1;
    auto start = std::chrono::steady_clock::now();
    int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int waitStatus = 0;
    for (pid_t done = 0; error == 0 && done != pid;) {
        // A short poll keeps the wall time of a timed run within 2 ms.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        done = wait4(pid, &waitStatus, WNOHANG, &run.usage);
        run.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (done == 0 && run.wallMs > run.timeoutSeconds * 1000.0) {
            kill(pid, SIGKILL);
            done = wait4(pid, &waitStatus, 0, &run.usage);
        }
    }
    if (error == 0 && WIFEXITED(waitStatus))
        run.status = WEXITSTATUS(waitStatus);
    std::ostringstream contents;
    contents << std::ifstream(err, std::ios::binary).rdbuf();
    run.err = contents.str();
    std::error_code ignored;
    fs::remove_all(sandbox, ignored);
}

}  // namespace simproc
