#include "sim/extender.h"

#include <errno.h>

namespace sim {

namespace {

constexpr uint8_t kDirectionA = 0x00;
constexpr uint8_t kDirectionB = 0x01;
constexpr uint8_t kLevelsA = 0x12;
constexpr uint8_t kLevelsB = 0x13;

// The driver serves the two ports' direction and level registers only.
bool Served(uint8_t reg) { return reg == kDirectionA || reg == kDirectionB || reg == kLevelsA || reg == kLevelsB; }

}  // namespace

Extender::Extender()
{
    m_registers[kDirectionA] = 0xFF;
    m_registers[kDirectionB] = 0xFF;
}

uint8_t Extender::Register(uint8_t reg) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_registers[reg];
}

void Extender::SetRegister(uint8_t reg, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_registers[reg] = value;
}

void Extender::SetInputLevels(bool portA, uint8_t levels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    (portA ? m_inputA : m_inputB) = levels;
}

int Extender::PinLevel(bool portA, int line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return (PinsLocked(portA) >> (line - 1)) & 1;
}

bool Extender::IsOutput(bool portA, int line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !((m_registers[portA ? kDirectionA : kDirectionB] >> (line - 1)) & 1);
}

void Extender::FailRead(int reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readFaults.insert(reg);
}

void Extender::FailWrite(int reg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_writeFaults.insert(reg);
}

void Extender::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_readFaults.clear();
    m_writeFaults.clear();
}

int Extender::Open(int) { return 0; }


uint8_t Extender::PinsLocked(bool portA) const
{
    uint8_t inputs = m_registers[portA ? kDirectionA : kDirectionB];
    uint8_t latch = m_registers[portA ? kLevelsA : kLevelsB];
    uint8_t driven = portA ? m_inputA : m_inputB;
    return static_cast<uint8_t>((inputs & driven) | (~inputs & latch));
}

uint8_t Extender::ValueLocked(uint8_t reg) const
{
    if (reg == kLevelsA)
        return PinsLocked(true);
    if (reg == kLevelsB)
        return PinsLocked(false);
    return m_registers[reg];
}

bool Extender::Fails(const std::set<int> &faults, uint8_t reg)
{
    return faults.count(kAnyRegister) || faults.count(reg);
}

ssize_t Extender::Read(void *buffer, size_t size)
{
    if (size != 1) {
        errno = EINVAL;
        return -1;
    }
    uint8_t *byte = static_cast<uint8_t *>(buffer);
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint8_t reg = *byte;
    if (!Served(reg)) {
        m_log.Addf("read %02X refused", reg);
        errno = EINVAL;
        return -1;
    }
    if (Fails(m_readFaults, reg)) {
        m_log.Addf("read %02X failed", reg);
        errno = EIO;
        return -1;
    }
    *byte = ValueLocked(reg);
    m_log.Addf("read %02X = %02X", reg, *byte);
    return 1;
}

ssize_t Extender::Write(const void *data, size_t size)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (size != 2 || !Served(bytes[0])) {
        m_log.Addf("write of %zu bytes to %02X refused", size, size ? bytes[0] : 0);
        errno = EINVAL;
        return -1;
    }
    if (Fails(m_writeFaults, bytes[0])) {
        m_log.Addf("write %02X %02X failed", bytes[0], bytes[1]);
        errno = EIO;
        return -1;
    }
    m_registers[bytes[0]] = bytes[1];
    m_log.Addf("write %02X %02X", bytes[0], bytes[1]);
    return 2;
}

}  // namespace sim
