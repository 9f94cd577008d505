#include "sim/gsm_modem.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "sim/receiver.h"

namespace sim {

namespace {

constexpr size_t kMaxCommandLine = 1024;
// How often an unpowered or powered modem looks at its supply.
constexpr int kPowerPollMs = 10;

std::string Frame(const std::string &lines)
{
    if (lines.empty())
        return "";
    std::string framed;
    size_t start = 0;
    for (;;) {
        size_t end = lines.find('\n', start);
        framed += "\r\n" + lines.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\r\n";
        if (end == std::string::npos)
            return framed;
        start = end + 1;
    }
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool BeginsWithAt(const std::string &line)
{
    return line.size() >= 2 && (line[0] == 'A' || line[0] == 'a') && (line[1] == 'T' || line[1] == 't');
}

GsmReply Ok() { return GsmReply{"OK", false}; }

}  // namespace

GsmModem::GsmModem(Receiver &receiver, GsmModemOptions options)
    : SerialPeer("gsm modem"), m_receiver(receiver), m_options(std::move(options)),
      m_line(std::make_unique<PtyLine>(receiver, m_options.boardPath)), m_startEcho(m_options.echo),
      m_startSim(m_options.sim), m_startPin(m_options.pin), m_initStatus(m_options.initStatus), m_echo(m_options.echo),
      m_sim(m_options.sim), m_pin(m_options.pin), m_phoneActivity(m_options.phoneActivity)
{
    if (m_initStatus.empty())
        m_initStatus.push_back(2);
    InstallBuiltins();
    m_lastRx = Clock::now();
    Start(*m_line);
}

GsmModem::~GsmModem() { Stop(); }

void GsmModem::InstallBuiltins()
{
    m_handlers["AT"] = [](GsmModem &, const std::string &command) {
        return command == "AT" || command == "at" ? Ok() : GsmReply{"ERROR", false};
    };
    m_handlers["ATE"] = [](GsmModem &modem, const std::string &command) {
        std::lock_guard<std::mutex> lock(modem.m_mutex);
        modem.m_echo = command == "ATE1";
        return Ok();
    };
    m_handlers["AT&F"] = [](GsmModem &modem, const std::string &) {
        std::lock_guard<std::mutex> lock(modem.m_mutex);
        modem.m_extendedErrors = false;
        return Ok();
    };
    m_handlers["AT+CFUN="] = [](GsmModem &, const std::string &) { return Ok(); };
    m_handlers["AT+WSTR"] = [](GsmModem &modem, const std::string &) {
        std::lock_guard<std::mutex> lock(modem.m_mutex);
        size_t index = std::min(modem.m_initIndex, modem.m_initStatus.size() - 1);
        ++modem.m_initIndex;
        return GsmReply{"+WSTR: 1," + std::to_string(modem.m_initStatus[index]) + "\nOK", false};
    };
    m_handlers["AT+CPAS"] = [](GsmModem &modem, const std::string &) {
        std::lock_guard<std::mutex> lock(modem.m_mutex);
        return GsmReply{"+CPAS: " + std::to_string(modem.m_phoneActivity) + "\nOK", false};
    };
    m_handlers["AT+CMEE="] = [](GsmModem &modem, const std::string &command) {
        std::string value = command.substr(8);
        if (value != "0" && value != "1")
            return GsmReply{"ERROR", false};
        std::lock_guard<std::mutex> lock(modem.m_mutex);
        modem.m_extendedErrors = value == "1";
        return Ok();
    };
    m_handlers["AT+CPIN"] = [](GsmModem &modem, const std::string &command) { return modem.Pin(command); };
    m_handlers["ATO"] = [](GsmModem &modem, const std::string &) {
        return modem.Connected() ? GsmReply{"OK", true} : GsmReply{"NO CARRIER", false};
    };
    m_handlers["AT+WIPDATA="] = [](GsmModem &, const std::string &) { return GsmReply{"CONNECT", true}; };
    m_handlers["ATH"] = [](GsmModem &modem, const std::string &) {
        modem.HangUp();
        return Ok();
    };
}

GsmReply GsmModem::Pin(const std::string &command)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (command == "AT+CPIN?") {
        switch (m_sim) {
        case SimCard::Ready: return {"+CPIN: READY\nOK", false};
        case SimCard::Pin: return {"+CPIN: SIM PIN\nOK", false};
        case SimCard::Puk: return {"+CPIN: SIM PUK\nOK", false};
        case SimCard::Absent: lock.unlock(); return {CmeError(10), false};
        case SimCard::Busy: lock.unlock(); return {CmeError(515), false};
        }
    }
    if (!StartsWith(command, "AT+CPIN="))
        return {"ERROR", false};
    std::string value = command.substr(8);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    int error = 0;
    if (m_sim == SimCard::Pin) {
        if (value == m_pin) {
            m_sim = SimCard::Ready;
            m_wrongPins = 0;
        } else {
            error = 16;
            if (++m_wrongPins >= 3)
                m_sim = SimCard::Puk;
        }
    } else if (m_sim == SimCard::Puk) {
        size_t comma = value.find(',');
        if (comma != std::string::npos && value.substr(0, comma) == m_options.puk) {
            m_pin = value.substr(comma + 1);
            m_sim = SimCard::Ready;
            m_wrongPins = 0;
        } else {
            error = 16;
        }
    } else {
        error = m_sim == SimCard::Absent ? 10 : 3;
    }
    lock.unlock();
    return error ? GsmReply{CmeError(error), false} : Ok();
}

std::vector<std::string> GsmModem::Commands() const { return Locked(m_mutex, m_commands); }

void GsmModem::ClearCommands()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
}

