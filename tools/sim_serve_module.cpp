// The live page's server, liborva_sim_serve.so: Debian's cpp-httplib on
// threads of its own in the program's process, the page's files compiled in.
#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include <httplib.h>

#include "sim_page.h"
#include "sim_serve.h"

namespace simsession {

namespace {

const size_t kBodyBytes = 4096;
const double kActionsPerSecond = 50;
const double kRequestsPerSecond = 200;
const size_t kStreams = 8;
// A stream holds a thread for as long as it is open; the others serve the
// page's other requests.
const size_t kThreads = kStreams + 4;
// Lines a page that stops reading may fall behind by; the oldest go first.
const size_t kQueuedChunks = 10000;
// A stream with nothing to say sends a comment this often, which also finds
// a page that went away.
const std::chrono::seconds kHeartbeat{5};

using Clock = std::chrono::steady_clock;

// A JSON string: valid UTF-8 passes as it is, control characters are
// escaped, and a byte that does not belong to a valid sequence becomes
// U+FFFD (the program's output may hold anything).
std::string Quoted(const std::string &text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            char escaped[8];
            if (c == '"' || c == '\\')
                out.append(1, '\\').append(1, static_cast<char>(c));
            else if (c < 0x20)
                out.append(escaped, static_cast<size_t>(snprintf(escaped, sizeof escaped, "\\u%04x", c)));
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid) {
            // No overlong forms, no surrogates, nothing beyond U+10FFFF.
            unsigned char next = static_cast<unsigned char>(text[i + 1]);
            valid = !(c == 0xE0 && next < 0xA0) && !(c == 0xED && next >= 0xA0) && !(c == 0xF0 && next < 0x90) &&
                    !(c == 0xF4 && next >= 0x90);
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    return out + "\"";
}

std::string FrameJson(const PanelFrame &frame)
{
    static const char kHex[] = "0123456789abcdef";
    char head[160];
    snprintf(head, sizeof head, "{\"ms\":%lld,\"number\":%d,\"supplyOn\":%s,\"shown\":%s,\"contrast\":%d,\"ram\":\"",
             static_cast<long long>(frame.ms), frame.number, frame.supplyOn ? "true" : "false",
             frame.Shown() ? "true" : "false", frame.contrast);
    std::string json = head;
    for (uint8_t byte : frame.ram)
        json.append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    return json + "\"}";
}

std::string Sse(const char *name, const std::string &json)
{
    return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

void Json(httplib::Response &res, int status, const std::string &json)
{
    res.status = status;
    res.set_content(json + "\n", "application/json");
}

void Refuse(httplib::Response &res, int status, const std::string &why)
{
    Json(res, status, "{\"error\":" + Quoted(why) + "}");
}

// Requests a second, with a burst of as many.
class Bucket {
public:
    explicit Bucket(double rate) : m_rate(rate), m_tokens(rate), m_last(Clock::now()) {}
    bool Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Clock::time_point now = Clock::now();
        m_tokens = std::min(m_rate, m_tokens + m_rate * std::chrono::duration<double>(now - m_last).count());
        m_last = now;
        if (m_tokens < 1)
            return false;
        m_tokens -= 1;
        return true;
    }

private:
    std::mutex m_mutex;
    const double m_rate;
    double m_tokens;
    Clock::time_point m_last;
};

// One page's stream of events: filled by the timeline's thread, emptied by
// the connection's.  Frames are states: a page that falls behind gets the
// latest one only.
struct Feed {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> chunks;
    std::string frame;
    size_t skipped = 0;
    bool closed = false;
    bool started = false;   // the connection's thread only
    bool replayed = false;  // guarded by the server's mutex
    int listener = 0;

    void Push(std::string chunk)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            chunks.push_back(std::move(chunk));
            if (chunks.size() > kQueuedChunks) {
                chunks.pop_front();
                ++skipped;
            }
        }
        changed.notify_all();
    }
    void SetFrame(std::string chunk)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            frame = std::move(chunk);
        }
        changed.notify_all();
    }
    void Close()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            closed = true;
        }
        changed.notify_all();
    }
    // What to send next: empty after a heartbeat without news; false once closed.
    bool Next(std::string *out)
    {
        std::unique_lock<std::mutex> lock(mutex);
        bool news = changed.wait_for(lock, kHeartbeat, [this] { return closed || !frame.empty() || !chunks.empty(); });
        if (closed)
            return false;
        if (!news) {
            *out = ":\n\n";
            return true;
        }
        if (skipped)
            *out += Sse("skipped", "{\"lines\":" + std::to_string(skipped) + "}");
        skipped = 0;
        out->append(frame);
        frame.clear();
        for (; !chunks.empty() && out->size() < 256 * 1024; chunks.pop_front())
            out->append(chunks.front());
        return true;
    }
};

