#include "sim/receiver.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "board_descriptor.h"
#include "sim/pty_line.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

std::atomic<Receiver *> g_current{nullptr};

// Descriptors of open device models, looked up without a lock: the GPIO
// event query runs inside signal handlers.
constexpr int kMaxFd = 4096;
std::atomic<Device *> g_fdDevices[kMaxFd];
// Descriptors of files on the full device; looked up without a lock too.
std::atomic<bool> g_fdOnFull[kMaxFd];
std::atomic<LineTraffic *> g_fdTraffic[kMaxFd];

// /usr/local/ holds the receiver's own scripts and the result files they write.
const char *const kBoardDirectories[] = {"/dev/", "/etc/",  "/var/",  "/tmp/",      "/sys/",
                                         "/mnt/", "/proc/", "/root/", "/usr/local/"};

bool IsBoardPath(const char *path)
{
    for (const char *directory : kBoardDirectories) {
        size_t length = strlen(directory);
        if (strncmp(path, directory, length) == 0)
            return true;
        if (strncmp(path, directory, length - 1) == 0 && path[length - 1] == '\0')
            return true;
    }
    return false;
}

std::string MakeTempRoot()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orva-sim-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::system_error(errno, std::generic_category(), "cannot create the simulated receiver's sandbox");
    return name.data();
}

// The watched line a descriptor of the program is open on, if any.
LineTraffic *LineOf(int fd) { return fd >= 0 && fd < kMaxFd ? g_fdTraffic[fd].load() : nullptr; }

}  // namespace

Receiver::Receiver(ReceiverOptions options) : m_options(std::move(options))
{
    if (m_options.sandbox.empty()) {
        m_root = MakeTempRoot();
        m_ownsRoot = !m_options.keepSandbox;
    } else {
        m_root = fs::absolute(m_options.sandbox).lexically_normal().string();
        if (m_root.size() > 1 && m_root.back() == '/')
            m_root.pop_back();
        fs::create_directories(m_root);
    }
    for (const char *directory : kBoardDirectories)
        fs::create_directories(m_root + directory);
    fs::create_directories(m_root + "/sys/class/tty");
    Receiver *expected = nullptr;
    if (!g_current.compare_exchange_strong(expected, this))
        throw std::logic_error("only one simulated receiver may exist at a time");
}

Receiver::~Receiver()
{
    g_current.store(nullptr);
    for (auto &slot : g_fdDevices)
        slot.store(nullptr);
    for (auto &slot : g_fdOnFull)
        slot.store(false);
    for (auto &slot : g_fdTraffic)
        slot.store(nullptr);
    if (m_ownsRoot) {
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }
}

Receiver *Receiver::Current() { return g_current.load(); }

std::string Receiver::HostPath(const std::string &boardPath) const
{
    if (boardPath.compare(0, m_root.size() + 1, m_root + "/") == 0 || !IsBoardPath(boardPath.c_str()))
        return boardPath;
    return m_root + boardPath;
}

bool Receiver::HostPathInto(const char *boardPath, char *buffer, size_t size) const
{
    size_t length = strlen(boardPath);
    bool rebase = IsBoardPath(boardPath) &&
                  !(strncmp(boardPath, m_root.c_str(), m_root.size()) == 0 && boardPath[m_root.size()] == '/');
    size_t prefix = rebase ? m_root.size() : 0;
    if (prefix + length + 1 > size)
        return false;
    memcpy(buffer, m_root.data(), prefix);
    memcpy(buffer + prefix, boardPath, length + 1);
    return true;
}

void Receiver::CreateFile(const std::string &boardPath, const std::string &contents)
{
    std::string host = HostPath(boardPath);
    fs::create_directories(fs::path(host).parent_path());
    // Written aside and renamed into place: a driver thread polling for the
    // file must never find it created but still empty.
    std::string temporary = host + ".new";
    std::ofstream(temporary, std::ios::binary | std::ios::trunc) << contents;
    std::error_code failed;
    fs::rename(temporary, host, failed);
    if (failed)
        fs::remove(temporary, failed);
}

void Receiver::RemoveFile(const std::string &boardPath)
{
    std::error_code ignored;
    fs::remove(HostPath(boardPath), ignored);
}