bool GsmModem::WaitForCommands(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_commands.size() >= count; });
}

void GsmModem::SetHandler(const std::string &prefix, GsmHandler handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlers[prefix] = std::move(handler);
}

void GsmModem::Override(const std::string &prefix, const GsmOverride &change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_overrides.emplace_back(prefix, change);
}

void GsmModem::ClearOverrides()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_overrides.clear();
}

void GsmModem::SetPowerProbe(std::function<Supply()> supply)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_powerProbe = std::move(supply);
    }
    Wake();
}

bool GsmModem::Powered() const { return Locked(m_mutex, m_powered); }

void GsmModem::SetEcho(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_echo = m_startEcho = on;
}

void GsmModem::SetSim(SimCard card)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sim = m_startSim = card;
}

void GsmModem::SetPin(const std::string &pin)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pin = m_startPin = pin;
    m_wrongPins = 0;
}

void GsmModem::SetInitStatus(std::vector<int> statuses)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_initStatus = statuses.empty() ? std::vector<int>{2} : std::move(statuses);
    m_initIndex = 0;
}

void GsmModem::SetPhoneActivity(int activity)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_phoneActivity = activity;
}

void GsmModem::SetExtendedErrors(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_extendedErrors = on;
}

bool GsmModem::Echo() const { return Locked(m_mutex, m_echo); }
bool GsmModem::ExtendedErrors() const { return Locked(m_mutex, m_extendedErrors); }
bool GsmModem::InDataMode() const { return Locked(m_mutex, m_dataMode); }
bool GsmModem::Connected() const { return Locked(m_mutex, m_connected); }
SimCard GsmModem::Sim() const { return Locked(m_mutex, m_sim); }

std::string GsmModem::CmeError(int number) const
{
    bool extended;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        extended = m_extendedErrors;
    }
    return extended ? "+CME ERROR: " + std::to_string(number) : "ERROR";
}

bool GsmModem::SendRaw(const std::string &bytes) { return Transmit(bytes); }

bool GsmModem::SendLines(const std::string &lines, bool ownRead)
{
    LogLines(lines);
    if (ownRead)
        QueueOwnRead(Frame(lines));
    else
        Transmit(Frame(lines));
    return true;
}

void GsmModem::Ring() { SendLines("RING"); }

void GsmModem::Connect(const std::string &firstPayload)
{
    EnterDataMode();
    LogLines("CONNECT");
    if (!firstPayload.empty())
        m_log.Addf("modem data: %zu bytes", firstPayload.size());
    Transmit(Frame("CONNECT") + firstPayload);
}

void GsmModem::NoCarrier()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dataMode = false;
        m_connected = false;
        m_plusCount = 0;
    }
    SendLines("NO CARRIER", true);
}

void GsmModem::HangUp()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connected = false;
}

