// The PPS device "/dev/pps": the API only holds it open.
#ifndef SIM_PPS_H
#define SIM_PPS_H

#include <atomic>

#include "sim/device.h"

namespace sim {

class PpsDevice : public Device {
public:
    int OpenDescriptors() const { return m_open.load(); }
    int Opens() const { return m_opens.load(); }

    int Open(int) override
    {
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
