#include "sim/pmu.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>

namespace sim {

namespace {

uint8_t Checksum(const Pmu::Message &message) { return message[0] ^ message[1] ^ message[2]; }

// What the firmware takes as a command's parameter.
enum class Parameter { Zero, Level, One, Any };

// The commands the firmware knows; every other one is refused.
bool Known(uint8_t command, Parameter *parameter)
{
    static const struct {
        uint8_t first, last;
        Parameter parameter;
    } kCommands[] = {
        {0x74, 0x74, Parameter::Zero},  {0x7A, 0x7A, Parameter::Zero}, {0x7E, 0x7F, Parameter::Zero},
        {0x81, 0x81, Parameter::Zero},  {0x83, 0x84, Parameter::Zero}, {0x88, 0x8F, Parameter::Zero},
        {0x92, 0x92, Parameter::Level}, {0x94, 0x95, Parameter::Zero}, {0x96, 0x96, Parameter::Level},
        {0x98, 0x99, Parameter::One},   {0x9A, 0x9B, Parameter::Zero}, {0x9E, 0xA1, Parameter::Zero},
        {0xA2, 0xA2, Parameter::Level}, {0xA4, 0xA5, Parameter::One},  {0xA6, 0xA6, Parameter::Zero},
        {0xB3, 0xB3, Parameter::Zero},  {0xC2, 0xC3, Parameter::Zero}, {0xD3, 0xD3, Parameter::Zero},
        {0xE2, 0xE4, Parameter::Zero},  {0xF2, 0xF3, Parameter::Zero}, {0xF4, 0xF5, Parameter::Any},
        {0xFD, 0xFD, Parameter::Zero},
    };
    for (const auto &entry : kCommands) {
        if (command >= entry.first && command <= entry.last) {
            *parameter = entry.parameter;
            return true;
        }
    }
    return false;
}

// Why the firmware refuses a request, or null when it takes it.
const char *Refusal(const uint8_t *request)
{
    if (request[0] != 0x02)
        return "header";
    if ((request[0] ^ request[1] ^ request[2]) != request[3])
        return "checksum";
    Parameter parameter;
    if (!Known(request[1], &parameter))
        return "unknown command";
    const uint8_t value = request[2];
    const bool fits = parameter == Parameter::Any || (parameter == Parameter::Zero && value == 0) ||
                      (parameter == Parameter::One && value == 1) || (parameter == Parameter::Level && value <= 1);
    return fits ? nullptr : "parameter";
}

}  // namespace

Pmu::Pmu()
{
    // A receiver on battery 0 at room temperature, mains supply present.
    SetTemperatureBytes(55, 25);
    SetSource0(7, 40, 85);
    SetSource1(0xFE, 0, 0);
    SetSource2(90);
    SetChargeIndicators(0, 0);
    SetPowerSource(0);
    SetEventStatus(0);
}

std::vector<uint8_t> Pmu::Commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

int Pmu::RequestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_commands.size());
}

int Pmu::Overlaps() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_overlaps;
}

int Pmu::Refusals() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refusals;
}

PmuState Pmu::State() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

void Pmu::SetState(const PmuState &state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = state;
}

void Pmu::SetData(uint8_t command, uint8_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_data[command] = value;
}

uint8_t Pmu::Data(uint8_t command) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_data[command];
}

void Pmu::SetTemperatureBytes(uint8_t integerPlus30, uint8_t hundredths)
{
    SetData(0x81, integerPlus30);
    SetData(0x7A, hundredths);
}

void Pmu::SetSource0(uint8_t volts, uint8_t hundredths, uint8_t level)
{
    SetData(0x8E, volts);
    SetData(0x83, hundredths);
    SetData(0x8A, level);
}

void Pmu::SetSource1(uint8_t volts, uint8_t hundredths, uint8_t level)
{
    SetData(0x8F, volts);
    SetData(0x84, hundredths);
    SetData(0x8B, level);
}

void Pmu::SetSource2(uint8_t tenthsAbove3V) { SetData(0x89, tenthsAbove3V); }

void Pmu::SetChargeIndicators(uint8_t first, uint8_t second)
{
    SetData(0x8C, first);
    SetData(0x8D, second);
}

void Pmu::SetPowerSource(uint8_t source) { SetData(0x88, source); }

void Pmu::SetEventStatus(uint16_t status)
{
    SetData(0x7F, static_cast<uint8_t>(status & 0xFF));
    SetData(0x74, static_cast<uint8_t>(status >> 8));
}

void Pmu::FailCommand(uint8_t command, PmuFault fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandFaults[command] = fault;
}

void Pmu::ClearCommandFault(uint8_t command)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandFaults.erase(command);
}

void Pmu::FailRequest(int n, PmuFault fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requestFaults[static_cast<int>(m_commands.size()) + n] = fault;
}

void Pmu::QueueReply(const Message &reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queuedReplies.push_back(reply);
}

void Pmu::InterruptNextExchange()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interruptWrite = true;
}

void Pmu::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandFaults.clear();
    m_requestFaults.clear();
    m_queuedReplies.clear();
}

int Pmu::Open(int) { return 0; }

void Pmu::Close() {}

PmuFault Pmu::TakeFault(uint8_t command)
{
    auto byNumber = m_requestFaults.find(static_cast<int>(m_commands.size()));
    if (byNumber != m_requestFaults.end()) {
        PmuFault fault = byNumber->second;
        m_requestFaults.erase(byNumber);
        return fault;
    }
    auto byCommand = m_commandFaults.find(command);
    return byCommand == m_commandFaults.end() ? PmuFault::None : byCommand->second;
}

