#include "sim/gsm_services.h"

#include <stdio.h>

#include <chrono>
#include <thread>

namespace sim {

namespace {

GsmReply Ok() { return GsmReply{"OK", false}; }
GsmReply Lines(const std::string &lines) { return GsmReply{lines, false}; }
GsmReply Cme(GsmModem &modem, int number) { return GsmReply{modem.CmeError(number), false}; }

void PauseMs(double ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

// The parameters after the first '=' (or after `start`), split at the commas
// outside quotes, quotes removed.
std::vector<std::string> Fields(const std::string &command, size_t start)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = start; i < command.size(); ++i) {
        char c = command[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back().push_back(c);
    }
    return fields;
}

std::vector<std::string> Parameters(const std::string &command)
{
    size_t equals = command.find('=');
    return Fields(command, equals == std::string::npos ? command.size() : equals + 1);
}

int Number(const std::string &text, int fallback = -1)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return fallback;
    return std::stoi(text);
}

std::string PeerKey(const std::string &host, int port) { return host + ":" + std::to_string(port); }

}  // namespace

struct GsmServices::State {
    explicit State(GsmServicesOptions options) : options(std::move(options)) {}

    enum class Active { None, Socket, Call };

    const GsmServicesOptions options;
    mutable std::mutex mutex;

    std::map<std::string, std::string> peers;  // "host:port" -> greeting
    bool echo = true;
    Active active = Active::None;
    std::string peerReceived;
    std::string pending;  // peer bytes waiting for the line's data mode

    std::map<std::string, CallOutcome> numbers;
    std::string phonebookFirst;
    std::string lastNumber;
    std::vector<std::string> dialled;
    int ringsToAnswer = 0;
    std::string bearerType = "0,0,1";

    std::string indicators = "3,4,1,0,0,0,0";
    std::string signalQuality = "18,99";
    int networkStatus = 1;
    bool registered = true;
    std::string longName = "ORVANET", shortName = "ORVA", numeric = "20899";
    int technology = 0;
    int nameFormat = 0;
    std::vector<int> restartStatuses;

    int band = 5;
    int networkMode = 2;
    std::string modemClass = "CG";
    int saves = 0;
    int restarts = 0;

    GsmBearerState bearer;
    GsmSocketState socket;

    std::shared_ptr<GsmFarEnd> farEnd;
    int farEndConnection = 0;  // the one the far end has; 0: none
    bool farEndCall = false;
    int lastConnection = 0;
    bool closeAfterPending = false;  // the peer closed behind bytes still held

    // Caller holds the mutex (so for the rest of the helpers).
    void EndFarEnd(bool call)
    {
        if (farEndConnection == 0 || farEndCall != call)
            return;
        int ended = farEndConnection;
        farEndConnection = 0;
        farEnd->Ended(ended);
    }

    // A far end's connection for the active socket or call: 0 when none.
    int FarEndOfActive() const
    {
        bool call = active == Active::Call;
        return active != Active::None && farEndCall == call ? farEndConnection : 0;
    }

    void DropSocket()
    {
        if (socket.open)
            EndFarEnd(false);
        socket = GsmSocketState{};
        closeAfterPending = false;
        if (active == Active::Socket)
            active = Active::None;
    }

    void Install(GsmModem &modem, const std::shared_ptr<State> &self);
    GsmReply Operator() const;
    GsmReply Stack(GsmModem &modem, const std::vector<std::string> &fields);
    GsmReply BearerCommand(GsmModem &modem, const std::vector<std::string> &fields);
    GsmReply Create(GsmModem &modem, const std::vector<std::string> &fields);
    GsmReply Data(GsmModem &modem, const std::vector<std::string> &fields);
    GsmReply Close(GsmModem &modem, const std::vector<std::string> &fields);
    GsmReply Dial(GsmModem &modem, const std::string &target);
    void Payload(GsmModem &modem, const std::string &bytes);
};

// ---- Handlers ------------------------------------------------------------------

