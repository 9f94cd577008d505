#include "sim/socket_bridge.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "sim/bluetooth_module.h"
#include "sim/gsm_modem.h"
#include "sim/gsm_services.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// While bytes wait for the device (its data mode, room in its output), the
// bridge looks again this often; with nothing to do, at the idle pace.
constexpr auto kTick = std::chrono::milliseconds(10);
constexpr auto kIdle = std::chrono::milliseconds(100);
// Handed to a device at a time.
constexpr size_t kPiece = 4096;

// The WIP errors of a socket that cannot be reached.
constexpr int kWipUnreachable = 842;
constexpr int kWipReset = 843;

bool LoopbackAddress(const std::string &text, in_addr *address)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1 || (ntohl(parsed.s_addr) >> 24) != 127)
        return false;
    if (address)
        *address = parsed;
    return true;
}

void CheckLoopback(const LoopbackEndpoint &endpoint)
{
    if (!LoopbackAddress(endpoint.address, nullptr) || endpoint.port < 0 || endpoint.port > 65535)
        throw std::invalid_argument(endpoint.Text() + " is not on the loopback interface (127.0.0.0/8)");
}

sockaddr_in SocketAddress(const LoopbackEndpoint &endpoint)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(endpoint.port));
    LoopbackAddress(endpoint.address, &address.sin_addr);
    return address;
}

// The kernel's buffers of a bridge's socket stay near the bridge's own, so
// that a slow peer is felt at once rather than after megabytes.
void BoundBuffers(int fd)
{
    int size = static_cast<int>(kBridgeBufferBytes);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

// A non-blocking socket connecting to `to`: -1 with errno when it failed at
// once, `*pending` while the connection is on its way.
int StartConnect(const LoopbackEndpoint &to, bool datagram, bool *pending)
{
    *pending = false;
    if (!LoopbackAddress(to.address, nullptr)) {
        errno = EADDRNOTAVAIL;
        return -1;
    }
    int fd = socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    BoundBuffers(fd);
    sockaddr_in address = SocketAddress(to);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (errno == EINPROGRESS) {
        *pending = true;
        return fd;
    }
    int failure = errno;
    close(fd);
    errno = failure;
    return -1;
}

// The outcome of a connection that was on its way: 0 or its errno.
int ConnectResult(int fd)
{
    int failure = 0;
    socklen_t size = sizeof failure;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0)
        return errno;
    return failure;
}

std::string ErrorText(int error) { return std::system_category().message(error); }

// One local connection and the bytes on their way through it.
struct Link {
    Link() : id(++s_links) {}
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;
    ~Link()
    {
        if (fd >= 0 && ownsFd)
            close(fd);
    }

    static std::atomic<unsigned long> s_links;
    const unsigned long id;  // names it across the bridge's unlocked waits
    int fd = -1;
    bool ownsFd = true;
    bool socket = true;     // else a terminal: plain reads and writes
    bool datagram = false;  // each piece for the local peer goes out as one datagram
    bool connecting = false;
    Clock::time_point deadline{};
    std::deque<std::string> toLocal;  // the host's bytes
    size_t toLocalBytes = 0;
    std::string toHost;       // the local peer's bytes
    bool localEnded = false;  // the local peer's end of stream, or a failure
    std::string why;
    unsigned long long sentLocal = 0, sentHost = 0;

    short Events() const
    {
        if (connecting)
            return POLLOUT;
        short events = 0;
        if (!toLocal.empty() && !localEnded)
            events |= POLLOUT;
        if (!localEnded && toHost.size() < kBridgeBufferBytes)
            events |= POLLIN;
        return events;
    }

    // What to wait on: nothing (not even a hang-up, which would be reported
    // at once again and again) unless the link wants something.
    pollfd Watch() const
    {
        short events = Events();
        return pollfd{events ? fd : -1, events, 0};
    }

    void Push(const std::string &bytes)
    {
        toLocal.push_back(bytes);
        toLocalBytes += bytes.size();
    }

