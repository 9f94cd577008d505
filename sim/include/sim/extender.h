// The GPIO extender behind "/dev/extender": two 8-line ports, A and B.
// Register read: the caller passes a one-byte buffer holding the register
// number to read() and gets the value back in it.  Register write: a
// two-byte write of register number and value.  Any other size, and any
// register but the four below, is refused with EINVAL, as by the driver.
//
// Registers: 0x00 / 0x01 direction of port A / B (bit set = input),
// 0x12 / 0x13 levels of port A / B (read: pin states; write: output latch).
// A pin that is an output shows its latch bit; an input shows the level the
// outside world drives on it (SetInputLevels, default all high: pulled up).
// Power-up: every line an input, latches 0.
//
// The log has one line per access: "read 12 = FF", "write 00 02",
// "read 14 refused", "write of 1 bytes to 12 refused".
#ifndef SIM_EXTENDER_H
#define SIM_EXTENDER_H

#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <mutex>
#include <set>

#include "sim/device.h"
#include "sim/event_log.h"

namespace sim {

class Extender : public Device {
public:
    static constexpr int kAnyRegister = -1;

    Extender();

    EventLog &Log() { return m_log; }

    // Raw register contents (for 0x12/0x13: the output latch).
    uint8_t Register(uint8_t reg) const;
    void SetRegister(uint8_t reg, uint8_t value);
    // Levels the outside world drives on a port's pins (bit n-1 = line n).
    void SetInputLevels(bool portA, uint8_t levels);
    // What a line shows: its latch bit when an output, else the driven level.
    int PinLevel(bool portA, int line) const;
    bool IsOutput(bool portA, int line) const;

    // Accesses of a register (or of any) fail with EIO until cleared.
    void FailRead(int reg = kAnyRegister);
    void FailWrite(int reg = kAnyRegister);
    void ClearFaults();

    int Open(int flags) override;
    ssize_t Read(void *buffer, size_t size) override;
    ssize_t Write(const void *data, size_t size) override;

private:
    uint8_t PinsLocked(bool portA) const;
    uint8_t ValueLocked(uint8_t reg) const;
    static bool Fails(const std::set<int> &faults, uint8_t reg);

    mutable std::mutex m_mutex;
    EventLog m_log{"extender"};
    std::array<uint8_t, 256> m_registers{};
    uint8_t m_inputA = 0xFF;
    uint8_t m_inputB = 0xFF;
    std::set<int> m_readFaults;
    std::set<int> m_writeFaults;
};

}  // namespace sim

#endif
