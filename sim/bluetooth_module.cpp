#include "sim/bluetooth_module.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include "sim/pmu.h"
#include "sim/receiver.h"

namespace sim {

namespace {

const char kCrLf[] = "\r\n";
const char kNoCarrier[] = "NO CARRIER 0 ERROR 0\r\n";
// The PMU model has no way to call out, so its reset counter is looked at.
constexpr auto kPmuLookInterval = std::chrono::milliseconds(5);
constexpr size_t kLongestCommand = 1024;

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::chrono::microseconds Micros(double ms) { return std::chrono::microseconds(static_cast<long long>(ms * 1000)); }

}  // namespace

BluetoothModule::BluetoothModule(Receiver &receiver, std::shared_ptr<Pmu> pmu, BluetoothModuleOptions options,
                                 const std::string &boardPath)
    : SerialPeer("bluetooth module"), m_receiver(receiver), m_pmu(std::move(pmu)), m_options(std::move(options)),
      m_line(receiver, boardPath), m_log("bluetooth " + boardPath), m_name(m_options.name),
      m_class(m_options.deviceClass), m_auth(m_options.authentication), m_pin(m_options.pin)
{
    if (m_pmu)
        m_pmuResetsSeen = m_pmu->State().bluetoothResets;
    Start(m_line);
}

BluetoothModule::~BluetoothModule() { Stop(); }

double BluetoothModule::Ms(Time when) const
{
    return std::chrono::duration<double, std::milli>(when - m_start).count();
}

double BluetoothModule::ScaledMs(double ms) const { return ms * m_receiver.TimeScale(); }

bool BluetoothModule::LineReady() const
{
    termios settings = m_line.HostSettings();
    return BitRateOfSpeed(cfgetospeed(&settings)) == m_options.bitRate && (settings.c_cflag & CRTSCTS);
}

SerialPeer::Time BluetoothModule::NextWakeup(Time now) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Time next = now + std::chrono::seconds(1);
    if (m_restarting)
        next = std::min(next, m_restartAt);
    if (m_pluses > 0)
        next = std::min(next, m_plusDeadline);
    if (m_pmu)
        next = std::min(next, m_nextPmuLook);
    return next;
}

void BluetoothModule::Serve(Time now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pmu && now >= m_nextPmuLook) {
        m_nextPmuLook = now + kPmuLookInterval;
        int resets = m_pmu->State().bluetoothResets;
        if (resets != m_pmuResetsSeen) {
            m_pmuResetsSeen = resets;
            Restart("PMU reset", now);
        }
    }
    if (m_restarting && now >= m_restartAt) {
        m_restarting = false;
        m_log.Add("started");
        Answer(Banner(), now);
        m_changed.notify_all();
    }
    if (m_pluses > 0 && now >= m_plusDeadline) {
        if (m_pluses == 3 && m_link && !m_paused) {
            m_pluses = 0;
            m_paused = true;
            ++m_escapes;
            Record("+++", m_thirdPlus);
            m_log.Add("> +++ (escape)");
            m_log.Add("link paused");
            Answer("READY.\r\n", now);
        } else {
            FlushPluses();  // data for the remote: its waiters are woken too
        }
        m_changed.notify_all();
    }
    PassToRemote();
}

void BluetoothModule::Heard(const unsigned char *buffer, size_t count, Time now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_restarting || !LineReady()) {
        m_log.Addf("ignored %zu bytes (%s)", count, m_restarting ? "restarting" : "line not set");
        return;
    }
    if (m_link && !m_paused)
        FeedData(buffer, count, now);
    else
        FeedCommand(buffer, count, now);
}

// ---- data mode ----

void BluetoothModule::FlushPluses()
{
    m_remoteReceived.append(m_pluses, '+');
    m_pluses = 0;
}

void BluetoothModule::FeedData(const unsigned char *bytes, size_t count, Time now)
{
    size_t data = 0;
    const double guard = ScaledMs(m_options.guardMs) * kGuardTolerance;
    for (size_t i = 0; i < count; ++i) {
        double silence = m_heardData ? std::chrono::duration<double, std::milli>(now - m_lastRx).count() : 1e12;
        bool plus = bytes[i] == '+';
        if (plus && m_pluses == 0 && silence >= guard) {
            m_pluses = 1;
        } else if (plus && m_pluses > 0 && m_pluses < 3) {
            if (++m_pluses == 3)
                m_thirdPlus = now;
        } else {
            if (m_pluses > 0) {
                data += m_pluses;
                FlushPluses();
            }
            if (plus && silence >= guard) {
                m_pluses = 1;
            } else {
                m_remoteReceived += static_cast<char>(bytes[i]);
                ++data;
            }
        }
        if (m_pluses > 0)
            m_plusDeadline = now + Micros(ScaledMs(m_options.guardMs));
        m_heardData = true;
        m_lastRx = now;
    }
    if (data > 0) {
        Record("data " + std::to_string(data), now);
        m_log.Addf("> data %zu bytes: %s", data, Printable(bytes, count, 40).c_str());
    }
    PassToRemote();
    m_changed.notify_all();
}

