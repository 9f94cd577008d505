// The board backend of the simulated receiver: device paths are served inside
// the sandbox and by the device models of the current sim::Receiver.
#include "board.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <vector>

#include "sim/receiver.h"

namespace {

sim::Receiver &Current()
{
    sim::Receiver *receiver = sim::Receiver::Current();
    if (!receiver) {
        // Running against the host's real devices is never what a test wants.
        fputs("simulated board used without a simulated receiver\n", stderr);
        abort();
    }
    return *receiver;
}

}  // namespace

extern "C" {

int Board_Open(const char *path, int flags, mode_t mode) { return Current().Open(path, flags, mode); }

int Board_Close(int fd) { return Current().Close(fd); }

ssize_t Board_Read(int fd, void *buffer, size_t size)
{
    sim::Receiver &receiver = Current();
    if (sim::Device *device = receiver.DeviceForFd(fd))
        return device->Read(buffer, size);
    receiver.NoteWaiting(fd);
    receiver.AwaitFarEnd(fd);
    ssize_t count = read(fd, buffer, size);
    receiver.NoteTransfer(fd, count, false);
    return count;
}

ssize_t Board_Write(int fd, const void *data, size_t size)
{
    sim::Receiver &receiver = Current();
    if (sim::Device *device = receiver.DeviceForFd(fd))
        return device->Write(data, size);
    ssize_t count = receiver.Write(fd, data, size);
    receiver.NoteTransfer(fd, count, true);
    return count;
}

off_t Board_Lseek(int fd, off_t offset, int whence)
{
    if (sim::Device *device = Current().DeviceForFd(fd))
        return device->Lseek(offset, whence);
    return lseek(fd, offset, whence);
}

int Board_Ioctl(int fd, unsigned long request, void *argument)
{
    // No Current(): this runs inside signal handlers and must not print or abort there.
    sim::Receiver *receiver = sim::Receiver::Current();
    if (receiver) {
        if (sim::Device *device = receiver->DeviceForFd(fd))
            return device->Ioctl(request, argument);
    }
    return ioctl(fd, request, argument);
}

int Board_Poll(struct pollfd *fds, nfds_t count, int timeout_ms)
{
    // A device model answers its reads and writes at once, so it is always
    // ready; the real descriptors (pseudo-terminals, files) are polled.
    sim::Receiver &receiver = Current();
    std::vector<pollfd> real(fds, fds + count);
    int models = 0;
    for (nfds_t i = 0; i < count; ++i) {
        if (receiver.DeviceForFd(fds[i].fd) != nullptr) {
            fds[i].revents = static_cast<short>(fds[i].events & (POLLIN | POLLOUT | POLLRDNORM | POLLWRNORM));
            real[i].fd = -1;
            models += fds[i].revents != 0;
        } else {
            receiver.NoteWaiting(fds[i].fd);
        }
    }
    int ready = poll(real.data(), count, models > 0 ? 0 : timeout_ms);
    if (ready < 0)
        return ready;
    for (nfds_t i = 0; i < count; ++i) {
        if (real[i].fd >= 0)
            fds[i].revents = real[i].revents;
    }
    return ready + models;
}

// The units flush their lines with the C library's tcflush, past the board;
// the simulated line must know what a flush dropped, or the program's next
// read would wait for it.
int tcflush(int fd, int queue)
{
    int result = ioctl(fd, TCFLSH, queue);
    if (sim::Receiver *receiver = sim::Receiver::Current(); receiver && result == 0)
        receiver->NoteFlush(fd, queue);
    return result;
}

int Board_Mknod(const char *path, mode_t mode, dev_t device) { return Current().Mknod(path, mode, device); }

int Board_Exists(const char *path)
{
    sim::Receiver *receiver = sim::Receiver::Current();
    if (!receiver)
        return 0;
    // Presence tests run inside signal handlers: no allocation here.
    char host[4096];
    if (!receiver->HostPathInto(path, host, sizeof host))
        return 0;
    struct stat status;
    return stat(host, &status) == 0;
}

int Board_Unlink(const char *path) { return unlink(Current().HostPath(path).c_str()); }

int Board_Rename(const char *from, const char *to) { return Current().Rename(from, to); }

int Board_System(const char *command) { return Current().System(command); }

int Board_Nanosleep(const struct timespec *request, struct timespec *remaining)
{
    return Current().Nanosleep(request, remaining);
}
}