void Pmu::CarryOut(uint8_t command, uint8_t parameter)
{
    PmuState &s = m_state;
    switch (command) {
    case 0x7E: s.powerEventsEnabled = true; break;
    case 0xFD: s.shutdownRequests++; break;
    case 0xB3: s.uhfCompanionCount++; break;
    case 0xC3: s.uhfPower = true; break;
    case 0xC2: s.uhfPower = false; break;
    case 0x99: s.gnssPower = true; break;
    case 0x98: s.gnssPower = false; break;
    case 0x92: s.gnssWakeupHigh = parameter != 0; break;
    case 0x96: s.gnssResetHigh = parameter != 0; break;
    case 0x94: s.gnssBootHigh = false; break;
    case 0x95: s.gnssBootHigh = true; break;
    case 0xA4: s.gsmPower = true; break;
    case 0xA5:
        s.gsmSwitchOffs += s.gsmPower;
        s.gsmPower = false;
        break;
    case 0xA2: s.gsmModuleSignal = parameter != 0; break;
    case 0xE3: s.displayPower = true; break;
    case 0xE2: s.displayPower = false; break;
    case 0xD3: s.bluetoothResets++; break;
    case 0xF4: s.buzzerTone = parameter; break;
    case 0xF5: s.buzzerDuration = parameter; break;
    case 0xF3:
        s.beeps++;
        s.buzzerSounding = true;
        break;
    case 0xF2: s.buzzerSounding = false; break;
    default: break;
    }
}

uint8_t Pmu::ReplyData(uint8_t command) const
{
    const PmuState &s = m_state;
    switch (command) {
    case 0x9A: return s.gnssPower;
    case 0x9E: return s.gnssWakeupHigh;
    case 0x9F: return s.gnssResetHigh;
    case 0xA0: return s.gnssBootHigh;
    case 0xA1: return s.gsmModuleSignal;
    case 0xA6: return s.gsmPower;
    case 0xE4: return s.displayPower;
    default: return m_data[command];
    }
}

Pmu::Message Pmu::Reply(uint8_t command, PmuFault fault) const
{
    if (fault == PmuFault::FailureAnswer)
        return {0x02, 0xFF, 0xFF, 0x02};
    Message reply{0x02, command, ReplyData(command), 0};
    if (fault == PmuFault::WrongEcho)
        reply[1] = static_cast<uint8_t>(command ^ 0x01);
    if (fault == PmuFault::OtherHeader)
        reply[0] = 0x55;
    reply[3] = Checksum(reply);
    if (fault == PmuFault::BadChecksum)
        reply[3] ^= 0x5A;
    return reply;
}

ssize_t Pmu::Write(const void *data, size_t size)
{
    Request taken{};
    std::function<void(const Request &)> observer;
    ssize_t result = Take(static_cast<const uint8_t *>(data), size, &taken, &observer);
    if (observer && size == 4)
        observer(taken);
    return result;
}

void Pmu::SetRequestObserver(std::function<void(const Request &)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

ssize_t Pmu::Take(const uint8_t *bytes, size_t size, Request *taken, std::function<void(const Request &)> *observer)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_interruptWrite) {
            m_interruptWrite = false;
            m_interruptRead = true;
            errno = EINTR;
            return -1;
        }
    }
    std::string line;
    char hex[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
        line += hex;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (size != 4) {
        m_log.Add(line + " (rejected: not 4 bytes)");
        errno = EINVAL;
        return -1;
    }
    *observer = m_observer;
    std::copy(bytes, bytes + 4, taken->bytes.begin());
    // Each way out hands the observer the state the request left.
    auto taking = [&](ssize_t result) {
        taken->state = m_state;
        return result;
    };
    if (m_replyPending)
        m_overlaps++;
    uint8_t command = bytes[1];
    m_commands.push_back(command);
    // A request the firmware cannot take is answered with the failure
    // answer and not carried out.
    if (const char *refusal = Refusal(bytes)) {
        m_log.Add(line + " (refused: " + refusal + ")");
        m_refusals++;
        m_reply = Reply(command, PmuFault::FailureAnswer);
        m_replySize = m_reply.size();
        m_replyPending = true;
        return taking(4);
    }
    m_log.Add(line);
    PmuFault fault = TakeFault(command);
    if (fault == PmuFault::ShortWrite) {
        m_replyPending = false;
        return taking(2);
    }
    if (!m_queuedReplies.empty()) {
        CarryOut(command, bytes[2]);
        taken->carriedOut = true;
        m_reply = m_queuedReplies.front();
        m_queuedReplies.pop_front();
        m_replySize = m_reply.size();
        m_replyPending = true;
        return taking(4);
    }
    if (fault != PmuFault::FailureAnswer) {
        CarryOut(command, bytes[2]);
        taken->carriedOut = true;
    }
    m_reply = Reply(command, fault);
    m_replySize = fault == PmuFault::ShortRead ? 2 : m_reply.size();
    m_replyPending = true;
    return taking(4);
}

ssize_t Pmu::Read(void *buffer, size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_interruptRead) {
        m_interruptRead = false;
        errno = EINTR;
        return -1;
    }
    if (!m_replyPending) {
        errno = EIO;
        return -1;
    }
    m_replyPending = false;
    size_t count = size < m_replySize ? size : m_replySize;
    memcpy(buffer, m_reply.data(), count);
    return static_cast<ssize_t>(count);
}

}  // namespace sim