void BluetoothModule::PassToRemote()
{
    if (m_remoteHandler && !m_remoteReceived.empty()) {
        m_remoteHandler(m_remoteReceived);
        m_remoteReceived.clear();
    }
}

// ---- command mode ----

void BluetoothModule::FeedCommand(const unsigned char *bytes, size_t count, Time now)
{
    for (size_t i = 0; i < count; ++i) {
        char c = static_cast<char>(bytes[i]);
        if (c != '\n') {
            if (m_commandLine.size() < kLongestCommand)
                m_commandLine += c;
            continue;
        }
        std::string line;
        line.swap(m_commandLine);
        if (!line.empty())
            Command(line, now);
        // A restart drops whatever else came with the command.
        if (m_restarting)
            return;
    }
}

void BluetoothModule::Command(const std::string &received, Time now)
{
    // Kept as received, so that a stray CR shows; the module itself accepts it.
    Record(received, now);
    m_commands.push_back(received);
    m_log.Add("> " + Printable(reinterpret_cast<const unsigned char *>(received.data()), received.size(), 200));
    m_changed.notify_all();
    std::string line = received;
    if (line.back() == '\r')
        line.pop_back();

    const std::string authPrefix = "SET BT AUTH *";
    const std::string profilePrefix = "SET PROFILE SPP";
    if (line == "INFO") {
        Answer(Banner(), now);
    } else if (line == "SET") {
        Answer(Listing().substr(0, m_options.listingLimit), now);
    } else if (StartsWith(line, "SET BT NAME ")) {
        m_name = line.substr(12);
    } else if (StartsWith(line, "SET BT CLASS ")) {
        m_class = line.substr(13);
    } else if (StartsWith(line, authPrefix)) {
        std::string pin = line.substr(authPrefix.size());
        pin.erase(0, pin.find_first_not_of(' '));
        if (pin.find_first_not_of(' ') == std::string::npos)
            pin.clear();
        m_auth = !pin.empty();
        if (m_auth)
            m_pin = pin;
    } else if (line == profilePrefix || StartsWith(line, profilePrefix + " ")) {
        std::string name = line.substr(profilePrefix.size());
        name.erase(0, name.find_first_not_of(' '));
        m_profile = !name.empty();
        m_profileName = name;
    } else if (StartsWith(line, "SET BT PAGEMODE ") || StartsWith(line, "SET BT ROLE ") ||
               StartsWith(line, "SET CONTROL ECHO ")) {
        std::string key = line.substr(0, line.find(' ', line.find(' ', 4) + 1));
        auto same = [&](const std::pair<std::string, std::string> &setting) { return setting.first == key; };
        auto found = std::find_if(m_otherSettings.begin(), m_otherSettings.end(), same);
        if (found != m_otherSettings.end())
            found->second = line;
        else
            m_otherSettings.emplace_back(key, line);
    } else if (line == "RESET") {
        Restart("RESET", now);
    } else if (line == "SELECT 0") {
        if (m_link && m_paused) {
            m_paused = false;
            m_heardData = false;
            m_log.Add("link resumed");
            if (!m_heldForHost.empty()) {
                Emit(m_heldForHost, now);
                m_heldForHost.clear();
            }
        } else {
            Answer(kNoCarrier, now);
        }
    } else {
        Answer("SYNTAX ERROR\r\n", now);
    }
}

std::string BluetoothModule::Banner() const
{
    return std::string("Orva serial Bluetooth module") + kCrLf + "Firmware version " + m_options.firmwareVersion +
           kCrLf + "READY." + kCrLf;
}

std::string BluetoothModule::Listing() const
{
    char address[32];
    const auto &a = m_options.address;
    snprintf(address, sizeof address, "%02x:%02x:%02x:%02x:%02x:%02x", a[0], a[1], a[2], a[3], a[4], a[5]);
    std::string text = std::string("SET BT BDADDR ") + address + kCrLf;
    text += "SET BT NAME " + m_name + kCrLf;
    text += "SET BT CLASS " + m_class + kCrLf;
    if (m_auth)
        text += "SET BT AUTH * " + m_pin + kCrLf;
    for (const auto &setting : m_otherSettings)
        text += setting.second + kCrLf;
    if (m_profile)
        text += "SET PROFILE SPP " + m_profileName + kCrLf;
    return text;
}

