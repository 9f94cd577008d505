/* The platform seam: every access to the board's files and drivers goes
 * through it: opening, reading, writing, seeking and closing device and
 * configuration files, driver requests (ioctl), polling, device node
 * creation, presence tests, file removal and renaming, the shell and
 * sleeping.  Paths are always the receiver's own ("/dev/pmu",
 * "/etc/ts9_api.cfg"); a backend decides where they really are.  Two
 * backends exist: the Linux board (plain system calls) and the simulated
 * receiver (paths inside a sandbox, device models behind them).
 *
 * Not through it: the terminal settings of a serial line opened through it
 * (tcgetattr, tcsetattr, tcflush, cfset*speed and cfgetospeed, in the UART,
 * GSM and Bluetooth units and the tool's serial link).  Both backends hand out
 * a real terminal for a serial line (the simulated receiver's lines are
 * pseudo-terminals), so the POSIX terminal interface works on the descriptor
 * as it is.  Threads, semaphores, clocks, signals and the standard streams
 * are the same on both and are used directly too.
 *
 * Every call behaves like the system call it is named after: -1 and errno on
 * failure.  One difference: Board_Open never returns 0, 1 or 2, even in a
 * process started without its standard streams. */
#ifndef BOARD_H
#define BOARD_H

#include <poll.h>
#include <stddef.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

int Board_Open(const char *path, int flags, mode_t mode);
int Board_Close(int fd);
ssize_t Board_Read(int fd, void *buffer, size_t size);
ssize_t Board_Write(int fd, const void *data, size_t size);
off_t Board_Lseek(int fd, off_t offset, int whence);
int Board_Ioctl(int fd, unsigned long request, void *argument);
/* poll(2): lets a reader wait for input with a time-out. */
int Board_Poll(struct pollfd *fds, nfds_t count, int timeout_ms);

/* Creates a device node (character or block, from `mode`). */
int Board_Mknod(const char *path, mode_t mode, dev_t device);
/* 1 when the path exists (a successful stat), else 0. */
int Board_Exists(const char *path);
int Board_Unlink(const char *path);
/* rename(2): replaces `to` at once, so a reader finds the old file or the new. */
int Board_Rename(const char *from, const char *to);
/* Runs a command line through the system shell; the result of system(3). */
int Board_System(const char *command);
/* nanosleep(2): may return -1 with EINTR and the time left in `remaining`. */
int Board_Nanosleep(const struct timespec *request, struct timespec *remaining);

#ifdef __cplusplus
}
#endif

#endif