void GsmServices::State::Install(GsmModem &modem, const std::shared_ptr<State> &self)
{
    // Each handler keeps the state alive: the modem may outlive the services.
    auto add = [&](const std::string &prefix,
                   const std::function<GsmReply(State &, GsmModem &, const std::string &)> &body) {
        modem.SetHandler(prefix,
                         [self, body](GsmModem &m, const std::string &command) { return body(*self, m, command); });
    };
    using Cmd = const std::string &;

    add("AT+CIND?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+CIND: " + s.indicators + "\nOK");
    });
    add("AT+WSTR=2", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+WSTR: 2," + std::to_string(s.networkStatus) + "\nOK");
    });
    add("AT+CSQ", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+CSQ: " + s.signalQuality + "\nOK");
    });
    add("AT+COPS?", [](State &s, GsmModem &, Cmd) { return s.Operator(); });
    add("AT+COPS=", [](State &s, GsmModem &, Cmd command) {
        std::vector<std::string> fields = Parameters(command);
        std::lock_guard<std::mutex> lock(s.mutex);
        if (fields[0] == "3" && fields.size() > 1 && Number(fields[1]) >= 0 && Number(fields[1]) <= 2)
            s.nameFormat = Number(fields[1]);
        return Ok();
    });
    add("AT+CGATT", [](State &, GsmModem &, Cmd) { return Ok(); });
    add("AT+WIMEI?", [](State &s, GsmModem &, Cmd) { return Lines("+WIMEI: " + s.options.imei + "\nOK"); });
    add("AT+CGMR", [](State &s, GsmModem &, Cmd) { return Lines(s.options.firmware + "\nOK"); });

    add("AT+WMBS?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+WMBS: " + std::to_string(s.band) + ",0\nOK");
    });
    add("AT+WMBS=", [](State &s, GsmModem &, Cmd command) {
        int band = Number(Parameters(command)[0]);
        if (band < 0 || band > 7)
            return Lines("ERROR");
        std::lock_guard<std::mutex> lock(s.mutex);
        s.band = band;
        return Ok();
    });
    add("AT+WWSM?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+WWSM: " + std::to_string(s.networkMode) + "\nOK");
    });
    add("AT+WWSM=", [](State &s, GsmModem &, Cmd command) {
        int mode = Number(Parameters(command)[0]);
        if (mode != 0 && mode != 1 && mode != 2)
            return Lines("ERROR");
        std::lock_guard<std::mutex> lock(s.mutex);
        s.networkMode = mode;
        return Ok();
    });
    add("AT+CGCLASS?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+CGCLASS: \"" + s.modemClass + "\"\nOK");
    });
    add("AT+CGCLASS=", [](State &s, GsmModem &, Cmd command) {
        std::string value = Parameters(command)[0];
        if (value != "CC" && value != "CG" && value != "B")
            return Lines("ERROR");
        std::lock_guard<std::mutex> lock(s.mutex);
        s.modemClass = value;
        return Ok();
    });
    add("AT&W", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.saves;
        return Ok();
    });
    add("AT+CFUN=", [](State &s, GsmModem &m, Cmd) {
        std::vector<int> statuses;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            ++s.restarts;
            statuses = s.restartStatuses;
        }
        if (!statuses.empty())
            m.SetInitStatus(statuses);
        return Ok();
    });

    add("AT+WOPEN?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines(std::string("+WOPEN: ") + (s.bearer.applicationStarted ? "1" : "0") + "\nOK");
    });
    add("AT+WOPEN=", [](State &s, GsmModem &, Cmd command) {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bearer.applicationStarted = Parameters(command)[0] == "1";
        return Ok();
    });
    add("AT+WIPCFG?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines(std::string("+WIPCFG: 3,") + (s.bearer.stackStarted ? "1" : "0") + "\nOK");
    });
    add("AT+WIPCFG=", [](State &s, GsmModem &m, Cmd command) { return s.Stack(m, Parameters(command)); });
    add("AT+WIPBR=", [](State &s, GsmModem &m, Cmd command) { return s.BearerCommand(m, Parameters(command)); });
    add("AT+WIPCREATE=", [](State &s, GsmModem &m, Cmd command) { return s.Create(m, Parameters(command)); });
    add("AT+WIPDATA=", [](State &s, GsmModem &m, Cmd command) { return s.Data(m, Parameters(command)); });
    add("AT+WIPCLOSE=", [](State &s, GsmModem &m, Cmd command) { return s.Close(m, Parameters(command)); });

    add("ATD", [](State &s, GsmModem &m, Cmd command) { return s.Dial(m, command.substr(3)); });
    add("ATH", [](State &s, GsmModem &m, Cmd) {
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.active == Active::Call)
                s.active = Active::None;
            s.EndFarEnd(true);
        }
        m.HangUp();
        return Ok();
    });
    add("ATS0?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        char rings[16];
        snprintf(rings, sizeof rings, "%03d", s.ringsToAnswer);
        return Lines(std::string(rings) + "\nOK");
    });
    add("ATS0=", [](State &s, GsmModem &, Cmd command) {
        int rings = Number(command.substr(5));
        if (rings < 0 || rings > 255)
            return Lines("ERROR");
        std::lock_guard<std::mutex> lock(s.mutex);
        s.ringsToAnswer = rings;
        return Ok();
    });
    add("AT+CBST?", [](State &s, GsmModem &, Cmd) {
        std::lock_guard<std::mutex> lock(s.mutex);
        return Lines("+CBST: " + s.bearerType + "\nOK");
    });
    add("AT+CBST=", [](State &s, GsmModem &, Cmd command) {
        std::vector<std::string> fields = Parameters(command);
        if (fields.size() != 3 || Number(fields[0]) < 0)
            return Lines("ERROR");
        std::lock_guard<std::mutex> lock(s.mutex);
        s.bearerType = command.substr(8);
        return Ok();
    });

    modem.SetPayloadHandler([self](GsmModem &m, const std::string &bytes) { self->Payload(m, bytes); });
}

