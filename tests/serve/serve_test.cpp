// The live page's HTTP interface as a client sees it: orva-sim --serve 0
// running the buttons example as a child process, actions of every family
// through POST /actions and their effect on the program's output, the
// panel's frames and pictures, the end of the program, and every refusal.
#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

extern char **environ;

namespace {

const auto kDeadline = std::chrono::seconds(60);

// Text that grows on another thread, and a wait for a part of it.
class Growing {
public:
    void Append(const char *data, size_t size, bool closed = false)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_text.append(data, size);
            m_closed = m_closed || closed;
        }
        m_changed.notify_all();
    }
    // True once `part` stands in the text after `from`.
    bool Wait(const std::string &part, size_t from = 0)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kDeadline, [&] { return m_text.find(part, from) != std::string::npos || m_closed; });
        return m_text.find(part, from) != std::string::npos;
    }
    std::string Text()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_text;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_text;
    bool m_closed = false;
};

// orva-sim as a child process: its standard error, and the port it serves.
class Served {
public:
    explicit Served(const std::vector<std::string> &arguments)
    {
        // Close-on-exec: no other child keeps this pipe open.
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
        std::vector<char *> argv{const_cast<char *>(ORVA_SIM)};
        for (const std::string &argument : arguments)
            argv.push_back(const_cast<char *>(argument.c_str()));
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, ORVA_SIM, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(ends[1]);
        m_reader = std::thread([this, fd = ends[0]] {
            char buffer[4096];
            ssize_t got;
            while ((got = read(fd, buffer, sizeof buffer)) > 0)
                err.Append(buffer, static_cast<size_t>(got));
            err.Append("", 0, true);
            close(fd);
        });
        const std::string serving = "orva-sim: serving http://127.0.0.1:";
        if (err.Wait(serving))
            port = atoi(err.Text().c_str() + err.Text().find(serving) + serving.size());
    }
    ~Served() { Stop(SIGKILL); }

    // Ends it with the signal; its exit status, or 128 + the signal that ended it.
    int Stop(int signal)
    {
        int status = 0;
        if (m_pid > 0) {
            kill(m_pid, signal);
            waitpid(m_pid, &status, 0);
            m_pid = 0;
        }
        if (m_reader.joinable())
            m_reader.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    Growing err;
    int port = 0;

private:
    pid_t m_pid = 0;
    std::thread m_reader;
};

// GET /events, read on a thread of its own until destroyed.
class Events {
public:
    explicit Events(int port) : m_client("127.0.0.1", port)
    {
        m_client.set_read_timeout(kDeadline);
        m_thread = std::thread([this] {
            m_client.Get("/events", [this](const char *data, size_t size) {
                text.Append(data, size);
                return true;
            });
            text.Append("", 0, true);
        });
    }
    ~Events()
    {
        m_client.stop();
        m_thread.join();
    }
    Growing text;

private:
    httplib::Client m_client;
    std::thread m_thread;
};

// A value of a flat JSON object: a string's text, or a number or word.
std::string Field(const std::string &json, const std::string &name, size_t from = 0)
{
    size_t at = json.find("\"" + name + "\":", from);
    if (at == std::string::npos)
        return "";
    at += name.size() + 3;
    if (json[at] == '"')
        return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}", at) - at);
}

// A pixel of the panel from the RAM's hex digits: 8 pages of 128 columns.
bool Lit(const std::string &ram, int x, int y)
{
    int byte = std::stoi(ram.substr(static_cast<size_t>((y / 8 * 128 + x) * 2), 2), nullptr, 16);
    return (byte >> (y % 8)) & 1;
}

// The picture, 512 x 256, against the panel: dark wherever a pixel is lit.
void ExpectPictureOf(const std::string &png, const std::string &ram)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()));
    ASSERT_EQ(image.width * image.height, 512u * 256u);
    image.format = PNG_FORMAT_GRAY;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr));
    int mismatches = 0;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 512; ++x)
            mismatches += (pixels[static_cast<size_t>(y) * 512 + x] < 128) != Lit(ram, x / 4, y / 4);
    EXPECT_EQ(mismatches, 0);
}

// The buttons example lives 30 s of the receiver's time: at real time,
// long enough for a test.
std::vector<std::string> ButtonsServed() { return {"--serve", "0", "--time-scale", "1", "--", BUTTONS}; }