// ---- output ----

void BluetoothModule::Answer(const std::string &text, Time now)
{
    if (m_options.silent || text.empty() || !LineReady())
        return;
    m_log.Add("< " + Printable(reinterpret_cast<const unsigned char *>(text.data()), text.size(), 200));
    unsigned pieces = std::max(1u, std::min<unsigned>(m_options.answerPieces, static_cast<unsigned>(text.size())));
    size_t size = (text.size() + pieces - 1) / pieces;
    auto gap = Micros(m_options.pieceGapMs);
    Time due = now;
    for (size_t at = 0; at < text.size(); at += size, due += gap)
        Queue(text.substr(at, size), due);
}

void BluetoothModule::Emit(const std::string &bytes, Time now)
{
    if (m_options.silent || bytes.empty())
        return;
    Queue(bytes, now);
}

void BluetoothModule::Restart(const char *why, Time now)
{
    m_log.Addf("restart (%s)", why);
    if (m_link)
        m_log.Add("link dropped by the restart");
    m_link = false;
    m_paused = false;
    m_pluses = 0;
    m_heldForHost.clear();
    m_commandLine.clear();
    DropOutput();
    m_restarting = true;
    m_restartAt = now + Micros(ScaledMs(m_options.restartMs));
    ++m_restarts;
    m_changed.notify_all();
}

void BluetoothModule::Record(const std::string &text, Time when) { m_events.push_back({Ms(when), text}); }

// ---- the remote side ----

bool BluetoothModule::Connect(const std::string &remoteAddress, const std::string &firstData)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_link || m_restarting || !m_profile || m_options.silent || !LineReady())
        return false;
    m_link = true;
    m_paused = false;
    m_heardData = false;
    m_pluses = 0;
    m_log.Add("link up from " + remoteAddress);
    Emit("RING 0 " + remoteAddress + " 1 RFCOMM " + kCrLf + firstData, Clock::now());
    m_changed.notify_all();
    return true;
}

bool BluetoothModule::SendData(const std::string &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_link)
        return false;
    if (m_paused)
        m_heldForHost += data;
    else
        Emit(data, Clock::now());
    return true;
}

bool BluetoothModule::Disconnect(const std::string &lastData)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_link)
        return false;
    m_link = false;
    m_paused = false;
    m_pluses = 0;
    m_heldForHost.clear();
    m_log.Add("link down");
    if (!m_options.silent)
        QueueOwnRead(lastData + kNoCarrier);
    m_changed.notify_all();
    return true;
}

void BluetoothModule::SendRaw(const std::string &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Emit(bytes, Clock::now());
}

void BluetoothModule::SetRemoteHandler(std::function<void(const std::string &)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_remoteHandler = std::move(handler);
}

void BluetoothModule::SetSilent(bool silent)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options.silent = silent;
}

void BluetoothModule::SetAnswerPieces(unsigned pieces)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options.answerPieces = pieces;
}

void BluetoothModule::SetListingLimit(size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_options.listingLimit = bytes;
}

// ---- observation ----

std::vector<BluetoothHostEvent> BluetoothModule::HostEvents() const { return Locked(m_mutex, m_events); }
std::vector<std::string> BluetoothModule::Commands() const { return Locked(m_mutex, m_commands); }
std::string BluetoothModule::RemoteReceived() const { return Locked(m_mutex, m_remoteReceived); }
bool BluetoothModule::LinkUp() const { return Locked(m_mutex, m_link); }

bool BluetoothModule::LinkPaused() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_link && m_paused;
}

std::string BluetoothModule::Name() const { return Locked(m_mutex, m_name); }
std::string BluetoothModule::Pin() const { return Locked(m_mutex, m_pin); }
bool BluetoothModule::Authentication() const { return Locked(m_mutex, m_auth); }
bool BluetoothModule::ProfileOpen() const { return Locked(m_mutex, m_profile); }
int BluetoothModule::Restarts() const { return Locked(m_mutex, m_restarts); }
int BluetoothModule::Escapes() const { return Locked(m_mutex, m_escapes); }

bool BluetoothModule::WaitForCommand(const std::string &line, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::find(m_commands.begin(), m_commands.end(), line) != m_commands.end();
    });
}

bool BluetoothModule::WaitForRemoteBytes(size_t count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto enough = [&] { return m_remoteReceived.size() >= count; };
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), enough);
}

bool BluetoothModule::WaitForRestarts(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    auto restarted = [&] { return m_restarts >= count && !m_restarting; };
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), restarted);
}

}  // namespace sim