GsmReply GsmServices::State::Operator() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!registered)
        return Lines("+COPS: 0\nOK");
    const std::string &name = nameFormat == 0 ? longName : nameFormat == 1 ? shortName : numeric;
    std::string line = "+COPS: 0," + std::to_string(nameFormat) + ",\"" + name + "\"";
    if (technology >= 0)
        line += "," + std::to_string(technology);
    return Lines(line + "\nOK");
}

GsmReply GsmServices::State::Stack(GsmModem &modem, const std::vector<std::string> &fields)
{
    std::unique_lock<std::mutex> lock(mutex);
    const std::string &action = fields[0];
    if (action == "3")
        return Lines(options.wipVersion + "\nOK");
    if (action == "1") {
        if (bearer.stackStarted) {
            lock.unlock();
            return Cme(modem, 844);
        }
        bearer.stackStarted = true;
        return Ok();
    }
    if (action == "0") {
        if (!bearer.stackStarted) {
            lock.unlock();
            return Cme(modem, 803);
        }
        bool applicationStarted = bearer.applicationStarted;
        bearer = GsmBearerState{};
        bearer.applicationStarted = applicationStarted;
        DropSocket();
        return Ok();
    }
    if (action == "2" && bearer.stackStarted)
        return Ok();
    lock.unlock();
    return Cme(modem, action == "2" ? 803 : 801);
}