    void End(const std::string &reason)
    {
        if (localEnded)
            return;
        localEnded = true;
        why = reason;
        toLocal.clear();  // nobody left to take them
        toLocalBytes = 0;
    }

    void Transfer(short revents)
    {
        if (revents & (POLLOUT | POLLERR | POLLHUP))
            Send();
        if (revents & (POLLIN | POLLERR | POLLHUP))
            Receive();
    }

    void Send()
    {
        while (!toLocal.empty() && !localEnded) {
            std::string &front = toLocal.front();
            ssize_t sent = socket ? send(fd, front.data(), front.size(), MSG_NOSIGNAL)
                                  : write(fd, front.data(), front.size());
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            // A datagram towards a port nobody listens on: the error is that
            // of an earlier one, which the network lost; this one goes again.
            if (sent < 0 && datagram && errno == ECONNREFUSED)
                continue;
            if (sent < 0) {
                End(ErrorText(errno));
                return;
            }
            size_t count = datagram ? front.size() : static_cast<size_t>(sent);
            sentLocal += count;
            toLocalBytes -= count;
            front.erase(0, count);
            if (front.empty())
                toLocal.pop_front();
        }
    }

    void Receive()
    {
        if (localEnded)
            return;
        char buffer[kBridgeBufferBytes];
        size_t room = datagram ? sizeof buffer : std::min(sizeof buffer, kBridgeBufferBytes - toHost.size());
        if (room == 0)
            return;
        ssize_t count = socket ? recv(fd, buffer, room, 0) : read(fd, buffer, room);
        if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (count < 0 && datagram && errno == ECONNREFUSED)
            return;  // see Send
        if (count < 0)
            End(ErrorText(errno));
        else if (count == 0 && !datagram)
            End("closed by the local peer");
        else
            toHost.append(buffer, static_cast<size_t>(count));
    }
};

std::atomic<unsigned long> Link::s_links{0};

// The links waited on, in the order of the descriptors after the wake-up pipe.
struct Watched {
    std::vector<unsigned long> ids;
    void Add(std::vector<pollfd> &fds, const Link &link)
    {
        fds.push_back(link.Watch());
        ids.push_back(link.id);
    }
    // The revents of `link`'s descriptor in the last wait, 0 when it was not waited on.
    short Revents(const std::vector<pollfd> &fds, const Link &link) const
    {
        for (size_t i = 0; i < ids.size() && i + 1 < fds.size(); ++i)
            if (ids[i] == link.id)
                return fds[i + 1].revents;
        return 0;
    }
};

// The thread, its wake-up pipe and its loop, shared by both bridges.
class Pump {
public:
    Pump()
    {
        if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot make a bridge's wake-up pipe");
    }
    virtual ~Pump()
    {
        close(m_wake[0]);
        close(m_wake[1]);
    }
    Pump(const Pump &) = delete;
    Pump &operator=(const Pump &) = delete;

    void StartPump()
    {
        m_thread = std::thread([this] { Run(); });
    }

    void StopPump()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        Wake();
        if (m_thread.joinable())
            m_thread.join();
    }

    void Wake()
    {
        char byte = 1;
        ssize_t ignored = write(m_wake[1], &byte, 1);
        (void)ignored;
    }

    std::mutex mutex;
    bool stopping = false;

protected:
    // Under the mutex: the descriptors to wait on and for how long at most.
    virtual void Prepare(std::vector<pollfd> &fds, Clock::duration &wait) = 0;
    // Under the mutex: what the wait found (same order as prepared).
    virtual void Handle(const std::vector<pollfd> &fds) = 0;
    // Without the mutex: the work that calls into the device.
    virtual void Deliver() = 0;

