// A driver model standing behind one device path of the simulated receiver.
#ifndef SIM_DEVICE_H
#define SIM_DEVICE_H

#include <sys/types.h>

namespace sim {

// Every operation follows the system call's convention: -1 with errno set on
// failure.  Models are reached from any thread, and Ioctl also from signal
// handlers (the pending-event query), so a model's Ioctl takes no lock that a
// thread of the program under test could be holding.
class Device {
public:
    virtual ~Device() = default;

    // Called for each open of the path; a model refuses by returning -1 with errno.
    virtual int Open(int flags);
    virtual void Close() {}
    virtual ssize_t Read(void *buffer, size_t size);
    virtual ssize_t Write(const void *data, size_t size);
    virtual off_t Lseek(off_t offset, int whence);
    virtual int Ioctl(unsigned long request, void *argument);
};

}  // namespace sim

#endif