bool GsmModem::SendPayload(const std::string &bytes)
{
    m_log.Addf("modem data: %zu bytes", bytes.size());
    return Transmit(bytes);
}

std::string GsmModem::Payload() const { return Locked(m_mutex, m_payload); }

void GsmModem::ClearPayload()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_payload.clear();
}

void GsmModem::SetPayloadHandler(std::function<void(GsmModem &, const std::string &)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_payloadHandler = std::move(handler);
}

void GsmModem::EnterDataMode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dataMode = true;
    m_connected = true;
    m_plusCount = 0;
    m_lastRx = Clock::now();
}

SerialPeer::Time GsmModem::NextWakeup(Time now) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Time next = m_powerProbe ? now + std::chrono::milliseconds(kPowerPollMs) : Time::max();
    return m_plusCount == 3 ? std::min(next, m_escapeDue) : next;
}

void GsmModem::Serve(Time)
{
    CheckPower();
    CheckEscape();
}

void GsmModem::CheckPower()
{
    std::function<Supply()> probe;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        probe = m_powerProbe;
    }
    if (!probe)
        return;
    Supply supply = probe();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (supply.switchOffs != m_switchOffs && m_powered)
        PowerLocked(false);
    m_switchOffs = supply.switchOffs;
    if (supply.on != m_powered)
        PowerLocked(supply.on);
}

void GsmModem::PowerLocked(bool on)
{
    m_powered = on;
    if (on) {
        PowerUpLocked();
        m_log.Add("power on");
    } else {
        m_dataMode = false;
        m_connected = false;
        m_log.Add("power off");
    }
}

void GsmModem::PowerUpLocked()
{
    m_echo = m_startEcho;
    m_sim = m_startSim;
    m_pin = m_startPin;
    m_wrongPins = 0;
    m_extendedErrors = false;
    m_initIndex = 0;
    m_dataMode = false;
    m_connected = false;
    m_lineBuffer.clear();
    m_plusCount = 0;
}

void GsmModem::Heard(const unsigned char *data, size_t size, Time now)
{
    CheckPower();  // a cycle since the last poll comes before these bytes
    std::string echo;
    std::string payload;
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_powered) {
        m_log.Addf("unpowered: %zu bytes unheard", size);
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        unsigned char byte = data[i];
        if (m_dataMode) {
            FeedDataLocked(byte, now, payload);
            m_lastRx = now;
            continue;
        }
        CountCommandPlusLocked(byte, now);
        m_lastRx = now;
        if (m_echo)
            echo.push_back(static_cast<char>(byte));
        if (m_lineBuffer.size() < kMaxCommandLine)
            m_lineBuffer.push_back(static_cast<char>(byte));
        if (byte != '\r' && byte != '\n')
            continue;
        std::string line;
        line.swap(m_lineBuffer);
        lock.unlock();
        Transmit(echo);
        echo.clear();
        Execute(line);
        lock.lock();
    }
    lock.unlock();
    Transmit(echo);
    DeliverPayload(payload);
}

bool GsmModem::CountPlusLocked(unsigned char byte, Clock::time_point now)
{
    auto guardBefore = std::chrono::duration<double, std::milli>(m_receiver.ScaledMs(m_options.guardBeforeMs) *
                                                                 kGuardTolerance);
    if (byte != '+' || m_plusCount >= 3 || (m_plusCount == 0 && now - m_lastRx < guardBefore))
        return false;
    if (++m_plusCount == 3) {
        auto guardAfter = std::chrono::duration<double, std::milli>(m_receiver.ScaledMs(m_options.guardAfterMs));
        m_escapeDue = now + std::chrono::duration_cast<Clock::duration>(guardAfter);
    }
    return true;
}

// A host that missed the end of a stream escapes while the modem is in
// command mode already: a guarded "+++" at a line's start then goes
// unanswered and leaves nothing in front of the next command.
void GsmModem::CountCommandPlusLocked(unsigned char byte, Clock::time_point now)
{
    if (m_lineBuffer.size() != static_cast<size_t>(m_plusCount) || !CountPlusLocked(byte, now))
        m_plusCount = 0;
}

void GsmModem::FeedDataLocked(unsigned char byte, Clock::time_point now, std::string &payload)
{
    if (CountPlusLocked(byte, now))
        return;
    FlushPlusesLocked(payload);
    payload.push_back(static_cast<char>(byte));
}