private:
    void Run()
    {
        std::vector<pollfd> fds;
        for (;;) {
            Deliver();
            Clock::duration wait = kIdle;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                fds.assign(1, pollfd{m_wake[0], POLLIN, 0});
                Prepare(fds, wait);
            }
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
            int ready = poll(fds.data(), fds.size(), static_cast<int>(std::max<long long>(0, ms)));
            if (ready < 0)
                continue;
            if (fds[0].revents & POLLIN) {
                char drain[64];
                while (read(m_wake[0], drain, sizeof drain) > 0) {
                }
            }
            std::lock_guard<std::mutex> lock(mutex);
            Handle(fds);
        }
    }

    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace

bool ParseLoopback(const std::string &text, LoopbackEndpoint *endpoint, std::string *error, bool anyPort)
{
    LoopbackEndpoint parsed;
    std::string port = text;
    size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        parsed.address = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (parsed.address == "localhost")
            parsed.address = "127.0.0.1";
        if (!LoopbackAddress(parsed.address, nullptr)) {
            *error = "\"" + text.substr(0, colon) +
                     "\" is not an IPv4 loopback address: bridges reach only this machine (127.0.0.0/8, localhost)";
            return false;
        }
    }
    char *end = nullptr;
    long number = port.empty() || port.find_first_not_of("0123456789") != std::string::npos
                      ? -1
                      : strtol(port.c_str(), &end, 10);
    if (number < (anyPort ? 0 : 1) || number > 65535) {
        *error = "bad port \"" + port + "\" (1 to 65535)";
        return false;
    }
    parsed.port = static_cast<int>(number);
    *endpoint = parsed;
    return true;
}

// ---- GSM ---------------------------------------------------------------------------

struct GsmBridge::Core : GsmFarEnd, Pump {
    Core(GsmModem &modem, GsmServices &services, GsmBridgeOptions options)
        : modem(modem), services(services), options(options)
    {}

    // The connection the services handed over and its local link.
    struct Connection {
        int number = 0;
        bool call = false;
        LoopbackEndpoint to;
        bool opened = false;    // the connect was started
        bool reported = false;  // the modem told how it went
        std::unique_ptr<Link> link = std::make_unique<Link>();
    };

    GsmModem &modem;
    GsmServices &services;
    const GsmBridgeOptions options;
    EventLog log{"gsm bridge"};

    bool routeAll = false;
    LoopbackEndpoint all;
    std::map<std::string, LoopbackEndpoint> socketRoutes;  // "host:port"
    std::map<std::string, LoopbackEndpoint> callRoutes;

    std::unique_ptr<Connection> current;
    std::vector<std::unique_ptr<Link>> closing;  // the host's last bytes on their way
    bool inputHeld = false;
    bool heldOnce = false;
    Watched watched;

    // Reports for the services, made by Handle and sent by Deliver.
    struct Report {
        int number;
        bool call;
        int wipError;
        CallOutcome outcome;
    };
    std::vector<Report> reports;

    const LoopbackEndpoint *Route(const std::map<std::string, LoopbackEndpoint> &routes, const std::string &key)
    {
        auto found = routes.find(key);
        return found != routes.end() ? &found->second : routeAll ? &all : nullptr;
    }

    bool Take(int number, bool call, const LoopbackEndpoint *to, int kind, const std::string &what)
    {
        if (!to)
            return false;
        Retire();
        current = std::make_unique<Connection>();
        current->number = number;
        current->call = call;
        current->to = *to;
        current->link->datagram = kind == 1;
        log.Add(what + " -> " + to->Text() + (kind == 1 ? " (udp)" : " (tcp)"));
        Wake();
        return true;
    }

