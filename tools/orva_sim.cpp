// orva-sim [sim options] -- <program> [arguments]
//
// Checks the options, puts the simulated liborva_api.so first on the
// program's library path, hands it the options and becomes the program: the
// library brings the simulated receiver up before main and writes the report
// at exit, so the program's exit status is the run's.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_library.h"
#include "sim_session.h"

namespace {

const char kTool[] = "orva-sim";

std::string Directory(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsFile(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// As execvp would find it.
std::string Resolve(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return program;
    const char *path = getenv("PATH");
    std::string directories = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= directories.size()) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos)
            end = directories.size();
        std::string directory = directories.substr(start, end - start);
        std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
        if (IsFile(candidate) && access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return program;
}

// An ELF program that does not name the library (linked against the archive,
// or not at all) would run on this machine's real devices.
bool LoadsTheLibrary(const std::string &program)
{
    int fd = open(program.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;  // exec reports it
    struct stat status;
    bool loads = true;
    if (fstat(fd, &status) == 0 && status.st_size > 4) {
        size_t size = static_cast<size_t>(status.st_size);
        void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            const char *bytes = static_cast<const char *>(map);
            bool elf = memcmp(bytes, "\177ELF", 4) == 0;
            // The soname with the zero bytes around it, as the dynamic string table holds it.
            std::string needed = std::string(1, '\0') + kSimulatedSoname + std::string(1, '\0');
            loads = !elf || memmem(bytes, size, needed.data(), needed.size()) != nullptr;
            munmap(map, size);
        }
    }
    close(fd);
    return loads;
}

std::string SimulatedLibraryDirectory()
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
        self[length] = '\0';
        std::string installed = Directory(self) + "/" + ORVA_SIM_LIBDIR_FROM_BINDIR;
        if (IsFile(installed + "/" + kSimulatedSoname))
            return installed;
    }
    return ORVA_SIM_LIBDIR_IN_BUILD;
}

}  // namespace

int main(int argc, char **argv)
{
    simsession::Options options = simsession::ParseOrExit(simsession::Tool::Runner, kTool, argc, argv);
    if (options.programArguments.empty())
        simsession::Fail(kTool, "no program to run (see --help)");

    std::string program = Resolve(options.programArguments[0]);
    if (!LoadsTheLibrary(program))
        simsession::Fail(kTool,
                         program + " does not load " + kSimulatedSoname +
                             ": only a program linked against the shared library runs on the simulated receiver");
    std::string directory = SimulatedLibraryDirectory();
    if (!IsFile(directory + "/" + kSimulatedSoname))
        simsession::Fail(kTool, "the simulated " + std::string(kSimulatedSoname) + " is missing in " + directory);

    // NOLINTBEGIN(concurrency-mt-unsafe): the runner has no other thread; it only execs.
    setenv(kOptionsVariable, EncodeOptions(options.simArguments).c_str(), 1);
    const char *libraryPath = getenv("LD_LIBRARY_PATH");
    std::string path = directory + (libraryPath && *libraryPath ? ":" + std::string(libraryPath) : "");
    setenv("LD_LIBRARY_PATH", path.c_str(), 1);

    std::vector<char *> programArgv;
    for (std::string &argument : options.programArguments)
        programArgv.push_back(&argument[0]);
    programArgv.push_back(nullptr);
    execv(program.c_str(), programArgv.data());
    fprintf(stderr, "%s: cannot run %s: %s\n", kTool, program.c_str(), strerror(errno));
    // NOLINTEND(concurrency-mt-unsafe)
    return errno == ENOENT ? 127 : 126;
}