bool Receiver::FileExists(const std::string &boardPath) const
{
    struct stat status;
    return stat(HostPath(boardPath).c_str(), &status) == 0;
}

std::string Receiver::ReadFile(const std::string &boardPath) const
{
    std::ifstream in(HostPath(boardPath), std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void Receiver::AddDevice(const std::string &boardPath, std::shared_ptr<Device> device)
{
    CreateFile(boardPath);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices[boardPath] = std::move(device);
}

void Receiver::RemoveDevice(const std::string &boardPath)
{
    RemoveFile(boardPath);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_devices.erase(boardPath);
}

std::shared_ptr<Device> Receiver::DeviceAt(const std::string &boardPath) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_devices.find(boardPath);
    return found == m_devices.end() ? nullptr : found->second;
}

std::vector<std::string> Receiver::DevicePaths() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> paths;
    for (const auto &device : m_devices)
        paths.push_back(device.first);
    return paths;
}

void Receiver::FailOpen(const std::string &boardPath, int error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFaults[boardPath] = error;
}

void Receiver::ClearOpenFault(const std::string &boardPath)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openFaults.erase(boardPath);
}

int Receiver::OpenCount(const std::string &boardPath) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_openCounts.find(boardPath);
    return found == m_openCounts.end() ? 0 : found->second;
}

void Receiver::SetShellHandler(std::function<int(const std::string &)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shellHandler = std::move(handler);
}

std::vector<std::string> Receiver::ShellCommands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shellCommands;
}

std::vector<MknodRecord> Receiver::Mknods() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mknods;
}

void Receiver::FillDevice(const std::string &prefix, size_t room, bool atClose)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fullPrefix = prefix;
    m_fullRoom = room;
    m_fullAtClose = atClose;
}

std::vector<std::pair<int, std::string>> Receiver::OpenDescriptors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_openDescriptors.begin(), m_openDescriptors.end()};
}

std::vector<timespec> Receiver::Sleeps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sleeps;
}

int Receiver::Open(const char *path, int flags, mode_t mode)
{
    std::shared_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openCounts[path]++;
        auto fault = m_openFaults.find(path);
        if (fault != m_openFaults.end()) {
            errno = fault->second;
            return -1;
        }
        auto found = m_devices.find(path);
        if (found != m_devices.end())
            device = found->second;
    }
    std::string host = HostPath(path);
    if (!device) {
        int fd = Board_AboveStandardStreams(open(host.c_str(), flags, mode));
        if (fd >= 0)
            NoteOpen(fd, path, true);
        return fd;
    }

    // The descriptor is a real one on the stand-in file, so numbers stay
    // unique; its operations are served by the model.
    int fd = Board_AboveStandardStreams(open(host.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd < 0)
        return -1;
    if (fd >= kMaxFd) {
        close(fd);
        errno = EMFILE;
        return -1;
    }
    if (device->Open(flags) < 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    g_fdDevices[fd].store(device.get());
    NoteOpen(fd, path, false);
    return fd;
}

void Receiver::NoteOpen(int fd, const char *path, bool file)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_openDescriptors[fd] = path;
    if (fd < kMaxFd)
        g_fdOnFull[fd].store(file && !m_fullPrefix.empty() &&
                             strncmp(path, m_fullPrefix.c_str(), m_fullPrefix.size()) == 0);
    auto line = m_lines.find(path);
    if (fd < kMaxFd)
        g_fdTraffic[fd].store(line == m_lines.end() ? nullptr : line->second);
}

void Receiver::WatchLine(const std::string &boardPath, LineTraffic *traffic)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    LineTraffic *previous = m_lines[boardPath];
    m_lines[boardPath] = traffic;
    if (traffic != nullptr || previous == nullptr)
        return;
    m_lines.erase(boardPath);
    for (auto &slot : g_fdTraffic) {
        LineTraffic *expected = previous;
        slot.compare_exchange_strong(expected, nullptr);
    }
}

void Receiver::NoteTransfer(int fd, ssize_t count, bool written)
{
    LineTraffic *traffic = count > 0 ? LineOf(fd) : nullptr;
    if (traffic == nullptr)
        return;
    if (written) {
        traffic->NoteWritten(count);
        return;
    }
    traffic->reader.store(static_cast<long>(syscall(SYS_gettid)));
    traffic->read += count;
}