    bool TakeSocket(int connection, int kind, const std::string &host, int port) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string key = host + ":" + std::to_string(port);
        return Take(connection, false, Route(socketRoutes, key), kind, "socket " + key);
    }

    bool TakeCall(int connection, const std::string &number) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        return Take(connection, true, Route(callRoutes, number), 2, "call " + number);
    }

    void Payload(int connection, const std::string &bytes) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!current || current->number != connection || current->link->localEnded)
            return;  // the local peer is gone: nobody to take them
        current->link->Push(bytes);
        if (current->link->toLocalBytes >= kBridgeBufferBytes && !inputHeld) {
            if (!heldOnce)
                log.Add("the local peer is slow: the host's bytes wait in the line");
            heldOnce = inputHeld = true;
            modem.HoldInput(true);
        }
        Wake();
    }

    void Ended(int connection) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (current && current->number == connection) {
            log.Addf("%s %d ended by the host (%llu bytes to the local peer, %llu from it)",
                     current->call ? "call" : "socket", connection, current->link->sentLocal, current->link->sentHost);
            Retire();
        }
    }

    // Under the mutex: the current connection goes, its link once the
    // host's last bytes are out.
    void Retire()
    {
        if (!current)
            return;
        std::unique_ptr<Link> link = std::move(current->link);
        current.reset();
        Release();
        if (link->fd >= 0 && !link->toLocal.empty() && !link->localEnded && !link->connecting) {
            link->deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.connectTimeoutMs));
            closing.push_back(std::move(link));
        }
    }

    void Release()
    {
        if (inputHeld) {
            inputHeld = false;
            modem.HoldInput(false);
        }
    }

    void Open(Connection &connection)
    {
        Link &link = *connection.link;
        connection.opened = true;
        link.fd = StartConnect(connection.to, link.datagram, &link.connecting);
        if (link.fd < 0)
            Failed(connection, errno);
        else if (link.connecting)
            link.deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.connectTimeoutMs));
        else
            Reached(connection);
    }

    void Reached(Connection &connection)
    {
        connection.reported = true;
        log.Addf("%s %d connected to %s", connection.call ? "call" : "socket", connection.number,
                 connection.to.Text().c_str());
        reports.push_back({connection.number, connection.call, 0, CallOutcome::Connect});
    }

    // `error` 0: no answer in time.
    void Failed(Connection &connection, int error)
    {
        std::string why = error == 0 ? "no answer" : ErrorText(error);
        log.Addf("%s %d: %s: %s", connection.call ? "call" : "socket", connection.number, connection.to.Text().c_str(),
                 why.c_str());
        bool refused = error == ECONNREFUSED;
        CallOutcome outcome = error == 0 ? CallOutcome::NoAnswer : CallOutcome::NoCarrier;
        reports.push_back({connection.number, connection.call, refused ? kWipReset : kWipUnreachable, outcome});
        current.reset();
        Release();
    }

    void Prepare(std::vector<pollfd> &fds, Clock::duration &wait) override
    {
        Clock::time_point now = Clock::now();
        watched.ids.clear();
        if (current && !current->opened)
            Open(*current);
        for (auto &link : closing) {
            watched.Add(fds, *link);
            wait = std::min<Clock::duration>(wait, link->deadline - now);
        }
        if (!reports.empty())
            wait = Clock::duration::zero();  // the modem tells at once
        if (!current)
            return;
        Link &link = *current->link;
        watched.Add(fds, link);
        if (link.connecting)
            wait = std::min<Clock::duration>(wait, link.deadline - now);
        else if (!link.toHost.empty() || link.localEnded)
            wait = std::min<Clock::duration>(wait, kTick);
    }

    void Handle(const std::vector<pollfd> &fds) override
    {
        Clock::time_point now = Clock::now();
        for (auto it = closing.begin(); it != closing.end();) {
            Link &link = **it;
            if (short revents = watched.Revents(fds, link))
                link.Transfer(revents);
            if (link.toLocal.empty() || link.localEnded || now >= link.deadline)
                it = closing.erase(it);
            else
                ++it;
        }
        if (!current || !current->opened || current->link->fd < 0)
            return;
        Link &link = *current->link;
        short revents = watched.Revents(fds, link);
        if (link.connecting) {
            if (revents) {
                link.connecting = false;
                int result = ConnectResult(link.fd);
                if (result == 0)
                    Reached(*current);
                else
                    Failed(*current, result);
            } else if (now >= link.deadline) {
                Failed(*current, 0);
            }
            return;
        }
        if (revents)
            link.Transfer(revents);
        if (inputHeld && link.toLocalBytes < kBridgeBufferBytes / 2)
            Release();
    }

    // Without the mutex: the reports, then the local peer's bytes while the
    // line carries payload and the modem's output has room, then its end.
    void Deliver() override
    {
        std::vector<Report> sending;
        {
            std::lock_guard<std::mutex> lock(mutex);
            sending.swap(reports);
        }
        for (const Report &report : sending) {
            if (report.call)
                services.CallAnswered(report.number, report.wipError == 0 ? CallOutcome::Connect : report.outcome);
            else
                services.SocketReached(report.number, report.wipError);
        }
        for (;;) {
            std::string piece;
            int number;
            bool call, ended;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!current || !current->reported || current->link->connecting)
                    return;
                Link &link = *current->link;
                number = current->number;
                call = current->call;
                ended = link.localEnded && link.toHost.empty();
                piece = link.toHost.substr(0, kPiece);
                if (ended) {
                    log.Addf("%s %d: %s (%llu bytes to the local peer, %llu from it)", call ? "call" : "socket", number,
                             link.why.c_str(), link.sentLocal, link.sentHost);
                    current.reset();
                    Release();
                }
            }
            if (ended) {
                if (call)
                    services.RemoteHangUp();
                else
                    services.PeerClose();
                return;
            }
            if (piece.empty() || !modem.InDataMode() || modem.QueuedBytes() >= kBridgeBufferBytes ||
                !services.PeerSend(piece))
                return;
            std::lock_guard<std::mutex> lock(mutex);
            if (!current || current->number != number)
                return;
            current->link->toHost.erase(0, piece.size());
            current->link->sentHost += piece.size();
        }
    }
};

