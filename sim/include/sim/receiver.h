// The simulated receiver: the board's paths rebased into a sandbox directory,
// driver models behind device paths, a recorder for shell commands and sleeps.
// While a Receiver exists, the simulated board backend routes every Board_*
// call through it.
#ifndef SIM_RECEIVER_H
#define SIM_RECEIVER_H

#include <sys/types.h>
#include <time.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

struct LineTraffic;

struct ReceiverOptions {
    // Sandbox directory; empty: a fresh directory under $TMPDIR (or /tmp),
    // removed again with the receiver unless keepSandbox is set.
    std::string sandbox;
    bool keepSandbox = false;
    // Factor applied to every sleep of the program under test.  Receive
    // time-outs (idle reads on serial lines) are never scaled.
    double timeScale = 1.0;
    // Long fuzzing runs turn this off: every poll of a time-out loop is a sleep.
    bool recordSleeps = true;
};

struct MknodRecord {
    std::string path;
    mode_t mode;
    dev_t device;
};

class Receiver {
public:
    explicit Receiver(ReceiverOptions options = {});
    ~Receiver();
    Receiver(const Receiver &) = delete;
    Receiver &operator=(const Receiver &) = delete;

    // The receiver the board backend uses; null when none exists.
    static Receiver *Current();

    const std::string &Root() const { return m_root; }
    double TimeScale() const { return m_options.timeScale; }
    // Scales a duration in milliseconds of the receiver's time to host time.
    double ScaledMs(double ms) const { return ms * m_options.timeScale; }

    // Where a board path lives on the host.  Absolute paths under the board's
    // system directories (/dev, /etc, /var, /tmp, /sys, /mnt, /proc, /root,
    // /usr/local) are rebased into the sandbox; everything else is left as it is.
    std::string HostPath(const std::string &boardPath) const;
    // The same without allocating, for signal handlers; false when it does not fit.
    bool HostPathInto(const char *boardPath, char *buffer, size_t size) const;

    // Files in the sandbox, by board path (parent directories are made).
    void CreateFile(const std::string &boardPath, const std::string &contents = "");
    void RemoveFile(const std::string &boardPath);
    bool FileExists(const std::string &boardPath) const;
    std::string ReadFile(const std::string &boardPath) const;

    // Puts a model behind a board path; a stand-in file makes the path
    // exist.  Removing the model removes the file too.
    void AddDevice(const std::string &boardPath, std::shared_ptr<Device> device);
    void RemoveDevice(const std::string &boardPath);
    std::shared_ptr<Device> DeviceAt(const std::string &boardPath) const;
    // Where the models stand, in order.
    std::vector<std::string> DevicePaths() const;

    // Makes every open of a board path, and every rename onto it, fail with
    // `error` until cleared.
    void FailOpen(const std::string &boardPath, int error);
    void ClearOpenFault(const std::string &boardPath);
    // Counts the opens of a board path (successful or not).
    int OpenCount(const std::string &boardPath) const;
    // Files opened under `prefix` (a board path such as "/etc/") from now on
    // lie on a full device: their writes take `room` more bytes in all, the
    // one that reaches the end short, then fail with ENOSPC.  With `atClose`
    // the device reports it late: the writes go through and the close fails
    // with ENOSPC.  An empty prefix ends it for later opens.
    void FillDevice(const std::string &prefix, size_t room, bool atClose = false);
    // Descriptors opened through the board and not closed yet, with their
    // board paths, in descriptor order.
    std::vector<std::pair<int, std::string>> OpenDescriptors() const;

    // Shell commands in the order they were run; the handler, when set, plays
    // a command's effect and gives its status (default: 0, no effect).
    void SetShellHandler(std::function<int(const std::string &)> handler);
    std::vector<std::string> ShellCommands() const;

    // Device nodes created through the board; the sim makes plain files.
    std::vector<MknodRecord> Mknods() const;

    // Sleeps requested by the program under test, unscaled.
    std::vector<timespec> Sleeps() const;
    // Called on the sleeping thread before each sleep of the program, with its
    // length in ms (unscaled): a test acts at a known point of the program's
    // waits instead of guessing when they run.  The hook must not sleep
    // through the board itself.
    void SetSleepHook(std::function<void(long ms)> hook);

    // The descriptors the program opens on a board path count their bytes in
    // `traffic` (null: no longer).
    void WatchLine(const std::string &boardPath, LineTraffic *traffic);

    // Used by the board backend.
    int Open(const char *path, int flags, mode_t mode);
    int Close(int fd);
    Device *DeviceForFd(int fd) const;
    ssize_t Write(int fd, const void *data, size_t size);
    int Rename(const char *from, const char *to);
    int Mknod(const char *path, mode_t mode, dev_t device);
    int System(const char *command);
    int Nanosleep(const timespec *request, timespec *remaining);
    void NoteTransfer(int fd, ssize_t count, bool written);
    // The program is back to wait on or read `fd`.
    void NoteWaiting(int fd);
    // Before the program reads `fd`: see LineTraffic::AwaitFarEnd.
    void AwaitFarEnd(int fd);
    // The program flushed `fd` (tcflush's `queue`).
    void NoteFlush(int fd, int queue);

private:
    void NoteOpen(int fd, const char *path, bool file);

    ReceiverOptions m_options;
    std::string m_root;
    bool m_ownsRoot = false;

    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Device>> m_devices;
    std::map<std::string, int> m_openFaults;
    std::map<std::string, int> m_openCounts;
    std::map<int, std::string> m_openDescriptors;
    std::string m_fullPrefix;
    size_t m_fullRoom = 0;
    bool m_fullAtClose = false;
    std::function<int(const std::string &)> m_shellHandler;
    std::vector<std::string> m_shellCommands;
    std::vector<MknodRecord> m_mknods;
    std::vector<timespec> m_sleeps;
    std::function<void(long)> m_sleepHook;
    std::map<std::string, LineTraffic *> m_lines;
};

}  // namespace sim

#endif
