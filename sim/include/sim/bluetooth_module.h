// The receiver's Bluetooth module as the far end of its serial line: a
// serial-port-profile module driven by text commands, on the master side of
// a sim::PtyLine at "/dev/ttyS3", with its own thread.
//
// Wire behaviour:
//   - Silent (hears nothing, says nothing) until the host has set the line to
//     the module's speed with hardware handshake.
//   - Commands end with LF (a CR before it is ignored); answers end with CR LF.
//   - "INFO" and every restart answer with the banner: a greeting, the line
//     "Firmware version <version>" and "READY.".  A restart follows "RESET" and
//     every Bluetooth reset request (0xD3) that reaches the PMU model.
//   - "SET" lists the settings, one "SET ..." line each; "SET BT NAME",
//     "SET BT CLASS", "SET BT AUTH * [pin]", "SET BT PAGEMODE", "SET BT ROLE",
//     "SET CONTROL ECHO" and "SET PROFILE SPP [name]" change them silently.
//   - An incoming link shows as "RING 0 <address> 1 RFCOMM " CR LF; the
//     remote's bytes follow in data mode.  "+++" with a guard silence before
//     and after it (scaled by the receiver's time scale) pauses the link and
//     answers "READY."; "SELECT 0" resumes it.  The link's end shows as
//     "NO CARRIER 0 ERROR 0".
#ifndef SIM_BLUETOOTH_MODULE_H
#define SIM_BLUETOOTH_MODULE_H

#include <stddef.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/event_log.h"
#include "sim/pty_line.h"
#include "sim/serial_peer.h"

namespace sim {

class Pmu;
class Receiver;

struct BluetoothModuleOptions {
    unsigned bitRate = 115200;
    std::string name = "Orva GNSS";
    std::string deviceClass = "001f00";
    std::array<unsigned char, 6> address{{0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C}};
    std::string firmwareVersion = "3.2.1";
    bool authentication = false;
    std::string pin = "5820";
    // In the receiver's time, scaled by the receiver's time scale.
    double guardMs = 1000;   // silence before and after "+++"
    double restartMs = 100;  // from a reset to its "READY."
    // Answers leave in this many pieces, pieceGapMs (host time) apart.
    unsigned answerPieces = 1;
    double pieceGapMs = 3;
    // The settings listing is cut after this many bytes.
    size_t listingLimit = static_cast<size_t>(-1);
    // Hears everything and answers nothing.
    bool silent = false;
};

// Something the host sent, with its arrival in ms (host time) since the
// module was made: a command line, "+++" (an accepted escape, stamped at its
// last '+') or "data <n>" (n bytes for the remote).
struct BluetoothHostEvent {
    double ms;
    std::string text;
};

class BluetoothModule : public SerialPeer {
public:
    BluetoothModule(Receiver &receiver, std::shared_ptr<Pmu> pmu = nullptr, BluetoothModuleOptions options = {},
                    const std::string &boardPath = "/dev/ttyS3");
    ~BluetoothModule();

    // The remote side.  False when the module cannot do it now (no open
    // server, a link already up or none, restarting, or a line not set yet).
    // Connect sends the link event and `firstData` in one write.
    bool Connect(const std::string &remoteAddress = "00:11:22:33:44:55", const std::string &firstData = "");
    // Data for the host; held back while the link is paused.
    bool SendData(const std::string &data);
    // Ends the link: `lastData` and the link's end in one write.
    bool Disconnect(const std::string &lastData = "");
    // Any bytes, in one write, whatever the mode.
    void SendRaw(const std::string &bytes);
    // The host's data for the remote goes to `handler` instead of
    // RemoteReceived (null: back there).  It runs on the module's thread
    // under the module's lock: it must neither block nor call the module.
    void SetRemoteHandler(std::function<void(const std::string &)> handler);

    // Changes that apply to what comes next.
    void SetSilent(bool silent);
    void SetAnswerPieces(unsigned pieces);
    void SetListingLimit(size_t bytes);

    EventLog &Log() { return m_log; }
    PtyLine &Line() { return m_line; }

    std::vector<BluetoothHostEvent> HostEvents() const;
    // Command lines as received, without their LF.
    std::vector<std::string> Commands() const;
    std::string RemoteReceived() const;
    bool LinkUp() const;
    bool LinkPaused() const;
    std::string Name() const;
    std::string Pin() const;
    bool Authentication() const;
    bool ProfileOpen() const;
    int Restarts() const;
    int Escapes() const;

    // Host-time waits; false on time-out.
    bool WaitForCommand(const std::string &line, int timeoutMs) const;
    bool WaitForRemoteBytes(size_t count, int timeoutMs) const;
    bool WaitForRestarts(int count, int timeoutMs) const;

private:
    void Heard(const unsigned char *bytes, size_t count, Time now) override;
    void Serve(Time now) override;
    Time NextWakeup(Time now) const override;

    bool LineReady() const;
    void FeedData(const unsigned char *bytes, size_t count, Time now);
    void FeedCommand(const unsigned char *bytes, size_t count, Time now);
    void FlushPluses();
    void PassToRemote();
    void Command(const std::string &received, Time now);
    void Answer(const std::string &text, Time now);
    void Emit(const std::string &bytes, Time now);
    void Restart(const char *why, Time now);
    std::string Banner() const;
    std::string Listing() const;
    void Record(const std::string &text, Time when);
    double Ms(Time when) const;
    double ScaledMs(double ms) const;

    Receiver &m_receiver;
    std::shared_ptr<Pmu> m_pmu;
    BluetoothModuleOptions m_options;
    PtyLine m_line;
    EventLog m_log;
    const Time m_start = Clock::now();

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;

    // Settings, as the listing shows them.
    std::string m_name;
    std::string m_class;
    bool m_auth = false;
    std::string m_pin;
    bool m_profile = false;
    std::string m_profileName;
    std::vector<std::pair<std::string, std::string>> m_otherSettings;  // key, whole line

    // Link and modes.
    bool m_link = false;
    bool m_paused = false;
    bool m_restarting = false;
    Time m_restartAt{};
    int m_restarts = 0;
    int m_pmuResetsSeen = 0;
    Time m_nextPmuLook{};

    // Escape detection in data mode.
    bool m_heardData = false;
    Time m_lastRx{};
    unsigned m_pluses = 0;
    Time m_plusDeadline{};
    Time m_thirdPlus{};
    int m_escapes = 0;

    std::string m_commandLine;
    std::string m_heldForHost;  // remote data while the link is paused

    std::vector<BluetoothHostEvent> m_events;
    std::vector<std::string> m_commands;
    std::string m_remoteReceived;
    std::function<void(const std::string &)> m_remoteHandler;
};

}  // namespace sim

#endif
