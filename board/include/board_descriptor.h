/* What both board backends do to every descriptor they hand out. */
#ifndef BOARD_DESCRIPTOR_H
#define BOARD_DESCRIPTOR_H

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

/* A process started without its standard streams (a service, `prog <&-`)
 * gets 0, 1 or 2 for the next file it opens.  The units keep 0 for "closed",
 * and output for a closed standard stream would land in a device, so no
 * descriptor below 3 leaves the board. */
static inline int Board_AboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int keep = fcntl(fd, F_GETFD) & FD_CLOEXEC ? F_DUPFD_CLOEXEC : F_DUPFD;
    const int moved = fcntl(fd, keep, STDERR_FILENO + 1);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

#endif