GsmBridge::GsmBridge(GsmModem &modem, GsmServices &services, GsmBridgeOptions options)
    : m_services(services), m_core(std::make_shared<Core>(modem, services, options))
{
    m_core->StartPump();
    services.SetFarEnd(m_core);
}

GsmBridge::~GsmBridge()
{
    m_services.SetFarEnd(nullptr);
    m_core->StopPump();
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->current.reset();
    m_core->closing.clear();
    m_core->Release();
}

void GsmBridge::RouteAll(const LoopbackEndpoint &local)
{
    CheckLoopback(local);
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->routeAll = true;
    m_core->all = local;
}

void GsmBridge::RouteSocket(const std::string &host, int port, const LoopbackEndpoint &local)
{
    CheckLoopback(local);
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->socketRoutes[host + ":" + std::to_string(port)] = local;
}

void GsmBridge::RouteCall(const std::string &number, const LoopbackEndpoint &local)
{
    CheckLoopback(local);
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->callRoutes[number] = local;
}

EventLog &GsmBridge::Log() { return m_core->log; }

// ---- Bluetooth -------------------------------------------------------------------------

struct BluetoothBridge::Core : Pump {
    Core(BluetoothModule &module, BluetoothRemoteOptions options) : module(module), options(std::move(options)) {}
    ~Core() override
    {
        if (listener >= 0)
            close(listener);
        if (terminal >= 0)
            close(terminal);
    }

    BluetoothModule &module;
    const BluetoothRemoteOptions options;
    EventLog log{"bluetooth bridge"};

    int listener = -1;
    int port = 0;
    int terminal = -1;  // the pseudo-terminal's master
    std::string terminalPath;

    std::unique_ptr<Link> link;  // the local peer of the moment
    bool linkUp = false;         // the module has the link from it
    Clock::time_point nextAttempt{};
    bool unreachable = false;  // told once until the server answers
    bool inputHeld = false;
    Watched watched;

    // The module's state, read without the mutex before each round.
    bool moduleLink = false, profileOpen = false;