GsmReply GsmServices::State::BearerCommand(GsmModem &modem, const std::vector<std::string> &fields)
{
    std::unique_lock<std::mutex> lock(mutex);
    const std::string &action = fields[0];
    int error = 0;
    if (fields.size() < 2 || fields[1] != "6") {
        error = 801;
    } else if (action == "1") {
        if (!bearer.stackStarted)
            error = 803;
        else if (bearer.bearerOpen)
            error = 804;
        else
            bearer.bearerOpen = true;
    } else if (action == "2") {
        if (!bearer.bearerOpen || fields.size() < 4)
            error = !bearer.bearerOpen ? 806 : 801;
        else if (fields[2] == "11")
            bearer.apn = fields[3];
        else if (fields[2] == "0")
            bearer.login = fields[3];
        else if (fields[2] == "1")
            bearer.password = fields[3];
        else
            error = 800;
    } else if (action == "4") {
        if (!bearer.bearerOpen) {
            error = 806;
        } else {
            lock.unlock();
            PauseMs(options.bearerDelayMs);
            lock.lock();
            if (!options.apn.empty() && bearer.apn != options.apn)
                error = 812;
            else if ((!options.login.empty() && bearer.login != options.login) ||
                     (!options.password.empty() && bearer.password != options.password))
                error = 814;
            else
                bearer.bearerUp = true;
        }
    } else if (action == "5") {
        bearer.bearerUp = false;
        DropSocket();
    } else if (action == "0") {
        bearer.bearerUp = false;
        bearer.bearerOpen = false;
        DropSocket();
    } else {
        error = 800;
    }
    lock.unlock();
    return error ? Cme(modem, error) : Ok();
}

GsmReply GsmServices::State::Create(GsmModem &modem, const std::vector<std::string> &fields)
{
    int kind = Number(fields[0]);
    GsmSocketState created;
    created.open = true;
    created.kind = kind;
    if (kind == 1 && fields.size() == 5) {
        created.localPort = Number(fields[2]);
        created.host = fields[3];
        created.port = Number(fields[4]);
    } else if ((kind == 1 || kind == 2) && fields.size() == 4) {
        created.host = fields[2];
        created.port = Number(fields[3]);
    }
    std::unique_lock<std::mutex> lock(mutex);
    int error = 0;
    if (created.host.empty() || fields[1] != "1")
        error = 801;
    else if (!bearer.bearerUp)
        error = 805;
    else if (socket.open)
        error = 830;
    if (error != 0) {
        lock.unlock();
        return Cme(modem, error);
    }
    auto peer = peers.find(PeerKey(created.host, created.port));
    bool known = peer != peers.end() || options.anyPeer;
    std::string greeting = peer != peers.end() ? peer->second : "";
    socket = created;
    lock.unlock();

    // Created at once; ready once the peer is reached.
    modem.SendLines("OK");
    lock.lock();
    int connection = ++lastConnection;
    if (farEnd && farEnd->TakeSocket(connection, kind, created.host, created.port)) {
        farEndConnection = connection;
        farEndCall = false;
        return GsmReply{};
    }
    lock.unlock();
    PauseMs(options.readyDelayMs);
    lock.lock();
    if (!known) {
        DropSocket();
        lock.unlock();
        return Cme(modem, 842);
    }
    socket.ready = true;
    pending = greeting;
    return Lines("+WIPREADY: " + std::to_string(kind) + ",1");
}

GsmReply GsmServices::State::Data(GsmModem &modem, const std::vector<std::string> &fields)
{
    std::unique_lock<std::mutex> lock(mutex);
    bool usable = fields.size() >= 2 && fields[1] == "1" && socket.ready && Number(fields[0]) == socket.kind;
    if (!usable) {
        int error = socket.open ? 831 : 830;
        lock.unlock();
        return Cme(modem, error);
    }
    active = Active::Socket;
    std::string first;
    first.swap(pending);
    bool closing = closeAfterPending;
    int kind = socket.kind;
    if (closing)
        DropSocket();
    lock.unlock();
    // "CONNECT", and what the peer sent meanwhile right behind it.
    modem.Connect(first);
    if (closing)
        modem.SendLines("+WIPPEERCLOSE: " + std::to_string(kind) + ",1", true);
    return GsmReply{};
}

