// The PPS device "/dev/pps": the API only holds it open.  The device is
// read-only: an open for writing is refused.
#ifndef SIM_PPS_H
#define SIM_PPS_H

#include <errno.h>
#include <fcntl.h>

#include <atomic>

#include "sim/device.h"

namespace sim {

class PpsDevice : public Device {
public:
    int OpenDescriptors() const { return m_open.load(); }
    int Opens() const { return m_opens.load(); }

    int Open(int flags) override
    {
        if ((flags & O_ACCMODE) != O_RDONLY) {
            errno = EACCES;
            return -1;
        }
        m_opens.fetch_add(1);
        m_open.fetch_add(1);
        return 0;
    }
    void Close() override { m_open.fetch_sub(1); }

private:
    std::atomic<int> m_open{0};
    std::atomic<int> m_opens{0};
};

}  // namespace sim

#endif