    void Listen()
    {
        listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        BoundBuffers(listener);  // the accepted connections' own
        sockaddr_in address = SocketAddress(options.local);
        socklen_t size = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot listen on " + options.local.Text() + " for the Bluetooth remote");
        port = ntohs(address.sin_port);
        log.Addf("listening on %s:%d", options.local.address.c_str(), port);
    }

    void MakeTerminal()
    {
        terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128];
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0 ||
            ptsname_r(terminal, name, sizeof name) != 0)
            throw std::system_error(errno, std::generic_category(), "cannot make the Bluetooth remote's terminal");
        terminalPath = name;
        // Raw, as a serial port profile's far end is; opened and closed once
        // so that the master shows a hang-up until a person opens it.
        int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            throw std::system_error(errno, std::generic_category(), "cannot open " + terminalPath);
        termios raw;
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        close(slave);
        log.Add("terminal " + terminalPath);
    }

    void Hold(bool hold)
    {
        if (inputHeld != hold) {
            inputHeld = hold;
            module.HoldInput(hold);
        }
    }

    // The host's data for the remote; runs under the module's lock.  The
    // module's link is this one's even before Deliver has marked it up.
    void FromHost(const std::string &bytes)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!link || link->localEnded)
            return;
        link->Push(bytes);
        if (link->toLocalBytes >= kBridgeBufferBytes)
            Hold(true);
        Wake();
    }

    // Under the mutex: the local peer is gone or went.
    void Drop(const char *why)
    {
        if (link)
            log.Addf("remote %s (%llu bytes to it, %llu from it)", why, link->sentLocal, link->sentHost);
        if (terminal >= 0)
            tcflush(terminal, TCIOFLUSH);  // nothing of this session for the next one
        link.reset();
        linkUp = false;
        Hold(false);
        nextAttempt = Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.retryMs));
    }

    void Prepare(std::vector<pollfd> &fds, Clock::duration &wait) override
    {
        Clock::time_point now = Clock::now();
        watched.ids.clear();
        if (linkUp && !moduleLink) {
            // The module dropped the link (a restart): a connection hangs
            // up, a terminal's session calls again.
            log.Add("link dropped by the module");
            linkUp = false;
            if (options.kind != RemoteKind::Pty)
                Drop("hung up");
        }
        if (!link) {
            if (options.kind == RemoteKind::TcpListen) {
                fds.push_back({listener, POLLIN, 0});
                watched.ids.push_back(0);
            } else if (options.kind == RemoteKind::TcpConnect && profileOpen && !moduleLink) {
                if (now >= nextAttempt)
                    Connect();
                else
                    wait = std::min<Clock::duration>(wait, nextAttempt - now);
            } else if (options.kind == RemoteKind::Pty) {
                pollfd look{terminal, POLLIN, 0};
                poll(&look, 1, 0);
                if (!(look.revents & POLLHUP)) {
                    link = std::make_unique<Link>();
                    link->fd = terminal;
                    link->ownsFd = false;
                    link->socket = false;
                    log.Add("terminal opened");
                }
            }
        }
        if (!link)
            return;
        watched.Add(fds, *link);
        if (link->connecting)
            wait = std::min<Clock::duration>(wait, link->deadline - now);
        else if (!link->toHost.empty() || link->localEnded)
            wait = std::min<Clock::duration>(wait, kTick);
    }

    Clock::time_point Later() const
    {
        return Clock::now() + std::chrono::milliseconds(static_cast<long long>(options.retryMs));
    }

    void Connect()
    {
        link = std::make_unique<Link>();
        link->fd = StartConnect(options.local, false, &link->connecting);
        link->deadline = nextAttempt = Later();
        if (link->fd < 0)
            Unreachable(errno);
        else if (!link->connecting)
            Reached();
    }

    void Reached()
    {
        unreachable = false;
        log.Add("connected to " + options.local.Text());
    }

    // `error` 0: no answer in time.  Tried again after the retry time.
    void Unreachable(int error)
    {
        if (!unreachable)
            log.Addf("cannot reach %s: %s; trying again every %.0f ms", options.local.Text().c_str(),
                     error ? ErrorText(error).c_str() : "no answer", options.retryMs);
        unreachable = true;
        link.reset();
    }

    void Handle(const std::vector<pollfd> &fds) override
    {
        if (options.kind == RemoteKind::TcpListen && !link && fds.size() > 1 && (fds[1].revents & POLLIN)) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd >= 0) {
                link = std::make_unique<Link>();
                link->fd = fd;
                log.Add("remote connected");
            }
            return;
        }
        if (!link || link->fd < 0)
            return;
        short revents = watched.Revents(fds, *link);
        if (link->connecting) {
            int result = revents ? ConnectResult(link->fd) : 0;
            link->connecting = revents == 0 && Clock::now() < link->deadline;
            if (revents && result == 0)
                Reached();
            else if (!link->connecting)
                Unreachable(result);
        } else if (revents) {
            link->Transfer(revents);
            if (inputHeld && link->toLocalBytes < kBridgeBufferBytes / 2)
                Hold(false);
        }
    }

    void Deliver() override
    {
        bool link = module.LinkUp();
        bool paused = module.LinkPaused();
        bool profile = module.ProfileOpen();
        size_t queued = module.QueuedBytes();
        std::string piece;
        enum { Nothing, Open, Send, HangUp } action = Nothing;
        {
            std::lock_guard<std::mutex> lock(mutex);
            moduleLink = link;
            profileOpen = profile;
            if (!this->link || this->link->connecting)
                return;
            Link &local = *this->link;
            if (local.localEnded && local.toHost.empty()) {
                bool wasUp = linkUp;
                Drop(options.kind == RemoteKind::Pty ? "closed the terminal" : "closed the connection");
                if (wasUp)
                    action = HangUp;
            } else if (!linkUp) {
                action = Open;
                piece = local.toHost.substr(0, kPiece);
            } else if (!paused && queued < kBridgeBufferBytes && !local.toHost.empty()) {
                action = Send;
                piece = local.toHost.substr(0, kPiece);
            }
        }
        bool done = false;
        switch (action) {
        case Nothing: return;
        case HangUp: module.Disconnect(); return;
        case Open: done = module.Connect(options.remoteAddress, piece); break;
        case Send: done = module.SendData(piece); break;
        }
        std::lock_guard<std::mutex> lock(mutex);
        if (!done || !this->link)
            return;
        if (action == Open) {
            linkUp = true;
            moduleLink = true;
            log.Add("link up");
        }
        this->link->toHost.erase(0, piece.size());
        this->link->sentHost += piece.size();
    }
};

BluetoothBridge::BluetoothBridge(BluetoothModule &module, BluetoothRemoteOptions options)
    : m_module(module), m_core(std::make_shared<Core>(module, std::move(options)))
{
    Core &core = *m_core;
    if (core.options.kind != RemoteKind::Pty)
        CheckLoopback(core.options.local);
    if (core.options.kind == RemoteKind::TcpListen)
        core.Listen();
    else if (core.options.kind == RemoteKind::Pty)
        core.MakeTerminal();
    std::weak_ptr<Core> weak = m_core;
    module.SetRemoteHandler([weak](const std::string &bytes) {
        if (std::shared_ptr<Core> alive = weak.lock())
            alive->FromHost(bytes);
    });
    core.StartPump();
}

BluetoothBridge::~BluetoothBridge()
{
    m_module.SetRemoteHandler(nullptr);
    m_core->StopPump();
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->link.reset();
    m_core->Hold(false);
}

std::string BluetoothBridge::TerminalPath() const { return m_core->terminalPath; }
int BluetoothBridge::ListeningPort() const { return m_core->port; }
EventLog &BluetoothBridge::Log() { return m_core->log; }

}  // namespace sim