TEST(Serve, ActionsOfEveryFamilyTheirEffectsAndTheEnd)
{
    Served sim(ButtonsServed());
    ASSERT_GT(sim.port, 0) << sim.err.Text();
    Events events(sim.port);
    ASSERT_TRUE(events.text.Wait("\"shown\":true")) << events.text.Text();
    httplib::Client client("127.0.0.1", sim.port);

    struct Case {
        const char *body;
        int status;
        const char *answer;  // in the JSON answer
        const char *seen;    // then on the stream
    } cases[] = {
        {"press=record", 200, "record button pressed", "\"text\":\"record pressed\""},
        {"release=record\n", 200, "record button released", "\"text\":\"record released\""},
        {"battery=40", 200, "battery at 40 %", "power event 0x0000: battery 40 %"},
        {"usb=plugged", 200, "device port connected, event 0x02 with SIGUSR2", "usb=plugged: device port connected"},
        {"usb=plugged", 409, "the cable is already plugged", ""},
        {"ethernet=up", 200, "link marker /var/netlink appeared", "ethernet=up: link marker"},
        {"pps=pulse", 200, "one pulse", "pps=pulse: one pulse"},
        {"bt-link=open", 409, "no application has opened the Bluetooth server", "bt-link=open refused"},
        {"gsm-signal=25", 200, "signal 25,99 (5 bars)", "gsm-signal=25: signal"},
        {"gsm-call=ring", 409, "the modem is switched off", "gsm-call=ring refused"},
        {"press=middle", 400, "bad value \\\"middle\\\" for press", ""},
        {"nothing=1", 400, "unknown action \\\"nothing\\\"", ""},
        {"press=record\nrelease=record", 400, "one action a request", ""},
        // Told back as valid JSON: control characters escaped, bytes that are not UTF-8 replaced.
        {"press=\x01\xc3\xa9\xff", 400, "\"action\":\"press=\\u0001\xc3\xa9\\ufffd\"", ""},
    };
    for (const Case &c : cases) {
        size_t from = events.text.Text().size();
        httplib::Result result = client.Post("/actions", c.body, "text/plain");
        ASSERT_TRUE(result) << c.body;
        EXPECT_EQ(result->status, c.status) << c.body << ": " << result->body;
        EXPECT_NE(result->body.find(c.answer), std::string::npos) << result->body;
        EXPECT_EQ(Field(result->body, "done"), c.status == 200 ? "true" : "false") << result->body;
        if (*c.seen) {
            EXPECT_TRUE(events.text.Wait(c.seen, from)) << c.body;
        }
    }

    // The program draws each change: held, the record box is filled, and the
    // panel, its picture and the last frame on the stream agree.
    size_t from = events.text.Text().size();
    ASSERT_EQ(client.Post("/actions", "press=record", "text/plain")->status, 200);
    ASSERT_TRUE(events.text.Wait("\"text\":\"record pressed\"", from));
    std::string frame;
    size_t at = from;
    auto next = [&] {
        if (!events.text.Wait("event: frame", at))
            return false;
        at = events.text.Text().find("event: frame", at) + 1;
        frame = events.text.Text().substr(at, events.text.Text().find("\n\n", at) - at);
        return true;
    };
    while (frame.empty() || !Lit(Field(frame, "ram"), 32, 28))
        ASSERT_TRUE(next()) << "no frame with the record box filled";
    // A slow flush may come in two frames: the panel is the stream's frame of its number.
    httplib::Result panel = client.Get("/panel");
    while (Field(frame, "number") != Field(panel->body, "number"))
        ASSERT_TRUE(next()) << "no frame " << Field(panel->body, "number") << " on the stream";
    ASSERT_EQ(Field(panel->body, "ram"), Field(frame, "ram"));
    httplib::Result picture = client.Get("/panel.png");
    EXPECT_EQ(picture->get_header_value("Content-Type"), "image/png");
    ExpectPictureOf(picture->body, Field(frame, "ram"));

    // The program ends; the page keeps its last screen and gets the report,
    // actions are refused, and the exit status stays the program's.
    ASSERT_EQ(client.Post("/actions", "click=scroll", "text/plain")->status, 200);
    ASSERT_TRUE(events.text.Wait("event: report")) << events.text.Text();
    EXPECT_TRUE(events.text.Wait("open descriptors: none"));
    EXPECT_LT(events.text.Text().find("event: end"), events.text.Text().find("event: report"));
    ASSERT_TRUE(sim.err.Wait("orva-sim: the program ended; the page stays at http://127.0.0.1:" +
                             std::to_string(sim.port) + "/ until Ctrl-C"));
    httplib::Result after = client.Post("/actions", "press=record", "text/plain");
    EXPECT_EQ(after->status, 409);
    EXPECT_NE(after->body.find("the program has ended"), std::string::npos) << after->body;
    std::string last = Field(client.Get("/panel")->body, "ram");
    ExpectPictureOf(client.Get("/panel.png")->body, last);
    // While the program's exit destroys its objects, the page still has its own.
    EXPECT_NE(client.Get("/")->body.find("<canvas"), std::string::npos);
    EXPECT_NE(client.Get("/actions")->body.find("{\"name\":\"gsm-call\",\"group\":\"gsm\""), std::string::npos);
    // A page opened now is told everything, the end and the report too.
    Events late(sim.port);
    EXPECT_TRUE(late.text.Wait("open descriptors: none"));
    EXPECT_NE(late.text.Text().find(last), std::string::npos);
    EXPECT_EQ(sim.Stop(SIGTERM), 0) << sim.err.Text();
}

