#include "sim/device.h"

#include <errno.h>

namespace sim {

int Device::Open(int) { return 0; }

ssize_t Device::Read(void *, size_t)
{
    errno = EINVAL;
    return -1;
}

ssize_t Device::Write(const void *, size_t)
{
    errno = EINVAL;
    return -1;
}

off_t Device::Lseek(off_t, int)
{
    errno = ESPIPE;
    return -1;
}

int Device::Ioctl(unsigned long, void *)
{
    errno = ENOTTY;
    return -1;
}

}  // namespace sim