struct State {
    explicit State(ServeHost &serveHost) : host(serveHost) {}

    ServeHost &host;
    httplib::Server server;
    std::string address;
    int port = 0;
    std::vector<std::string> hosts;  // what the Host header may say
    std::string program;
    std::thread thread;
    std::atomic<bool> listened{false};

    // Held while an action is carried out; the end waits for it.
    std::mutex gate;
    bool ending = false;

    std::mutex mutex;
    std::vector<std::shared_ptr<Feed>> streams;
    std::string report;  // the chunk, once known
    bool stopping = false;

    Bucket actions{kActionsPerSecond};
    Bucket requests{kRequestsPerSecond};

    std::string Url() const
    {
        std::string host = address.find(':') == std::string::npos ? address : "[" + address + "]";
        return "http://" + host + ":" + std::to_string(port) + "/";
    }

    bool Allowed(const httplib::Request &req) const
    {
        std::string host = req.get_header_value("Host");
        std::transform(host.begin(), host.end(), host.begin(), [](unsigned char c) { return tolower(c); });
        bool known = std::find(hosts.begin(), hosts.end(), host) != hosts.end();
        if (!known || !req.has_header("Origin"))
            return known;
        return req.get_header_value("Origin") == "http://" + host;
    }

    void Perform(const httplib::Request &req, httplib::Response &res)
    {
        if (!actions.Take())
            return Refuse(res, 429, "too many actions: at most 50 a second");
        std::string text = req.body;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        std::string quoted = Quoted(text);
        if (text.find_first_of("\r\n") != std::string::npos)
            return Json(res, 400, "{\"done\":false,\"action\":" + quoted + ",\"error\":\"one action a request\"}");
        std::lock_guard<std::mutex> lock(gate);
        if (ending)
            return Json(res, 409,
                        "{\"done\":false,\"action\":" + quoted +
                            ",\"error\":\"the program has ended: there is no receiver to act on any more\"}");
        Outcome outcome;
        std::string error;
        if (!host.Perform(text, &outcome, &error))
            return Json(res, 400, "{\"done\":false,\"action\":" + quoted + ",\"error\":" + Quoted(error) + "}");
        std::string ms = std::to_string(outcome.ms);
        if (outcome.done)
            return Json(res, 200,
                        "{\"done\":true,\"action\":" + quoted + ",\"text\":" + Quoted(outcome.text) + ",\"ms\":" + ms +
                            "}");
        Json(res, 409,
             "{\"done\":false,\"action\":" + quoted + ",\"error\":" + Quoted(outcome.text) + ",\"ms\":" + ms + "}");
    }

    std::string ActionTable() const
    {
        std::string json = "[";
        for (const ActionInfo &info : host.ActionTable())
            json += std::string(json.size() > 1 ? "," : "") + "{\"name\":" + Quoted(info.name) +
                    ",\"group\":" + Quoted(info.group) + ",\"values\":" + Quoted(info.values) +
                    ",\"help\":" + Quoted(info.help) + "}";
        return json + "]";
    }

    PanelFrame Panel() const
    {
        PanelFrame frame;
        host.LastFrame(&frame);
        return frame;
    }

    void Picture(httplib::Response &res) const
    {
        PanelFrame frame = Panel();
        PanelFrame shown = frame;
        // An unpowered panel shows nothing, whatever its memory holds.
        if (!frame.Shown())
            shown.ram.fill(0);
        std::vector<uint8_t> png;
        std::string error;
        if (!host.PanelPng(shown, &png, &error))
            return Refuse(res, 501, error);
        res.set_header("X-Panel-Frame", std::to_string(frame.number));
        res.set_header("X-Panel-Shown", frame.Shown() ? "1" : "0");
        res.set_content(reinterpret_cast<const char *>(png.data()), png.size(), "image/png");
    }

