// The receiver's GSM modem as the far end of its serial line (a real
// pseudo-terminal at "/dev/ttyS1"), running its own thread.
//
// Command mode: bytes up to a CR form a command line, which must begin with
// "AT"; a line with stray bytes in front, or one ended by a line feed, is
// answered "ERROR".  Answers go out as a modem frames them: "\r\n<line>\r\n"
// for every line.  Echo is off unless switched on (ATE1, SetEcho).  Each command
// is served by the handler with the longest matching prefix; the built-in
// table below can be extended or replaced with SetHandler, and any answer
// bent with Override (delay, split, silence, "+CME ERROR: n", other text).
//
// Built-in commands:
//   AT                 OK (any other unknown command: ERROR)
//   ATE0 / ATE1        echo off / on
//   AT&F               OK; extended errors off
//   AT+CFUN=           OK
//   AT+WSTR=1          "+WSTR: 1,<status>", OK; statuses from SetInitStatus,
//                      one per query, the last repeating (default 2, ready)
//   AT+CPAS            "+CPAS: <activity>", OK (default 0, ready)
//   AT+CMEE=0 / =1     extended errors off / on
//   AT+CPIN?           by the SIM: READY, SIM PIN, SIM PUK; no SIM: CME 10;
//                      busy SIM: CME 515
//   AT+CPIN=<pin>      right PIN: OK and ready; wrong: CME 16, the third
//                      wrong one blocks the SIM (SIM PUK); "<puk>,<pin>"
//                      unblocks it
//   ATO                back to data mode with OK while a connection is up,
//                      else NO CARRIER
//   AT+WIPDATA=        CONNECT and data mode (a socket's payload)
//   ATH                OK; the connection is dropped
// CME errors read "+CME ERROR: n" while extended errors are on (AT+CMEE=1),
// plain "ERROR" otherwise.
//
// Data mode (after CONNECT): the host's bytes are payload (Payload(),
// SetPayloadHandler).  "+++" preceded and followed by one second of silence
// (receiver time, scaled by the receiver's time scale) returns to command
// mode with OK; the connection stays up.  The same guarded "+++" in command
// mode (after the far end hung up, say) is dropped without an answer.
//
// Power: with a power probe set (the standard board wires the PMU's GSM
// supply) the unpowered modem hears nothing, and each power-up restores its
// start state: echo and SIM as set, extended errors off, command mode, no
// connection, the init statuses from the first.
#ifndef SIM_GSM_MODEM_H
#define SIM_GSM_MODEM_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/event_log.h"
#include "sim/pty_line.h"
#include "sim/serial_peer.h"

namespace sim {

class Receiver;
class GsmModem;

// What the modem does with one command line.
struct GsmReply {
    // Answer lines separated by '\n', each framed "\r\n<line>\r\n"; empty:
    // the command goes unanswered.
    std::string lines;
    // The line carries payload once the answer is out (it was "CONNECT").
    bool enterDataMode = false;
};
using GsmHandler = std::function<GsmReply(GsmModem &modem, const std::string &command)>;

// A change to the answer of the commands starting with a prefix.  Overrides
// of one prefix apply in the order they were added.
struct GsmOverride {
    std::string answer;      // replaces the answer ('\n' between lines)
    bool silent = false;     // no answer at all
    int cmeError = -1;       // "+CME ERROR: n" (plain "ERROR" with extended errors off)
    double delayMs = 0;      // host time before the answer goes out
    size_t splitAt = 0;      // the framed answer goes out as two writes, the first this long
    double splitGapMs = 20;  // host time between the two writes
    int times = 0;           // how many commands it serves; 0: until cleared
};

enum class SimCard { Ready, Pin, Puk, Absent, Busy };

struct GsmModemOptions {
    std::string boardPath = "/dev/ttyS1";
    bool echo = false;
    SimCard sim = SimCard::Ready;
    std::string pin = "1234";
    std::string puk = "12345678";
    std::vector<int> initStatus = {2};
    int phoneActivity = 0;
    // Escape guard periods, receiver time (scaled).
    double guardBeforeMs = 1000;
    double guardAfterMs = 1000;
};

class GsmModem : public SerialPeer {
public:
    explicit GsmModem(Receiver &receiver, GsmModemOptions options = {});
    ~GsmModem();

    PtyLine &Line() { return *m_line; }
    // "host: <command>", "host: +++ (escape)", "host data: n bytes: <bytes>",
    // "modem: <line>", "modem data: n bytes", power changes.
    EventLog &Log() { return m_log; }

