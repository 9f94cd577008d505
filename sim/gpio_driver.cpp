#include "sim/gpio_driver.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sim {

int SendSignalAs(int signal, unsigned uid)
{
    siginfo_t info;
    memset(&info, 0, sizeof info);
    info.si_signo = signal;
    info.si_code = SI_QUEUE;
    info.si_pid = getpid();
    info.si_uid = uid;
    return static_cast<int>(syscall(SYS_rt_sigqueueinfo, getpid(), signal, &info));
}

GpioDriver::GpioDriver()
{
    for (int slot = 0; slot < kFaultSlots; ++slot) {
        m_faultRequests[slot].store(0);
        m_faultErrors[slot].store(0);
    }
}

void GpioDriver::RaiseEvents(uint32_t bits)
{
    m_events.fetch_or(bits);
    SendSignalAs(SIGUSR2, 0);
}

void GpioDriver::RaiseSigio() { SendSignalAs(SIGIO, 0); }

void GpioDriver::FailIoctl(unsigned long request, int error)
{
    ClearIoctlFault(request);
    for (int slot = 0; slot < kFaultSlots; ++slot) {
        unsigned long expected = 0;
        if (m_faultRequests[slot].load() == 0) {
            m_faultErrors[slot].store(error);
            if (m_faultRequests[slot].compare_exchange_strong(expected, request))
                return;
        }
    }
}

void GpioDriver::ClearIoctlFault(unsigned long request)
{
    for (int slot = 0; slot < kFaultSlots; ++slot) {
        unsigned long expected = request;
        m_faultRequests[slot].compare_exchange_strong(expected, 0);
    }
}

void GpioDriver::ClearIoctlFaults()
{
    for (int slot = 0; slot < kFaultSlots; ++slot)
        m_faultRequests[slot].store(0);
}

int GpioDriver::FaultFor(unsigned long request) const
{
    for (int slot = 0; slot < kFaultSlots; ++slot) {
        if (m_faultRequests[slot].load() == request)
            return m_faultErrors[slot].load();
    }
    return 0;
}

int GpioDriver::Open(int flags)
{
    m_open.fetch_add(1);
    m_log.Addf("open flags=0x%x", static_cast<unsigned>(flags));
    return 0;
}

void GpioDriver::Close()
{
    m_open.fetch_sub(1);
    m_log.Add("close");
}

int GpioDriver::Ioctl(unsigned long request, void *argument)
{
    if (request == kGetEvents) {
        // Runs inside signal handlers: no log, no allocation.
        m_eventReads.fetch_add(1);
        if (int error = FaultFor(request)) {
            errno = error;
            return -1;
        }
        if (!argument) {
            errno = EFAULT;
            return -1;
        }
        uint32_t word = m_clearOnRead.load() ? m_events.exchange(0) : m_events.load();
        memcpy(argument, &word, sizeof word);
        return 0;
    }

    int error = FaultFor(request);
    int32_t value = 0;
    if (argument && request == kSetSerialMode)
        memcpy(&value, argument, sizeof value);
    switch (request) {
    case kSetSerialMode: m_log.Addf("set serial mode %d%s", value, error ? " (failed)" : ""); break;
    case kGetSerialMode: m_log.Addf("get serial mode%s", error ? " (failed)" : ""); break;
    case kGetDcdLevel: m_log.Addf("get dcd level%s", error ? " (failed)" : ""); break;
    default:
        m_log.Addf("unknown request 0x%lx", request);
        errno = ENOTTY;
        return -1;
    }
    if (error) {
        errno = error;
        return -1;
    }
    if (!argument) {
        errno = EFAULT;
        return -1;
    }
    switch (request) {
    case kSetSerialMode:
        // The radio line has two modes; the driver knows no other.
        if (value != 0 && value != 1) {
            errno = EINVAL;
            return -1;
        }
        m_serialMode.store(value);
        break;
    case kGetSerialMode:
        value = m_serialMode.load();
        memcpy(argument, &value, sizeof value);
        break;
    case kGetDcdLevel:
        value = m_dcdLevel.load();
        memcpy(argument, &value, sizeof value);
        break;
    }
    return 0;
}

}  // namespace sim
