#include "sim/radio_power.h"

namespace sim {

RadioPowerLink::RadioPowerLink(std::shared_ptr<Pmu> pmu, std::function<void(bool on)> switched)
    : m_pmu(std::move(pmu)), m_switched(std::move(switched))
{}

ssize_t RadioPowerLink::Write(const void *data, size_t size)
{
    bool before = m_pmu->State().uhfPower;
    ssize_t result = m_pmu->Write(data, size);
    bool after = m_pmu->State().uhfPower;
    if (after != before && m_switched)
        m_switched(after);
    return result;
}

}  // namespace sim