void Receiver::NoteWaiting(int fd)
{
    LineTraffic *traffic = LineOf(fd);
    if (traffic != nullptr)
        traffic->settled.store(traffic->read.load());
}

void Receiver::AwaitFarEnd(int fd)
{
    LineTraffic *traffic = LineOf(fd);
    if (traffic != nullptr)
        traffic->AwaitFarEnd(fd);
}

void Receiver::NoteFlush(int fd, int queue)
{
    LineTraffic *traffic = LineOf(fd);
    if (traffic != nullptr)
        traffic->NoteFlush(queue == TCIFLUSH || queue == TCIOFLUSH, queue == TCOFLUSH || queue == TCIOFLUSH);
}

int Receiver::Close(int fd)
{
    bool full = false;
    if (fd >= 0 && fd < kMaxFd) {
        g_fdTraffic[fd].store(nullptr);
        Device *device = g_fdDevices[fd].exchange(nullptr);
        if (device)
            device->Close();
        full = g_fdOnFull[fd].exchange(false);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openDescriptors.erase(fd);
        full = full && m_fullAtClose;
    }
    int result = close(fd);
    if (result == 0 && full) {
        errno = ENOSPC;
        return -1;
    }
    return result;
}

ssize_t Receiver::Write(int fd, const void *data, size_t size)
{
    if (fd < 0 || fd >= kMaxFd || !g_fdOnFull[fd].load())
        return write(fd, data, size);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_fullAtClose) {
        if (m_fullRoom == 0) {
            errno = ENOSPC;
            return -1;
        }
        size = std::min(size, m_fullRoom);
        m_fullRoom -= size;
    }
    return write(fd, data, size);
}

int Receiver::Rename(const char *from, const char *to)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto fault = m_openFaults.find(to);
        if (fault != m_openFaults.end()) {
            errno = fault->second;
            return -1;
        }
    }
    return rename(HostPath(from).c_str(), HostPath(to).c_str());
}

Device *Receiver::DeviceForFd(int fd) const
{
    if (fd < 0 || fd >= kMaxFd)
        return nullptr;
    return g_fdDevices[fd].load();
}

int Receiver::Mknod(const char *path, mode_t mode, dev_t device)
{
    std::string host = HostPath(path);
    // Never a real node: a character node with the receiver's numbers would
    // open one of the host's own devices.
    int fd = open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return -1;
    close(fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mknods.push_back({path, mode, device});
    return 0;
}

int Receiver::System(const char *command)
{
    std::function<int(const std::string &)> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shellCommands.push_back(command);
        handler = m_shellHandler;
    }
    return handler ? handler(command) : 0;
}

void Receiver::SetSleepHook(std::function<void(long ms)> hook)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sleepHook = std::move(hook);
}

int Receiver::Nanosleep(const timespec *request, timespec *remaining)
{
    if (request->tv_nsec < 0 || request->tv_nsec > 999999999 || request->tv_sec < 0) {
        errno = EINVAL;
        return -1;
    }
    std::function<void(long)> hook;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_options.recordSleeps)
            m_sleeps.push_back(*request);
        hook = m_sleepHook;
    }
    if (hook)
        hook(static_cast<long>(request->tv_sec) * 1000 + request->tv_nsec / 1000000);
    double scale = m_options.timeScale;
    double seconds = (static_cast<double>(request->tv_sec) + request->tv_nsec / 1e9) * scale;
    // Nothing to wait: a system call would still give the processor away.
    if (seconds <= 0)
        return 0;
    timespec scaled;
    scaled.tv_sec = static_cast<time_t>(seconds);
    scaled.tv_nsec = static_cast<long>((seconds - static_cast<double>(scaled.tv_sec)) * 1e9);
    timespec left{};
    int result = nanosleep(&scaled, &left);
    if (result != 0 && remaining) {
        // Report what is left in the receiver's time, not the host's.
        double leftSeconds = scale > 0 ? (static_cast<double>(left.tv_sec) + left.tv_nsec / 1e9) / scale : 0;
        remaining->tv_sec = static_cast<time_t>(leftSeconds);
        remaining->tv_nsec = static_cast<long>((leftSeconds - static_cast<double>(remaining->tv_sec)) * 1e9);
    }
    return result;
}

}  // namespace sim
