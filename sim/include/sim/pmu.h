// The power-management unit behind "/dev/pmu": each 4-byte write is one
// request (0x02, command, parameter, XOR of the three) and the next read
// returns the PMU's 4-byte reply (header 0x02, echo of the command, data,
// XOR).  The model keeps the peripherals' power states that the commands
// switch, answers every query from settable data values, and logs every
// request as hex bytes, e.g. "02 C3 00 C1".
//
// Commands and their effect on the model:
//   0x7E enables power events          0xFD counts shutdown requests
//   0xB3 counts the UHF companion      0xC3 / 0xC2 UHF radio on / off
//   0x99 / 0x98 GNSS on / off          0x9A GNSS power state (data 1 = on)
//   0x92 / 0x96 GNSS wake-up / reset line from the parameter
//   0x94 / 0x95 GNSS boot line low / high
//   0x9E, 0x9F, 0xA0 report those lines (data 1 = high)
//   0xA4 / 0xA5 GSM on / off           0xA6 GSM power state
//   0xA2 GSM module signal from the parameter; 0xA1 reports it
//   0xE3 / 0xE2 display on / off       0xE4 display power state
//   0xD3 counts Bluetooth resets
//   0xF4 tone, 0xF5 duration (from the parameter), 0xF3 counts beeps and
//   sets the buzzer sounding, 0xF2 silences it
// Every other command (the measurements and the event status) answers with
// the data value set for it (SetData).
//
// Like the firmware, the model refuses with the failure answer 02 FF FF 02,
// and does not carry out, a request whose header is not 0x02, whose checksum
// is wrong, whose command is none of the above, or whose parameter the
// command does not take: 0 unless stated, 1 for the GNSS and GSM supply
// switches, 0 or 1 for the levels and the GSM module signal, any byte for
// the tone and the duration.  The log marks it: "02 C3 01 C0 (refused:
// parameter)".
#ifndef SIM_PMU_H
#define SIM_PMU_H

#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "sim/device.h"
#include "sim/event_log.h"

namespace sim {

// What the peripherals' supplies and lines look like from the PMU.
struct PmuState {
    bool uhfPower = false;
    int uhfCompanionCount = 0;  // 0xB3 requests carried out
    bool gnssPower = false;
    bool gnssWakeupHigh = false;
    bool gnssResetHigh = false;
    bool gnssBootHigh = false;
    bool gsmPower = false;
    int gsmSwitchOffs = 0;  // 0xA5 requests that found the supply on
    bool gsmModuleSignal = false;
    bool displayPower = false;
    int bluetoothResets = 0;
    uint8_t buzzerTone = 0;
    uint8_t buzzerDuration = 0;
    bool buzzerSounding = false;
    int beeps = 0;
    bool powerEventsEnabled = false;
    int shutdownRequests = 0;
};

enum class PmuFault {
    None,
    FailureAnswer,  // reply 02 FF FF 02; the command is not carried out
    BadChecksum,    // reply's last byte wrong; the command is carried out
    WrongEcho,      // reply echoes another command; carried out
    OtherHeader,    // reply's first byte is not 0x02 but consistent: a sound reply
    ShortRead,      // the read returns 2 bytes; carried out
    ShortWrite,     // the write takes 2 bytes; nothing carried out, no reply
};

class Pmu : public Device {
public:
    using Message = std::array<uint8_t, 4>;

    // One 4-byte request as the firmware took it, and the state it left.
    struct Request {
        Message bytes;
        bool carriedOut;  // false: refused, failed by a fault, or cut short
        PmuState state;
    };

    Pmu();

    // Requests as written, "02 C3 00 C1", one line each.
    EventLog &Log() { return m_log; }
    // The command byte of each request, in order.
    std::vector<uint8_t> Commands() const;
    int RequestCount() const;
    // Writes that arrived while the previous reply was still unread: requests
    // and replies of two users interleaved on the bus.
    int Overlaps() const;
    // Requests the firmware refused as malformed or unknown.
    int Refusals() const;

    PmuState State() const;
    void SetState(const PmuState &state);

    // Data byte of the reply to a measurement or event-status command.
    void SetData(uint8_t command, uint8_t value);
    uint8_t Data(uint8_t command) const;
    // Conveniences over SetData for the measurement groups.
    void SetTemperatureBytes(uint8_t integerPlus30, uint8_t hundredths);  // 0x81, 0x7A
    void SetSource0(uint8_t volts, uint8_t hundredths, uint8_t level);    // 0x8E, 0x83, 0x8A
    void SetSource1(uint8_t volts, uint8_t hundredths, uint8_t level);    // 0x8F, 0x84, 0x8B
    void SetSource2(uint8_t tenthsAbove3V);                               // 0x89
    void SetChargeIndicators(uint8_t first, uint8_t second);              // 0x8C, 0x8D
    void SetPowerSource(uint8_t source);                                  // 0x88
    void SetEventStatus(uint16_t status);                                 // 0x7F low, 0x74 high

    // Fault injection.  Every request of `command` fails with `fault` until
    // cleared: FailCommand(0xC2) makes the radio's power-off fail.
    void FailCommand(uint8_t command, PmuFault fault = PmuFault::FailureAnswer);
    void ClearCommandFault(uint8_t command);
    // The n-th request from now (1 = the next one) fails once with `fault`.
    void FailRequest(int n, PmuFault fault = PmuFault::FailureAnswer);
    // The next reply is exactly these bytes, whatever the request was (the
    // request is still carried out).
    void QueueReply(const Message &reply);
    // A signal ends the next write, and the read after it, once each before
    // any byte moved (EINTR); the retries go through.
    void InterruptNextExchange();
    void ClearFaults();

    // Sees every 4-byte request after it was taken, on the writing thread,
    // outside the model's lock (the program's SPI lock may be held).
    void SetRequestObserver(std::function<void(const Request &)> observer);

    int Open(int flags) override;
    void Close() override;
    ssize_t Read(void *buffer, size_t size) override;
    ssize_t Write(const void *data, size_t size) override;

private:
    ssize_t Take(const uint8_t *bytes, size_t size, Request *taken, std::function<void(const Request &)> *observer);
    PmuFault TakeFault(uint8_t command);
    void CarryOut(uint8_t command, uint8_t parameter);
    uint8_t ReplyData(uint8_t command) const;
    Message Reply(uint8_t command, PmuFault fault) const;

    mutable std::mutex m_mutex;
    EventLog m_log{"pmu"};
    std::vector<uint8_t> m_commands;
    int m_overlaps = 0;
    int m_refusals = 0;
    PmuState m_state;
    std::array<uint8_t, 256> m_data{};
    std::map<uint8_t, PmuFault> m_commandFaults;
    std::map<int, PmuFault> m_requestFaults;  // by absolute request number
    std::deque<Message> m_queuedReplies;
    bool m_replyPending = false;
    bool m_interruptWrite = false;
    bool m_interruptRead = false;
    Message m_reply{};
    size_t m_replySize = 0;
    std::function<void(const Request &)> m_observer;
};

}  // namespace sim

#endif