    void Events(httplib::Response &res)
    {
        auto stream = std::make_shared<Feed>();
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return Refuse(res, 503, "the server is stopping");
            if (streams.size() >= kStreams)
                return Refuse(res, 503, "at most " + std::to_string(kStreams) + " event streams at once");
            streams.push_back(stream);
        }
        TimelineListener listener;
        listener.event = [stream](const TimelineEvent &event) {
            stream->Push(Sse("log", "{\"ms\":" + std::to_string(event.ms) + ",\"source\":" + Quoted(event.source) +
                                        ",\"text\":" + Quoted(event.text) + "}"));
        };
        listener.frame = [stream](const PanelFrame &frame) { stream->SetFrame(Sse("frame", FrameJson(frame))); };
        listener.output = [stream](const OutputLine &line) {
            stream->Push(Sse("output", "{\"ms\":" + std::to_string(line.ms) + ",\"stream\":\"" +
                                           (line.stream == Stream::Stdout ? "stdout" : "stderr") +
                                           "\",\"text\":" + Quoted(line.text) + "}"));
        };
        listener.end = [stream](ReceiverMs ms) { stream->Push(Sse("end", "{\"ms\":" + std::to_string(ms) + "}")); };
        stream->listener = host.AddListener(listener, true);

        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](size_t, httplib::DataSink &sink) {
                std::string out;
                if (!stream->started) {
                    // The history first, then the report if the run is over.
                    stream->started = true;
                    host.Flush();
                    std::lock_guard<std::mutex> lock(mutex);
                    stream->replayed = true;
                    if (!report.empty())
                        stream->Push(report);
                    // Receiver time now: the history is older, what follows newer.
                    out = Sse("hello", "{\"program\":" + Quoted(program) + ",\"url\":" + Quoted(Url()) +
                                           ",\"timeScale\":" + std::to_string(host.TimeScale()) +
                                           ",\"now\":" + std::to_string(host.Now()) + "}");
                } else if (!stream->Next(&out)) {
                    return false;
                }
                return sink.write(out.data(), out.size());
            },
            [this, stream](bool) {
                host.RemoveListener(stream->listener);
                std::lock_guard<std::mutex> lock(mutex);
                streams.erase(std::remove(streams.begin(), streams.end(), stream), streams.end());
            });
    }

    void Route()
    {
        server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
            res.set_header("Cache-Control", "no-store");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("X-Frame-Options", "DENY");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
            if (!Allowed(req)) {
                Refuse(res, 403, "refused: the request's Host or Origin is not " + Url());
                return httplib::Server::HandlerResponse::Handled;
            }
            if (!requests.Take()) {
                Refuse(res, 429, "too many requests: at most 200 a second");
                return httplib::Server::HandlerResponse::Handled;
            }
            // Before the body is read: the library's parser of multipart
            // bodies keeps objects made at its first use, which the end of
            // the program may have destroyed while the page stays.
            if (req.get_header_value("Content-Type").rfind("multipart/", 0) == 0) {
                Refuse(res, 415, "an action is plain text");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });
        server.set_error_handler([](const httplib::Request &req, httplib::Response &res) {
            if (!res.body.empty())
                return;
            if (res.status == 404)
                Refuse(res, 404, "nothing here: " + req.path);
            else if (res.status == 413)
                Refuse(res, 413, "a request's body is at most " + std::to_string(kBodyBytes) + " bytes");
            else
                Refuse(res, res.status, res.status == 400 ? "bad request" : "the request cannot be served");
        });
        server.Get("/actions",
                   [this](const httplib::Request &, httplib::Response &res) { Json(res, 200, ActionTable()); });
        server.Post("/actions", [this](const httplib::Request &req, httplib::Response &res) { Perform(req, res); });
        server.Get("/panel",
                   [this](const httplib::Request &, httplib::Response &res) { Json(res, 200, FrameJson(Panel())); });
        server.Get("/panel\\.png", [this](const httplib::Request &, httplib::Response &res) { Picture(res); });
        server.Get("/events", [this](const httplib::Request &, httplib::Response &res) { Events(res); });
        // The page's own files, and nothing else.
        server.Get("/.*", [](const httplib::Request &req, httplib::Response &res) {
            std::string path = req.path == "/" ? "/index.html" : req.path;
            for (size_t i = 0; i < kPageFileCount; ++i) {
                const PageFile &file = kPageFiles[i];
                if (path == file.path) {
                    res.set_content(file.data, file.size, file.type);
                    return;
                }
            }
            Refuse(res, 404, "nothing here: " + req.path);
        });
    }
};