TEST(Serve, RefusesWhatIsNotThePagesOwn)
{
    Served sim(ButtonsServed());
    ASSERT_GT(sim.port, 0) << sim.err.Text();
    httplib::Client client("127.0.0.1", sim.port);
    std::string self = "127.0.0.1:" + std::to_string(sim.port);
    std::string local = "localhost:" + std::to_string(sim.port);
    struct Case {
        const char *method, *path;
        httplib::Headers headers;
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/actions", {{"Host", "attacker.example:" + std::to_string(sim.port)}}, "", 403},
        {"GET", "/actions", {{"Host", "127.0.0.1:1"}}, "", 403},
        {"POST", "/actions", {{"Origin", "http://attacker.example"}}, "press=record", 403},
        {"POST", "/actions", {{"Origin", "null"}}, "press=record", 403},
        {"POST", "/actions", {{"Host", local}, {"Origin", "http://" + self}}, "press=record", 403},
        {"POST", "/actions", {{"Host", local}, {"Origin", "http://" + local}}, "release=record", 200},
        {"POST", "/actions", {}, std::string(5000, 'x'), 413},
        {"GET", "/etc/passwd", {}, "", 404},
        {"GET", "/../index.html", {}, "", 404},
        {"GET", "/page.js.map", {}, "", 404},
        {"POST", "/panel", {}, "x", 404},
        {"GET", "/", {}, "", 200},
        {"GET", "/page.js", {}, "", 200},
    };
    for (const Case &c : cases) {
        httplib::Result result = std::string(c.method) == "GET" ? client.Get(c.path, c.headers)
                                                                : client.Post(c.path, c.headers, c.body, "text/plain");
        ASSERT_TRUE(result) << c.path;
        EXPECT_EQ(result->status, c.status) << c.method << " " << c.path << ": " << result->body;
        if (c.status != 200) {
            EXPECT_NE(result->body.find("\"error\":"), std::string::npos) << result->body;
        }
    }

    // At most 8 streams at once.
    std::vector<std::unique_ptr<Events>> streams;
    for (int i = 0; i < 8; ++i) {
        streams.push_back(std::make_unique<Events>(sim.port));
        ASSERT_TRUE(streams.back()->text.Wait("event: hello"));
    }
    EXPECT_EQ(client.Get("/events")->status, 503);
    streams.clear();

    // A flood of actions is cut short.
    int status = 0;
    for (int i = 0; i < 2000 && status != 429; ++i)
        status = client.Post("/actions", "x=1", "text/plain")->status;
    EXPECT_EQ(status, 429);

    // A taken port and addresses that cannot be served are told before the program runs.
    struct Refusal {
        std::vector<std::string> arguments;
        const char *message;
    } refusals[] = {
        {{"--serve", std::to_string(sim.port), "--", BUTTONS}, "the port is taken (--serve 0 takes a free one)"},
        {{"--serve", "--serve-address", "0.0.0.0", "--", BUTTONS}, "give the address of one interface"},
        {{"--serve-address", "::1", "--", BUTTONS}, "--serve-address goes with --serve"},
        {{"--serve", "70000", "--", BUTTONS}, "bad value for --serve: \"70000\""},
    };
    for (const Refusal &refusal : refusals) {
        Served refused(refusal.arguments);
        EXPECT_EQ(refused.Stop(0), 2) << refusal.message;
        EXPECT_NE(refused.err.Text().find(refusal.message), std::string::npos) << refused.err.Text();
    }
}

}  // namespace