GsmReply GsmServices::State::Close(GsmModem &modem, const std::vector<std::string> &fields)
{
    std::unique_lock<std::mutex> lock(mutex);
    bool exists = fields.size() >= 2 && fields[1] == "1" && socket.open && Number(fields[0]) == socket.kind;
    if (!exists) {
        lock.unlock();
        return Cme(modem, 830);
    }
    DropSocket();
    pending.clear();
    return Ok();
}

GsmReply GsmServices::State::Dial(GsmModem &, const std::string &target)
{
    std::unique_lock<std::mutex> lock(mutex);
    std::string number = target;
    if (number == "L")
        number = lastNumber;
    else if (number.compare(0, 3, ">SM") == 0)
        number = number == ">SM1" ? phonebookFirst : "";
    if (number.empty())
        return Lines("ERROR");
    lastNumber = number;
    dialled.push_back(number);
    EndFarEnd(true);
    int connection = ++lastConnection;
    if (farEnd && farEnd->TakeCall(connection, number)) {
        farEndConnection = connection;
        farEndCall = true;
        return GsmReply{};
    }
    auto entry = numbers.find(number);
    CallOutcome outcome = entry == numbers.end() ? CallOutcome::NoCarrier : entry->second;
    lock.unlock();
    PauseMs(options.dialDelayMs);
    switch (outcome) {
    case CallOutcome::Connect:
        lock.lock();
        active = Active::Call;
        pending.clear();
        return GsmReply{"CONNECT", true};
    case CallOutcome::Busy: return Lines("BUSY");
    case CallOutcome::NoAnswer: return Lines("NO ANSWER");
    case CallOutcome::NoCarrier: return Lines("NO CARRIER");
    case CallOutcome::Silent: break;
    }
    return GsmReply{};
}

// Payload from the host reaches the current peer, which echoes it.
void GsmServices::State::Payload(GsmModem &modem, const std::string &bytes)
{
    bool echoing;
    std::shared_ptr<GsmFarEnd> far;
    int connection;
    {
        std::lock_guard<std::mutex> lock(mutex);
        connection = FarEndOfActive();
        if (connection != 0)
            far = farEnd;
        else if (active == Active::None)
            return;
        else
            peerReceived += bytes;
        echoing = echo;
    }
    if (far) {
        far->Payload(connection, bytes);
        return;
    }
    if (echoing && modem.Connected())
        modem.SendPayload(bytes);
}

// ---- Public side ---------------------------------------------------------------------

GsmServices::GsmServices(GsmModem &modem, GsmServicesOptions options)
    : m_modem(modem), m_state(std::make_shared<State>(std::move(options)))
{
    m_state->Install(modem, m_state);
}

GsmServices::~GsmServices() { m_modem.SetPayloadHandler(nullptr); }

void GsmServices::AddPeer(const std::string &host, int port, const std::string &greeting)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->peers[PeerKey(host, port)] = greeting;
}

void GsmServices::SetLoopback(bool echo)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->echo = echo;
}

std::string GsmServices::PeerReceived() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->peerReceived;
}

void GsmServices::ClearPeerReceived()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->peerReceived.clear();
}

bool GsmServices::PeerSend(const std::string &bytes)
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->active == State::Active::None)
            return false;
        if (!m_modem.InDataMode()) {
            // A socket's data waits for the line's return to data mode.
            if (m_state->active != State::Active::Socket)
                return false;
            m_state->pending += bytes;
            return true;
        }
    }
    return m_modem.SendPayload(bytes);
}

void GsmServices::PeerClose()
{
    int kind;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (!m_state->socket.open)
            return;
        if (!m_state->pending.empty()) {
            m_state->closeAfterPending = true;  // told at the next "CONNECT", behind the bytes
            return;
        }
        kind = m_state->socket.kind;
        m_state->DropSocket();
        m_state->pending.clear();
    }
    m_modem.SendLines("+WIPPEERCLOSE: " + std::to_string(kind) + ",1", true);
}