void GsmModem::FlushPlusesLocked(std::string &payload)
{
    payload.append(static_cast<size_t>(m_plusCount), '+');
    m_plusCount = 0;
}

void GsmModem::CheckEscape()
{
    std::string ahead;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_plusCount != 3 || Clock::now() < m_escapeDue)
            return;
        m_plusCount = 0;
        if (!m_dataMode) {
            if (m_lineBuffer == "+++") {
                m_lineBuffer.clear();
                m_log.Add("host: +++ (escape in command mode, dropped)");
            }
            return;
        }
        m_dataMode = false;
        m_log.Add("host: +++ (escape)");
        ahead.swap(m_beforeEscapeAnswer);
    }
    LogLines("OK");
    Transmit(ahead + Frame("OK"));
}

void GsmModem::SendBeforeEscapeAnswer(const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_beforeEscapeAnswer += bytes;
}

void GsmModem::DeliverPayload(const std::string &payload)
{
    if (payload.empty())
        return;
    std::function<void(GsmModem &, const std::string &)> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_payloadHandler;
        if (!handler)
            m_payload += payload;
    }
    m_log.Addf("host data: %zu bytes: %s", payload.size(), Printable(payload.data(), payload.size(), 200).c_str());
    if (handler)
        handler(*this, payload);
}

bool GsmModem::TakeOverride(const std::string &command, GsmOverride *change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto best = m_overrides.end();
    for (auto it = m_overrides.begin(); it != m_overrides.end(); ++it) {
        if (StartsWith(command, it->first) && (best == m_overrides.end() || it->first.size() > best->first.size()))
            best = it;
    }
    if (best == m_overrides.end())
        return false;
    *change = best->second;
    if (best->second.times > 0 && --best->second.times == 0)
        m_overrides.erase(best);
    return true;
}

GsmReply GsmModem::Dispatch(const std::string &command)
{
    GsmHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        size_t longest = 0;
        for (const auto &entry : m_handlers) {
            if (StartsWith(command, entry.first) && entry.first.size() >= longest) {
                longest = entry.first.size();
                handler = entry.second;
            }
        }
    }
    return handler ? handler(*this, command) : GsmReply{"ERROR", false};
}

void GsmModem::Execute(const std::string &line)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_commands.push_back(line);
    }
    m_changed.notify_all();
    std::string command = line.substr(0, line.size() - 1);
    // Only "AT", and a carriage return to end it, make a command.
    bool wellFormed = line.back() == '\r' && BeginsWithAt(command) && command.find('\n') == std::string::npos;
    m_log.Add("host: " + command + (wellFormed ? "" : " (malformed)"));

    GsmOverride change;
    bool overridden = wellFormed && TakeOverride(command, &change);
    GsmReply reply;
    if (!wellFormed)
        reply = GsmReply{"ERROR", false};
    else if (overridden && change.silent)
        reply = GsmReply{};
    else if (overridden && change.cmeError >= 0)
        reply = GsmReply{CmeError(change.cmeError), false};
    else if (overridden && !change.answer.empty())
        reply = GsmReply{change.answer, false};
    else
        reply = Dispatch(command);
    if (reply.lines.empty())
        return;
    if (reply.enterDataMode)
        EnterDataMode();
    LogLines(reply.lines);
    std::string framed = Frame(reply.lines);
    auto due = Clock::now() + std::chrono::microseconds(static_cast<long long>(change.delayMs * 1000));
    if (overridden && change.splitAt > 0 && change.splitAt < framed.size()) {
        Queue(framed.substr(0, change.splitAt), due);
        Queue(framed.substr(change.splitAt),
              due + std::chrono::microseconds(static_cast<long long>(change.splitGapMs * 1000)));
    } else {
        Queue(framed, due);
    }
}

void GsmModem::LogLines(const std::string &lines)
{
    size_t start = 0;
    for (;;) {
        size_t end = lines.find('\n', start);
        m_log.Add("modem: " + lines.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return;
        start = end + 1;
    }
}

bool GsmModem::Transmit(const std::string &bytes)
{
    Queue(bytes);
    return true;
}

}  // namespace sim
