// Connects the radio's supply to the PMU model: stands at "/dev/pmu" in front
// of the board's PMU, passes every call through, and tells the radio when a
// request switched its supply.
#ifndef SIM_RADIO_POWER_H
#define SIM_RADIO_POWER_H

#include <functional>
#include <memory>

#include "sim/pmu.h"

namespace sim {

class RadioPowerLink : public Device {
public:
    RadioPowerLink(std::shared_ptr<Pmu> pmu, std::function<void(bool on)> switched);

    int Open(int flags) override { return m_pmu->Open(flags); }
    void Close() override { m_pmu->Close(); }
    ssize_t Read(void *buffer, size_t size) override { return m_pmu->Read(buffer, size); }
    ssize_t Write(const void *data, size_t size) override;
    off_t Lseek(off_t offset, int whence) override { return m_pmu->Lseek(offset, whence); }
    int Ioctl(unsigned long request, void *argument) override { return m_pmu->Ioctl(request, argument); }

private:
    std::shared_ptr<Pmu> m_pmu;
    std::function<void(bool)> m_switched;
};

}  // namespace sim

#endif