void GsmServices::SetFarEnd(std::shared_ptr<GsmFarEnd> farEnd)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->EndFarEnd(m_state->farEndCall);
    m_state->farEnd = std::move(farEnd);
}

void GsmServices::SocketReached(int connection, int wipError)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    State &s = *m_state;
    if (connection == 0 || connection != s.farEndConnection || s.farEndCall || !s.socket.open || s.socket.ready)
        return;
    int kind = s.socket.kind;
    if (wipError == 0) {
        s.socket.ready = true;
        s.pending.clear();
        lock.unlock();
        m_modem.SendLines("+WIPREADY: " + std::to_string(kind) + ",1");
        return;
    }
    s.farEndConnection = 0;
    s.DropSocket();
    lock.unlock();
    m_modem.SendLines(m_modem.CmeError(wipError));
}

void GsmServices::CallAnswered(int connection, CallOutcome outcome)
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    State &s = *m_state;
    if (connection == 0 || connection != s.farEndConnection || !s.farEndCall)
        return;
    if (outcome == CallOutcome::Connect) {
        s.active = State::Active::Call;
        s.pending.clear();
        lock.unlock();
        m_modem.Connect();
        return;
    }
    s.farEndConnection = 0;
    lock.unlock();
    switch (outcome) {
    case CallOutcome::Busy: m_modem.SendLines("BUSY"); break;
    case CallOutcome::NoAnswer: m_modem.SendLines("NO ANSWER"); break;
    case CallOutcome::NoCarrier: m_modem.SendLines("NO CARRIER"); break;
    case CallOutcome::Connect:
    case CallOutcome::Silent: break;
    }
}

void GsmServices::SetNumber(const std::string &number, CallOutcome outcome)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->numbers[number] = outcome;
}

void GsmServices::SetPhonebookFirst(const std::string &number)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->phonebookFirst = number;
}

void GsmServices::IncomingCall()
{
    int rings;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        rings = m_state->ringsToAnswer;
    }
    for (int ring = 0; ring < (rings > 0 ? rings : 3); ++ring) {
        m_modem.Ring();
        PauseMs(m_state->options.ringGapMs);
    }
    if (rings == 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        m_state->active = State::Active::Call;
        m_state->pending.clear();
    }
    m_modem.Connect();
}

void GsmServices::RemoteHangUp()
{
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->active == State::Active::Call)
            m_state->active = State::Active::None;
        m_state->EndFarEnd(true);
    }
    m_modem.NoCarrier();
}

std::vector<std::string> GsmServices::Dialled() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->dialled;
}

bool GsmServices::CallUp() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->active == State::Active::Call;
}

void GsmServices::SetIndicators(const std::string &digits)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->indicators = digits;
}

void GsmServices::SetSignalQuality(const std::string &text)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->signalQuality = text;
}

void GsmServices::SetNetworkStatus(int status)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->networkStatus = status;
}

void GsmServices::Register(const std::string &longName, const std::string &shortName, const std::string &numeric,
                           int technology)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->registered = true;
    m_state->longName = longName;
    m_state->shortName = shortName;
    m_state->numeric = numeric;
    m_state->technology = technology;
}

void GsmServices::Unregister()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->registered = false;
}

void GsmServices::SetNameFormat(int format)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->nameFormat = format;
}

void GsmServices::SetRestartStatuses(std::vector<int> statuses)
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->restartStatuses = std::move(statuses);
}

GsmBearerState GsmServices::Bearer() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->bearer;
}

GsmSocketState GsmServices::Socket() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->socket;
}

int GsmServices::Band() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->band;
}

int GsmServices::NetworkMode() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->networkMode;
}

std::string GsmServices::ModemClass() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->modemClass;
}

std::string GsmServices::BearerType() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->bearerType;
}

int GsmServices::RingsToAnswer() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->ringsToAnswer;
}

int GsmServices::Saves() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->saves;
}

int GsmServices::Restarts() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->restarts;
}

}  // namespace sim
