// The simulated modem's network side: its IP stack with the GPRS bearer and
// socket 1, circuit-switched calls, status answers and settings, and the far
// ends of sockets and calls (loopback peers by default, so that payload comes
// back byte for byte).  Attached to a GsmModem, it installs handlers for:
//
//   status     AT+CIND?  AT+WSTR=2  AT+CSQ  AT+COPS?  AT+COPS=  AT+CGATT
//              AT+WIMEI?  AT+CGMR
//   settings   AT+WMBS?  AT+WMBS=  AT+WWSM?  AT+WWSM=  AT+CGCLASS?  AT+CGCLASS=
//              AT&W  AT+CFUN= (restarts the start-up statuses when set)
//   IP stack   AT+WOPEN  AT+WIPCFG  AT+WIPBR  AT+WIPCREATE  AT+WIPDATA=  AT+WIPCLOSE=
//   calls      ATD<number>  ATD>SM1  ATDL  ATS0?  ATS0=  AT+CBST?  AT+CBST=
//
// WIP failures answer "+CME ERROR: n" (plain "ERROR" with extended errors
// off): 803 stack not started, 804 bearer already open, 805 bearer not up,
// 806 bearer not open, 812 wrong access point name, 814 wrong login or
// password, 830 no such socket, 831 socket not ready, 842 unknown peer,
// 844 stack already started.  Delays are host time.
#ifndef SIM_GSM_SERVICES_H
#define SIM_GSM_SERVICES_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/gsm_modem.h"

namespace sim {

enum class CallOutcome { Connect, Busy, NoAnswer, NoCarrier, Silent };

struct GsmServicesOptions {
    double bearerDelayMs = 20;  // before the bearer start's "OK"
    double readyDelayMs = 20;   // between a socket's "OK" and its "+WIPREADY"
    double dialDelayMs = 20;    // before a dial's outcome
    double ringGapMs = 5;       // between the rings of an incoming call
    // Expected bearer parameters; empty: any is accepted.
    std::string apn;
    std::string login;
    std::string password;
    // Every host and port is reachable (a peer without greeting), not only
    // those added with AddPeer.
    bool anyPeer = false;
    std::string wipVersion = "WIP Soft v5.42.1 build 1207";
    std::string imei = "351234567890123";
    std::string firmware = "746a09gg.Q2687H 1566912 031209 17:40";
};

struct GsmBearerState {
    bool applicationStarted = false;  // AT+WOPEN=1
    bool stackStarted = false;
    bool bearerOpen = false;
    bool bearerUp = false;
    std::string apn, login, password;  // as last set on the bearer
};

struct GsmSocketState {
    bool open = false;
    bool ready = false;
    int kind = 0;  // 1 UDP, 2 TCP
    std::string host;
    int port = 0;
    int localPort = -1;
};

// A far end outside the model (sim/socket_bridge.h) that may take sockets
// and calls instead of the loopback peers.  Each one it takes has a number
// of its own; the far end reports on it with that number, and later reports
// on one that has ended are ignored.  Its hooks run on the modem's thread or
// the caller's, possibly under the services' lock: they must neither block
// nor call back into the services.
class GsmFarEnd {
public:
    virtual ~GsmFarEnd() = default;
    // Socket 1 created towards host:port (kind 1 UDP, 2 TCP), its "OK" sent,
    // or a number dialled: false leaves it to the model.  One taken is
    // answered with SocketReached or CallAnswered.
    virtual bool TakeSocket(int connection, int kind, const std::string &host, int port) = 0;
    virtual bool TakeCall(int connection, const std::string &number) = 0;
    // The host's payload on the connection.
    virtual void Payload(int connection, const std::string &bytes) = 0;
    // The host ended it (close, hang-up, bearer or stack stopped), or the
    // model did (PeerClose, RemoteHangUp).
    virtual void Ended(int connection) = 0;
};

class GsmServices {
public:
    explicit GsmServices(GsmModem &modem, GsmServicesOptions options = {});
    ~GsmServices();
    GsmServices(const GsmServices &) = delete;
    GsmServices &operator=(const GsmServices &) = delete;

    // ---- Far ends -------------------------------------------------------------
    // A peer that sockets may be created towards; `greeting` is sent as soon
    // as the socket first carries data.
    void AddPeer(const std::string &host, int port, const std::string &greeting = "");
    // Peers (and called numbers) echo what they receive unless switched off.
    void SetLoopback(bool echo);
    // Bytes the current peer received from the host.
    std::string PeerReceived() const;
    void ClearPeerReceived();
    // The current peer speaks.  While the line is in command mode a socket's
    // peer is held back until the next "CONNECT"; a call's gives false.
    bool PeerSend(const std::string &bytes);
    // The socket's peer closes it: "+WIPPEERCLOSE: <kind>,1", behind
    // whatever it sent that still waits for the line's data mode.
    void PeerClose();

    // ---- A far end outside the model -------------------------------------------
    // Null: the model's peers only.  The far end is kept until replaced.
    void SetFarEnd(std::shared_ptr<GsmFarEnd> farEnd);
    // The socket it took is ready ("+WIPREADY: <kind>,1", wipError 0) or has
    // failed ("+CME ERROR: <wipError>").
    void SocketReached(int connection, int wipError);
    // The call it took connects ("CONNECT", data mode) or not (the outcome's
    // word; Silent: no word, the host gives up).
    void CallAnswered(int connection, CallOutcome outcome);

    // ---- Calls ------------------------------------------------------------------
    // What dialling a number leads to; numbers not listed give NO CARRIER.
    void SetNumber(const std::string &number, CallOutcome outcome);
    void SetPhonebookFirst(const std::string &number);
    // An incoming call: rings, and is picked up after the number of rings
    // set with ATS0 (three unanswered rings when it is 0).
    void IncomingCall();
    // The remote party hangs up: "NO CARRIER".  The host's ATH hangs up too.
    void RemoteHangUp();
    std::vector<std::string> Dialled() const;
    // A call (dialled or answered) is connected.
    bool CallUp() const;

    // ---- Status and settings -----------------------------------------------------
    void SetIndicators(const std::string &digits);   // "+CIND: <digits>"
    void SetSignalQuality(const std::string &text);  // "+CSQ: <text>"
    void SetNetworkStatus(int status);               // "+WSTR: 2,<status>"
    // Registered operator: long, short and numeric names and the access
    // technology (-1: none given).  Unregistered: "+COPS: 0".
    void Register(const std::string &longName, const std::string &shortName, const std::string &numeric,
                  int technology);
    void Unregister();
    void SetNameFormat(int format);
    // Start-up statuses that AT+CFUN= restarts ("+WSTR: 1,<status>"); empty:
    // the restart leaves them alone.
    void SetRestartStatuses(std::vector<int> statuses);

    GsmBearerState Bearer() const;
    GsmSocketState Socket() const;
    int Band() const;
    int NetworkMode() const;
    std::string ModemClass() const;  // "CG" or "CC"
    std::string BearerType() const;  // the AT+CBST parameters
    int RingsToAnswer() const;
    int Saves() const;     // AT&W
    int Restarts() const;  // AT+CFUN=

    struct State;

private:
    GsmModem &m_modem;
    std::shared_ptr<State> m_state;
};

}  // namespace sim

#endif