// A thread of the simulator in the program's process blocks every signal,
// so that the drivers' signals reach the program's own threads (the pool's
// threads are made on the listening one and inherit its mask).
std::thread ServerThread(std::function<void()> body)
{
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    std::thread thread(std::move(body));
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return thread;
}

class Server : public LiveServer {
public:
    explicit Server(ServeHost &host)
    {
        // The library's server ignores SIGPIPE process-wide; the program
        // keeps its own disposition.  The server's threads block every
        // signal, so a write to a page that went away fails with EPIPE there.
        struct sigaction pipe;
        sigaction(SIGPIPE, nullptr, &pipe);
        m_state = std::make_unique<State>(host);
        sigaction(SIGPIPE, &pipe, nullptr);
    }
    ~Server() override { Stop(); }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool Bind(const std::string &address, int port, std::string *error) override
    {
        State &s = *m_state;
        // Not the library's default, which shares the port with any other
        // server that asks (SO_REUSEPORT): a port taken must be told.
        s.server.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            fcntl(sock, F_SETFD, FD_CLOEXEC);
        });
        errno = 0;
        int bound = port == 0 ? s.server.bind_to_any_port(address) : s.server.bind_to_port(address, port) ? port : -1;
        if (bound <= 0) {
            int why = errno;
            *error = "cannot serve on " + address + (port ? ":" + std::to_string(port) : std::string()) + ": " +
                     (why == EADDRINUSE ? "the port is taken (--serve 0 takes a free one)"
                      : why             ? std::generic_category().message(why)
                                        : "the address cannot be used");
            return false;
        }
        s.address = address;
        s.port = bound;
        std::string portText = ":" + std::to_string(bound);
        s.hosts.push_back((address.find(':') == std::string::npos ? address : "[" + address + "]") + portText);
        if (address == "127.0.0.1" || address == "::1")
            s.hosts.push_back("localhost" + portText);
        return true;
    }

    std::string Url() const override { return m_state->Url(); }

    void Start(const std::string &program) override
    {
        State &s = *m_state;
        s.program = program;
        s.server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
        s.server.set_payload_max_length(kBodyBytes);
        s.server.set_read_timeout(5, 0);
        s.server.set_write_timeout(5, 0);
        // An idle connection holds a thread, and the stop, for this long.
        s.server.set_keep_alive_timeout(1);
        s.server.set_keep_alive_max_count(1000);
        // An answer goes in more than one write: without this, the second
        // waits for the client's delayed acknowledgement of the first.
        s.server.set_tcp_nodelay(true);
        s.Route();
        s.thread = ServerThread([&s] {
            s.server.listen_after_bind();
            s.listened = true;
        });
        // The library parses a request with objects it makes at their first
        // use (the methods it knows, the pattern of a Range header).  Made
        // by this request, before the session registers its exit handler,
        // they outlive the program's exit while the page stays; made by a
        // page's first request, exit would destroy them first.
        httplib::Client self(s.address, s.port);
        self.Get("/panel", {{"Host", s.hosts.front()}, {"Range", "bytes=0-0"}});
    }

    void Ending() override
    {
        std::lock_guard<std::mutex> lock(m_state->gate);
        m_state->ending = true;
    }

    void Ended(const std::vector<std::string> &report) override
    {
        State &s = *m_state;
        std::string lines;
        for (const std::string &line : report)
            lines += (lines.empty() ? "" : ",") + Quoted(line);
        std::lock_guard<std::mutex> lock(s.mutex);
        s.report = Sse("report", "{\"lines\":[" + lines + "]}");
        for (const auto &stream : s.streams)
            if (stream->replayed)
                stream->Push(s.report);
    }

    void Stop() override
    {
        State &s = *m_state;
        if (!s.thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.stopping = true;
            for (const auto &stream : s.streams)
                stream->Close();
        }
        // stop() has no effect before the server runs.
        while (!s.server.is_running() && !s.listened)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        s.server.stop();
        s.thread.join();
    }

private:
    std::unique_ptr<State> m_state;
};

}  // namespace

}  // namespace simsession

extern "C" __attribute__((visibility("default"))) simsession::LiveServer *
orva_sim_serve_new(simsession::ServeHost *host)
{
    return new simsession::Server(*host);
}