    // Command lines heard with their terminator, in order.
    std::vector<std::string> Commands() const;
    void ClearCommands();
    // Waits until `count` command lines have been heard; false on time-out.
    bool WaitForCommands(size_t count, int timeoutMs) const;

    void SetHandler(const std::string &prefix, GsmHandler handler);
    void Override(const std::string &prefix, const GsmOverride &change);
    void ClearOverrides();

    // Null: always powered.  The count of switch-offs lets a pulse shorter
    // than the modem's look at its supply still reset it.
    struct Supply {
        bool on;
        int switchOffs;
    };
    void SetPowerProbe(std::function<Supply()> supply);
    bool Powered() const;

    // Settings that also hold from the next power-up on.
    void SetEcho(bool on);
    void SetSim(SimCard card);
    // The PIN the SIM takes (the PUK stays the options').
    void SetPin(const std::string &pin);
    void SetInitStatus(std::vector<int> statuses);
    void SetPhoneActivity(int activity);
    void SetExtendedErrors(bool on);

    bool Echo() const;
    bool ExtendedErrors() const;
    bool InDataMode() const;
    bool Connected() const;
    SimCard Sim() const;
    const GsmModemOptions &Options() const { return m_options; }
    // The answer a CME error takes with the current error setting.
    std::string CmeError(int number) const;

    // The far end speaking.  Lines are framed like answers; with `ownRead`
    // they wait until the host has read what came before (a stream's end).
    bool SendRaw(const std::string &bytes);
    bool SendLines(const std::string &lines, bool ownRead = false);
    void Ring();
    // "CONNECT" (and the stream's first payload in the same write), then data mode.
    void Connect(const std::string &firstPayload = "");
    // "NO CARRIER": the connection and data mode end.
    void NoCarrier();
    // The connection ends without a word (the host's ATH).
    void HangUp();
    bool SendPayload(const std::string &bytes);
    // Far-end bytes that reach the line in the same write as the next
    // escape's "OK", in front of it.
    void SendBeforeEscapeAnswer(const std::string &bytes);

    // Payload the host sent in data mode while no handler took it.
    std::string Payload() const;
    void ClearPayload();
    void SetPayloadHandler(std::function<void(GsmModem &, const std::string &)> handler);

private:
    void Heard(const unsigned char *bytes, size_t count, Time now) override;
    void Serve(Time now) override;
    Time NextWakeup(Time now) const override;
    void CheckPower();
    void PowerUpLocked();
    void PowerLocked(bool on);
    bool CountPlusLocked(unsigned char byte, Clock::time_point now);
    void CountCommandPlusLocked(unsigned char byte, Clock::time_point now);
    void FeedDataLocked(unsigned char byte, Clock::time_point now, std::string &payload);
    void FlushPlusesLocked(std::string &payload);
    void CheckEscape();
    void Execute(const std::string &command);
    GsmReply Dispatch(const std::string &command);
    bool TakeOverride(const std::string &command, GsmOverride *change);
    void EnterDataMode();
    void DeliverPayload(const std::string &payload);
    bool Transmit(const std::string &bytes);
    void LogLines(const std::string &lines);
    void InstallBuiltins();

    GsmReply Pin(const std::string &command);

    Receiver &m_receiver;
    const GsmModemOptions m_options;
    std::unique_ptr<PtyLine> m_line;
    EventLog m_log{"gsm"};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;

    std::map<std::string, GsmHandler> m_handlers;
    std::vector<std::pair<std::string, GsmOverride>> m_overrides;
    std::function<Supply()> m_powerProbe;
    int m_switchOffs = 0;
    std::function<void(GsmModem &, const std::string &)> m_payloadHandler;

    // Start state, restored at power-up.
    bool m_startEcho;
    SimCard m_startSim;
    std::string m_startPin;
    std::vector<int> m_initStatus;

    // Running state.
    bool m_powered = true;
    bool m_echo;
    bool m_extendedErrors = false;
    SimCard m_sim;
    std::string m_pin;
    int m_wrongPins = 0;
    size_t m_initIndex = 0;
    int m_phoneActivity;
    bool m_dataMode = false;
    bool m_connected = false;
    std::string m_lineBuffer;
    Clock::time_point m_lastRx;
    int m_plusCount = 0;
    std::string m_beforeEscapeAnswer;
    Clock::time_point m_escapeDue;
    std::vector<std::string> m_commands;
    std::string m_payload;
};

}  // namespace sim

#endif
