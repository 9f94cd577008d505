// The receiver itself: every call goes straight to the kernel on the real path.
#include "board.h"
#include "board_descriptor.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {

int Board_Open(const char *path, int flags, mode_t mode) { return Board_AboveStandardStreams(open(path, flags, mode)); }

int Board_Close(int fd) { return close(fd); }

ssize_t Board_Read(int fd, void *buffer, size_t size) { return read(fd, buffer, size); }

ssize_t Board_Write(int fd, const void *data, size_t size) { return write(fd, data, size); }

off_t Board_Lseek(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }

int Board_Ioctl(int fd, unsigned long request, void *argument) { return ioctl(fd, request, argument); }

int Board_Poll(struct pollfd *fds, nfds_t count, int timeout_ms) { return poll(fds, count, timeout_ms); }

int Board_Mknod(const char *path, mode_t mode, dev_t device) { return mknod(path, mode, device); }

int Board_Exists(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0;
}

int Board_Unlink(const char *path) { return unlink(path); }

int Board_Rename(const char *from, const char *to) { return rename(from, to); }

int Board_System(const char *command) { return system(command); }

int Board_Nanosleep(const struct timespec *request, struct timespec *remaining)
{
    return nanosleep(request, remaining);
}
}
