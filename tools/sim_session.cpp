#include "sim_session.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "sim/display_gif.h"
#include "sim/display_png.h"
#include "sim/gsm_modem.h"
#include "sim/gsm_services.h"
#include "sim/pty_line.h"
#include "sim/radio_power.h"
#include "sim/receiver.h"
#include "sim/shell_script.h"
#include "sim/standard_board.h"
#include "sim_output.h"
#include "sim_serve.h"

// The C++ run-time's registration of static objects' destructors.
extern "C" int __cxa_atexit(void (*destructor)(void *), void *object, void *dso);
extern "C" void *__dso_handle;
#include "sim_pictures.h"
#include "sim_pmu_names.h"
#include "sim_report.h"

namespace fs = std::filesystem;

namespace simsession {

namespace {

const char kApplicationHelp[] = "Events (in the receiver's time since the program started: 2s, 1.5s, 1500ms):\n"
                                "  --at TIME ACTION=VALUE  carry out an action at TIME, e.g. --at 2s press=record;\n"
                                "                         repeatable; those at 0 before the program starts.\n"
                                "                         An action that cannot be carried out is told on\n"
                                "                         standard error with its time and why\n"
                                "  --list-actions         list the actions, their values and what they do\n"
                                "\n"
                                "GSM modem (it answers the status, socket, call and settings commands):\n"
                                "  --gsm-sim ready|pin:NNNN|puk|absent|busy  the SIM card (default ready)\n"
                                "  --gsm-network registered|roaming|searching  registration (default registered)\n"
                                "  --gsm-operator NAME    the operator's name (default ORVANET)\n"
                                "  --gsm-signal RSSI[,BER]  signal quality, RSSI 0-31 or 99 (default 18,99)\n"
                                "  Sockets reach any host and port; the peer sends back what it gets.\n"
                                "\n"
                                "Display (a panel without supply is drawn blank; the contrast sets how dark\n"
                                "lit pixels are):\n"
                                "  --display-png FILE     save a picture of the panel to FILE at the end\n"
                                "  --display-frames DIR   save DIR/frame-0001.png, ... : one picture per change\n"
                                "                         of the panel, their receiver times in DIR/frames.txt\n"
                                "  --display-gif FILE     save the frames as an animation, each shown for its\n"
                                "                         receiver time (20 ms to 10 s)\n"
                                "\n"
                                "Report (in the receiver's time; a summary and the timeline on standard error):\n"
                                "  --report FILE          write the report with the whole timeline, every device\n"
                                "                         log and the panel to FILE (default:\n"
                                "                         SANDBOX/sim/report.txt when the sandbox is kept)\n"
                                "  --report-json FILE     the same facts as JSON, for tools\n"
                                "\n";

const char kServeHelp[] = "Live page:\n"
                          "  --serve [PORT]         serve the running receiver at http://127.0.0.1:PORT/\n"
                          "                         (default 8088; 0: any free port, told at the start):\n"
                          "                         the panel live, the push buttons, every action, the\n"
                          "                         event log, the output; the same over HTTP (POST\n"
                          "                         /actions, GET /panel.png, GET /events: man orva-sim).\n"
                          "                         When the program ends the page stays until Ctrl-C\n"
                          "  --serve-address ADDR   serve on ADDR, not 127.0.0.1 (warned: whoever reaches\n"
                          "                         it can drive the receiver and read the output)\n"
                          "\n";

const char kScenarioHelp[] = "Scenario (a YAML timeline of actions and checks; see orva-sim(1)):\n"
                             "  --scenario FILE        carry out FILE's steps while the program runs, then stop\n"
                             "                         it; exit status 0 when every check held, 1 when one\n"
                             "                         failed, 2 for a file that cannot be read\n"
                             "  --scenario-output DIR  where a failed step leaves its pictures (default .)\n"
                             "\n";

const char kReceiverHelp[] = "Receiver:\n"
                             "  --sandbox DIR          board paths live under DIR (kept); default: a temporary\n"
                             "                         directory, removed at the end\n"
                             "  --keep-sandbox         keep the temporary sandbox\n"
                             "  --time-scale X         factor on every sleep of the program (default 0.05;\n"
                             "                         1 = real time); serial time-outs are never scaled\n"
                             "  --fail-open PATH[:ERRNO]  every opening of the board path PATH fails\n"
                             "  --pmu-fail CMD         the PMU answers command CMD (e.g. 0xC2, the radio's\n"
                             "                         power-off) with its transmission-failure reply\n"
                             "\n";

const char kRadioHelp[] = "Radio (the simulated radio on its serial line):\n"
                          "  --radio-port PATH|all|none  where the radio listens\n"
                          "  --radio-speed N|any    speed of the radio's normal firmware (default 38400)\n"
                          "  --radio-silent         the radio hears everything and answers nothing\n"
                          "  --radio-model N        model byte of the model answer (default 0x07)\n"
                          "  --radio-version A.B.C  firmware version it reports (default 2.10.300)\n"
                          "  --radio-version-answer HEX  answer to the version query, as it stands\n"
                          "  --radio-escape-reply TEXT   sent once \"+++\" is accepted\n"
                          "  --radio-no-firmware    the radio sits in its bootloader from power-up\n"
                          "  --radio-ignore-poc N   the first N POC frames go unanswered\n"
                          "  --radio-pacing         every byte takes 10 bit times at the line's speed\n"
                          "  --radio-program-ms MS  programming time of each block\n"
                          "  --radio-discard        keep no copy of the received image and log blocks in summary\n"
                          "  --radio-fault FAULT:COMMAND[:WHICH[:MS]]  (repeatable)\n"
                          "      FAULT: refuse, wrong-code, short, garble, extra, bad-etx (last byte\n"
                          "             inverted), drop, delay, fail-reopen (the port's next opening\n"
                          "             fails), stop (answers nothing after this one)\n"
                          "      COMMAND: model, version, hard-reset, poc, createfile, setbaudrate,\n"
                          "               writefileblock, reset\n"
                          "      WHICH: block number (writefileblock), bit rate (setbaudrate), n-th\n"
                          "             frame (others); omitted or * for every one\n"
                          "      e.g. refuse:writefileblock:3  delay:writefileblock:2:10500\n"
                          "\n"
                          "  --help                 this text\n";

const char kRunnerIntro[] = "usage: orva-sim [sim options] -- <program> [arguments]\n"
                            "\n"
                            "Runs a program linked against liborva_api.so on a simulated receiver: the\n"
                            "program loads the simulated build of the library, which brings up the board's\n"
                            "paths in a sandbox, every device model, the GSM and Bluetooth modules and a\n"
                            "radio on their serial lines before main, and writes the report at exit (also\n"
                            "after SIGINT, SIGTERM or SIGHUP).  An argument naming a host file under a\n"
                            "path the sandbox takes over (/tmp, /mnt, ...) is mapped into the sandbox.\n"
                            "The radio listens on the receiver's internal radio line by default.\n"
                            "\n";

const char kOrvaflashIntro[] =
    "usage: orvaflash-sim [sim options] -- [orvaflash arguments]\n"
    "\n"
    "Runs orvaflash on a simulated receiver with a simulated radio, by default on\n"
    "the port the orvaflash arguments select.  An image file that exists on the\n"
    "host is mapped onto the board path orvaflash opens.\n"
    "\n"
    "Image:\n"
    "  --image-size N         generate an application image of N bytes\n"
    "  --bootloader-image     wrap it in a bootloader image (0xDE 0xAD, image at 0xC100)\n"
    "  --image-file PATH      board path of the generated file (default: the one\n"
    "                         orvaflash opens without arguments)\n"
    "  --image-seed N         seed of the generated bytes (default 1)\n"
    "  --demo                 generate a 70 KiB image and load it with the default arguments\n"
    "\n";

bool ParseNumber(const std::string &text, long long low, long long high, long long *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    long long parsed = strtoll(text.c_str(), &end, 0);
    if (errno || *end || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool ParseHex(const std::string &text, std::vector<unsigned char> *bytes)
{
    std::string digits;
    for (char c : text)
        if (isxdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (c != ' ' && c != ':' && c != ',')
            return false;
    if (digits.size() % 2)
        return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes->push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

struct BadOption {
    std::string message;
};

// Parses one option at arguments[i], advancing i past its value.
void ParseOne(Tool tool, const std::vector<std::string> &arguments, size_t &i, Options &options)
{
    const std::string &arg = arguments[i];
    // A value that is the next option is a value forgotten (the radio's
    // escape reply may be any text).
    auto value = [&]() -> std::string {
        bool anyText = arg == "--radio-escape-reply";
        if (i + 1 >= arguments.size() ||
            ((arguments[i + 1].empty() || arguments[i + 1].compare(0, 2, "--") == 0) && !anyText))
            throw BadOption{arg + " needs a value"};
        return arguments[++i];
    };
    auto number = [&](long long low, long long high) {
        long long parsed;
        std::string text = value();
        if (!ParseNumber(text, low, high, &parsed))
            throw BadOption{"bad value for " + arg + ": \"" + text + "\""};
        return parsed;
    };
    bool loaderOnly = arg == "--image-size" || arg == "--bootloader-image" || arg == "--image-file" ||
                      arg == "--image-seed" || arg == "--demo";
    if (loaderOnly && tool != Tool::Orvaflash)
        throw BadOption{arg + " belongs to orvaflash-sim; here, pass a host file as an argument"};
    if ((arg == "--scenario" || arg == "--scenario-output") && tool != Tool::Runner)
        throw BadOption{arg + " belongs to orva-sim"};
    if (arg == "--at") {
        if (i + 2 >= arguments.size())
            throw BadOption{"--at needs a time and an action, e.g. --at 2s press=record"};
        const std::string &when = arguments[++i];
        const std::string &what = arguments[++i];
        ReceiverMs ms;
        Action action;
        std::string error;
        if (!ParseReceiverTime(when, &ms))
            throw BadOption{"bad time \"" + when + "\" for --at: give it as 2s, 1.5s or 1500ms"};
        if (!Parse(what, &action, &error))
            throw BadOption{"--at " + when + ": " + error};
        options.actions.emplace_back(ms, action);
    } else if (arg == "--scenario") {
        auto scenario = std::make_shared<Scenario>();
        std::string error;
        if (!LoadScenario(value(), scenario.get(), &error))
            throw BadOption{error};
        options.scenario = scenario;
    } else if (arg == "--scenario-output") {
        options.scenarioOutput = value();
    } else if (arg == "--list-actions") {
        options.listActions = true;
    } else if (arg == "--serve") {
        if (tool != Tool::Runner)
            throw BadOption{"--serve belongs to orva-sim"};
        if (!ServeSupported())
            throw BadOption{"--serve: this build has no live page (cpp-httplib was not found when it was configured)"};
        options.serve = true;
        // The port is optional: the next argument is one only when it is a number.
        if (i + 1 < arguments.size() && !arguments[i + 1].empty() &&
            arguments[i + 1].find_first_not_of("0123456789") == std::string::npos)
            options.servePort = static_cast<int>(number(0, 65535));
    } else if (arg == "--serve-address") {
        options.serveAddress = value();
        in_addr v4;
        in6_addr v6;
        const char *address = options.serveAddress.c_str();
        bool wildcard;
        if (inet_pton(AF_INET, address, &v4) == 1)
            wildcard = v4.s_addr == htonl(INADDR_ANY);
        else if (inet_pton(AF_INET6, address, &v6) == 1)
            wildcard = IN6_IS_ADDR_UNSPECIFIED(&v6);
        else
            throw BadOption{"--serve-address: \"" + options.serveAddress + "\" is not an IPv4 or IPv6 address"};
        if (wildcard)
            throw BadOption{"--serve-address: give the address of one interface, not " + options.serveAddress +
                            ": requests must name the address they reach"};
    } else if (arg == "--gsm-sim" || arg == "--gsm-network" || arg == "--gsm-operator" || arg == "--gsm-signal") {
        Action action;
        std::string error;
        if (!Parse(arg.substr(2) + "=" + value(), &action, &error))
            throw BadOption{arg + ": " + error};
        options.actions.emplace_back(0, action);
    } else if (arg == "--sandbox") {
        options.sandbox = value();
    } else if (arg == "--keep-sandbox") {
        options.keepSandbox = true;
    } else if (arg == "--report") {
        options.reportPath = value();
    } else if (arg == "--report-json") {
        options.reportJson = value();
    } else if (arg == "--time-scale") {
        std::string text = value();
        char *end = nullptr;
        options.timeScale = strtod(text.c_str(), &end);
        if (text.empty() || *end || !(options.timeScale >= 0) || options.timeScale > 100)
            throw BadOption{"bad time scale \"" + text + "\""};
    } else if (arg == "--fail-open") {
        std::string text = value();
        int error = EIO;
        size_t colon = text.rfind(':');
        if (colon != std::string::npos) {
            long long parsed;
            if (!ParseNumber(text.substr(colon + 1), 1, 4095, &parsed))
                throw BadOption{"bad errno in \"" + text + "\""};
            error = static_cast<int>(parsed);
            text.resize(colon);
        }
        if (text.empty() || text[0] != '/')
            throw BadOption{"--fail-open: \"" + text + "\" is no board path (they start with /)"};
        options.failOpen.emplace_back(text, error);
    } else if (arg == "--pmu-fail") {
        std::string text = value();
        long long code;
        if (!ParseNumber(text, 0, 255, &code) || !FindPmuCommand(static_cast<int>(code)))
            throw BadOption{"--pmu-fail: \"" + text + "\" is no PMU command; they are " + PmuCommandCodes()};
        options.pmuFailures.push_back(static_cast<uint8_t>(code));
    } else if (arg == "--display-png" || arg == "--display-frames") {
        (arg == "--display-png" ? options.displayPng : options.displayFrames) = value();
        if (!sim::DisplayPngSupported())
            throw BadOption{arg + ": this build has no PNG support (libpng was not found when it was configured)"};
    } else if (arg == "--display-gif") {
        options.displayGif = value();
        if (!sim::DisplayGifSupported())
            throw BadOption{arg + ": this build has no GIF support (giflib was not found when it was configured)"};
    } else if (arg == "--image-size") {
        options.imageSize = number(0, 1LL << 32);
    } else if (arg == "--bootloader-image") {
        options.bootloaderImage = true;
    } else if (arg == "--image-file") {
        options.imageFile = value();
        if (options.imageFile[0] != '/')
            throw BadOption{"--image-file: \"" + options.imageFile + "\" is no board path (they start with /)"};
    } else if (arg == "--image-seed") {
        options.imageSeed = static_cast<unsigned long>(number(0, 0xFFFFFFFFLL));
    } else if (arg == "--demo") {
        options.demo = true;
    } else if (simbridges::IsOption(arg)) {
        if (tool != Tool::Runner)
            throw BadOption{arg + " belongs to orva-sim: orvaflash speaks to neither the modem nor Bluetooth"};
        std::string text = value(), error;
        if (!simbridges::Parse(arg, text, &options.bridges, &error))
            throw BadOption{error};
    } else if (arg == "--radio-port") {
        options.radioPort = value();
    } else if (arg == "--radio-speed") {
        std::string text = value();
        long long rate = 0;
        if (text != "any" && !ParseNumber(text, 1, 4000000, &rate))
            throw BadOption{"bad radio speed \"" + text + "\""};
        options.radio.firmwareBitRate = static_cast<unsigned>(rate);
    } else if (arg == "--radio-silent") {
        options.radio.silent = true;
    } else if (arg == "--radio-model") {
        options.radio.model = static_cast<unsigned char>(number(0, 255));
    } else if (arg == "--radio-version") {
        std::string text = value();
        unsigned major, minor, build;
        char tail;
        if (sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &build, &tail) != 3 || major > 0xFFFF ||
            minor > 0xFFFF || build > 0xFFFF)
            throw BadOption{"bad radio version \"" + text + "\""};
        options.radio.versionMajor = static_cast<unsigned short>(major);
        options.radio.versionMinor = static_cast<unsigned short>(minor);
        options.radio.versionBuild = static_cast<unsigned short>(build);
    } else if (arg == "--radio-version-answer") {
        std::string text = value();
        if (!ParseHex(text, &options.radio.versionAnswer))
            throw BadOption{"bad hex bytes \"" + text + "\""};
    } else if (arg == "--radio-escape-reply") {
        options.radio.escapeReply = value();
    } else if (arg == "--radio-no-firmware") {
        options.radio.startInBootloader = true;
    } else if (arg == "--radio-ignore-poc") {
        options.radio.ignoredPocFrames = static_cast<unsigned>(number(0, 1000000));
    } else if (arg == "--radio-pacing") {
        options.radio.pacing = true;
    } else if (arg == "--radio-program-ms") {
        options.radio.programMsPerBlock = static_cast<unsigned>(number(0, 3600000));
    } else if (arg == "--radio-discard") {
        options.radio.keepImage = false;
        options.radio.logEveryBlock = false;
    } else if (arg == "--radio-fault") {
        sim::RadioRule rule;
        std::string error;
        if (!sim::ParseRadioRule(value(), &rule, &error))
            throw BadOption{error};
        options.radio.rules.push_back(rule);
    } else {
        throw BadOption{"unknown option \"" + arg + "\" (see --help)"};
    }
}

// What the live page's server reaches of the session.
class SessionHost : public ServeHost {
public:
    // The table is copied now: Actions()'s own copy, made at its first use,
    // may be destroyed by the program's exit while the page stays.
    explicit SessionHost(Timeline &timeline) : m_timeline(timeline), m_actions(Actions()) {}
    void SetControl(Control &control) { m_control = &control; }

    ReceiverMs Now() const override { return m_timeline.Now(); }
    double TimeScale() const override { return m_timeline.TimeScale(); }
    int AddListener(TimelineListener listener, bool replay) override
    {
        return m_timeline.AddListener(std::move(listener), replay);
    }
    void RemoveListener(int id) override { m_timeline.RemoveListener(id); }
    void Flush() override { m_timeline.Flush(); }
    bool LastFrame(PanelFrame *frame) const override { return m_timeline.LastFrame(frame); }
    std::vector<ActionInfo> ActionTable() const override { return m_actions; }
    bool Perform(const std::string &text, Outcome *outcome, std::string *error) override
    {
        Action action;
        if (!Parse(text, &action, error))
            return false;
        *outcome = m_control->Perform(action);
        return true;
    }
    bool PanelPng(const PanelFrame &frame, std::vector<uint8_t> *png, std::string *error) const override
    {
        sim::PanelRam ram;
        std::copy(frame.ram.begin(), frame.ram.end(), ram.begin());
        return sim::EncodePanelPng(ram, LookOf(frame), png, error);
    }

private:
    Timeline &m_timeline;
    const std::vector<ActionInfo> m_actions;
    Control *m_control = nullptr;
};

struct Session {
    Options options;
    Setup setup;
    pid_t owner = 0;
    std::unique_ptr<Timeline> timeline;
    std::unique_ptr<sim::Receiver> receiver;
    std::unique_ptr<sim::StandardBoard> board;
    std::unique_ptr<sim::GsmServices> gsm;
    std::unique_ptr<Control> control;
    std::unique_ptr<sim::ShellScript> shell;
    OutputTee output;
    std::vector<std::unique_ptr<sim::PtyLine>> lines;
    std::vector<std::unique_ptr<sim::RadioPeer>> radios;
    std::shared_ptr<FrameRecorder> frames;
    std::unique_ptr<SessionHost> serveHost;
    std::unique_ptr<LiveServer> server;
    std::unique_ptr<PictureWriter> pictures;
    std::vector<std::string> mapped;  // report lines of the host files
    bool everyImageVerified = true;
    // The modem heard the GSM start-up's first command; the start-up's
    // switching off the supply after it says whether it gave up.
    std::atomic<bool> gsmStartupHeard{false};
    std::atomic<bool> gsmAdviceGiven{false};
    std::unique_ptr<ScenarioRunner> scenario;
};

// Never destroyed: API tasks of a program that ended with exit() may still
// reach the board while the process goes down.
Session *g_session = nullptr;
std::mutex g_finishMutex;
bool g_finished = false;
int g_signalPipe[2] = {-1, -1};
// The program reached its end (exit, or main returned): a stopping signal
// then ends the page's serving, not the process.
std::atomic<bool> g_programEnded{false};
std::mutex g_servingMutex;
std::condition_variable g_servingChanged;
bool g_serving = false;
// How the program ended: its exit status, or 128 + the stopping signal; -1
// before.
std::atomic<int> g_endStatus{-1};
std::atomic<bool> g_endSignalled{false};

std::string PortName(const std::string &boardPath) { return fs::path(boardPath).filename().string(); }

void MapHostFiles(Session &session)
{
    sim::Receiver &receiver = *session.receiver;
    for (const std::string &path : session.setup.hostFiles) {
        std::string inside = receiver.HostPath(path);
        struct stat status;
        if (path.empty() || path[0] != '/' || inside == path || stat(path.c_str(), &status) != 0 ||
            !S_ISREG(status.st_mode) || receiver.FileExists(path))
            continue;
        std::error_code failed;
        fs::create_directories(fs::path(inside).parent_path(), failed);
        fs::create_symlink(path, inside, failed);
        if (failed)
            throw std::runtime_error("cannot map the host file " + path + " into the sandbox: " + failed.message());
        std::string line = "host file " + path;
        line.append(" mapped to board path ").append(path).append(" (").append(inside).append(")");
        session.mapped.push_back(line);
    }
}

std::string RadioPort(const Options &options, const Setup &setup)
{
    return options.radioPort.empty() ? setup.defaultRadioPort : options.radioPort;
}

// What the options ask that this run cannot give, found before the sandbox
// exists; empty when nothing.
std::string Refusal(const Options &options, const Setup &setup)
{
    std::string radioPort = RadioPort(options, setup);
    bool known = radioPort == "all" || radioPort == "none";
    std::string lines;
    for (const std::string &port : setup.radioLines) {
        known = known || radioPort == port;
        lines += (lines.empty() ? "" : ", ") + port;
    }
    if (!known)
        return "no radio line at \"" + radioPort + "\"; the lines are " + lines;
    // Files written at the end can be written: found now, not after the run.
    for (const std::string *path : {&options.reportPath, &options.reportJson, &options.displayGif}) {
        FILE *file = path->empty() ? nullptr : fopen(path->c_str(), "ae");
        if (!path->empty() && !file)
            return "cannot write " + *path + ": " + std::generic_category().message(errno);
        if (file)
            fclose(file);
    }
    std::string error;
    // The panel is blank at power-up: its picture stands until the end.
    if (!options.displayPng.empty() && !sim::WritePanelPng(sim::PanelRam{}, options.displayPng, &error))
        return error;
    if (options.scenario) {
        std::error_code failed;
        fs::create_directories(options.scenarioOutput, failed);
        if (failed || access(options.scenarioOutput.c_str(), W_OK) != 0)
            return "cannot write the scenario's pictures into " + options.scenarioOutput;
    }
    if (!options.displayFrames.empty()) {
        std::error_code failed;
        fs::create_directories(options.displayFrames, failed);
        if (failed || access(options.displayFrames.c_str(), W_OK) != 0)
            return "cannot write frames into " + options.displayFrames;
    }
    return "";
}

void StartRadios(Session &session)
{
    sim::Receiver &receiver = *session.receiver;
    const Setup &setup = session.setup;
    std::string radioPort = RadioPort(session.options, setup);
    for (const std::string &port : setup.radioLines)
        session.lines.push_back(std::make_unique<sim::PtyLine>(receiver, port));
    for (auto &line : session.lines) {
        if (radioPort != "all" && radioPort != line->BoardPath())
            continue;
        sim::RadioOptions radioOptions = session.options.radio;
        bool internal = line->BoardPath() == setup.internalRadioPort;
        if (internal) {
            std::shared_ptr<sim::GpioDriver> gpio = session.board->gpio;
            radioOptions.lineReady = [gpio] { return gpio->SerialMode() == 0; };
        }
        session.radios.push_back(std::make_unique<sim::RadioPeer>(receiver, *line, radioOptions));
        sim::RadioPeer *radio = session.radios.back().get();
        if (internal) {
            // The internal radio's supply comes from the PMU.
            receiver.AddDevice("/dev/pmu", std::make_shared<sim::RadioPowerLink>(
                                               session.board->pmu, [radio](bool on) { radio->SetPowered(on); }));
        }
        radio->Start();
        if (internal && !session.board->pmu->State().uhfPower)
            radio->SetPowered(false);
    }
}

// --fail-open names a path the program opens: a device model's, one of the
// tool's (its interface table, its radio lines, its files), or the API's own
// configuration and lock files.
void CheckFailOpen(Session &session)
{
    const Setup &setup = session.setup;
    std::set<std::string> known = {"/etc/ts9_api.cfg", "/var/ts9.pid"};
    for (const auto *paths : {&setup.boardPaths, &setup.radioLines, &setup.hostFiles})
        known.insert(paths->begin(), paths->end());
    if (!session.options.imageFile.empty())
        known.insert(session.options.imageFile);
    for (const std::string &path : session.receiver->DevicePaths())
        known.insert(path);
    for (const auto &fault : session.options.failOpen) {
        if (known.count(fault.first))
            continue;
        std::string list;
        for (const std::string &path : known)
            list += (list.empty() ? "" : ", ") + path;
        throw std::runtime_error("--fail-open: the program opens nothing at \"" + fault.first +
                                 "\"; the board's paths are " + list);
    }
}

// A temporary sandbox lives in memory where the host offers it (unless
// TMPDIR says otherwise): making and removing its directories and device
// files on a disk took longer than everything else the start does.
std::string TemporarySandbox()
{
    const char *tmp = getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string pattern = base + "/orva-sim-XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : std::string();
}

// The data partition's checks as the system image's scripts answer them:
// the internal partition and the local mount are always there, the USB one
// while a disk is on the host port.
void PlayPartitionChecks(Session &session)
{
    sim::Receiver &receiver = *session.receiver;
    session.shell = std::make_unique<sim::ShellScript>(receiver);
    const std::string bin = "/usr/local/bin/";
    const struct {
        const char *script, *result;
        bool usb;
    } kChecks[] = {{"data_mounted_script1.sh", "mountDataResult1.txt", false},
                   {"usb_data_mounted_script1.sh", "mountDataResult1.txt", true},
                   {"data_mounted_script.sh", "mountDataResult.txt", false}};
    for (const auto &check : kChecks) {
        receiver.CreateFile(bin + check.script, "#!/bin/sh\n");
        std::string result = bin + check.result;
        bool usb = check.usb;
        std::string command = bin + check.script;
        command.append(" > ").append(result);
        session.shell->When(command).Does([&receiver, result, usb] {
            receiver.CreateFile(result, !usb || receiver.FileExists("/dev/sda1") ? "1" : "0");
        });
    }
}

// Tells, once, what the program missed: on standard error and on the timeline.
void Advise(Session &session, const std::string &advice)
{
    if (session.gsmAdviceGiven.exchange(true))
        return;
    Say(session.setup.tool + std::string(": ") + advice);
    session.timeline->Publish(session.setup.tool, advice);
}

// Every device log on the timeline, the PMU's requests told by name, a beep
// as its own event, the panel's supply to the frames, and the GSM start-up
// watched for a task that is not there.
void FeedTimeline(Session &session)
{
    Timeline &timeline = *session.timeline;
    // The log's first word is the source: "bluetooth", not "bluetooth /dev/ttyS3".
    auto feed = [&timeline](const std::string &name, const std::string &line) {
        timeline.Publish(name.substr(0, name.find(' ')), line);
    };
    sim::StandardBoard &board = *session.board;
    for (sim::EventLog *log : {&board.gpio->Log(), &board.extender->Log(), &board.watchdog->Log(),
                               &board.display->Log(), &board.bluetooth->Log()})
        log->SetObserver(feed);
    for (auto &radio : session.radios)
        radio->Log().SetObserver(feed);
    // The start-up's first command, whose answer comes through the GSM task;
    // its second follows only once a task passed that answer on.
    board.gsm->Log().SetObserver([feed, &session](const std::string &name, const std::string &line) {
        if (line == "host: ATE0" || line == "host: AT&F0")
            session.gsmStartupHeard = line == "host: ATE0";
        feed(name, line);
    });
    board.pmu->SetRequestObserver([&session](const sim::Pmu::Request &request) {
        std::string description = DescribePmuRequest(request);
        ReceiverMs now = session.timeline->Now();
        session.timeline->Publish("pmu", description, now);
        uint8_t command = request.bytes[1];
        // A start-up that gave up switches the modem off.
        if (command == 0xA5 && session.gsmStartupHeard.exchange(false) && session.setup.gsmTaskMissing &&
            session.setup.gsmTaskMissing())
            Advise(session, "GSM start-up ran before its task was created: call API_SYS_CreateTask(1, priority) first");
        if (command == 0xF3 && request.carriedOut)
            session.timeline->Publish("buzzer", description, now);
        if ((command == 0xE3 || command == 0xE2) && request.carriedOut)
            session.frames->Supply(request.state.displayPower);
    });
}

// The scenario's runner, listening before anything happens; it starts once
// the session can end the program.
void ListenForScenario(Session &session)
{
    std::string tool = session.setup.tool;
    ScenarioHooks hooks{*session.timeline, *session.control, session.options.scenarioOutput,
                        [tool](const std::string &line) { Say(tool + ": " + line); }, [] { kill(getpid(), SIGTERM); },
                        // NOLINTNEXTLINE(concurrency-mt-unsafe): the last resort; Finish runs once
                        [] { exit(1); },
                        [] {
                            ProgramEnd end;
                            int status = g_endStatus;
                            end.known = status >= 0;
                            end.status = status;
                            end.signalled = g_endSignalled;
                            return end;
                        }};
    session.scenario = std::make_unique<ScenarioRunner>(*session.options.scenario, std::move(hooks));
}

#ifdef __GLIBC__
void FinishAtExit();

// The status the program gave exit() or returned from main, then its end.
void RecordExitStatus(int status, void *)
{
    int unknown = -1;
    g_endStatus.compare_exchange_strong(unknown, status & 0xFF);
    FinishAtExit();
}
#endif

// The actions at 0 before the program starts; the others at their time.
void ScheduleActions(Session &session)
{
    std::string tool = session.setup.tool;
    auto told = [tool](const Outcome &outcome, ReceiverMs ms) {
        if (!outcome.done)
            Say(tool + ": " + std::to_string(ms) + " ms: " + outcome.Line());
    };
    for (const auto &timed : session.options.actions) {
        if (timed.first <= 0)
            told(session.control->Perform(timed.second), 0);
        else
            session.control->PerformAt(timed.first, timed.second,
                                       [told, ms = timed.first](const Outcome &outcome) { told(outcome, ms); });
    }
}

void SignalHandler(int signal)
{
    unsigned char number = static_cast<unsigned char>(signal);
    ssize_t ignored = write(g_signalPipe[1], &number, 1);
    (void)ignored;
}

// Interrupting signals that would end the process silently end it after the
// report: a receiver application usually runs until it is stopped.
void WatchInterrupts()
{
    const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
    // pipe() and fcntl(): the receiver's kernel predates pipe2().
    if (pipe(g_signalPipe) != 0)
        return;
    fcntl(g_signalPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(g_signalPipe[1], F_SETFD, FD_CLOEXEC);
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    std::thread([] {
        unsigned char number;
        while (read(g_signalPipe[0], &number, 1) != 1) {
        }
        if (g_programEnded && !ServingUrl().empty()) {
            StopServing();
            return;
        }
        int unknown = -1;
        if (g_endStatus.compare_exchange_strong(unknown, 128 + number))
            g_endSignalled = true;
        Finish();
        signal(number, SIG_DFL);
        kill(getpid(), number);
    }).detach();
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    for (int number : kSignals) {
        struct sigaction current;
        if (sigaction(number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = SignalHandler;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
    }
}

// The device logs, each line at its receiver time.
std::vector<ReportFacts::Log> DeviceLogs(Session &session)
{
    std::vector<sim::EventLog *> logs;
    for (auto &radio : session.radios)
        logs.push_back(&radio->Log());
    sim::StandardBoard &board = *session.board;
    for (sim::EventLog *log : {&board.pmu->Log(), &board.gpio->Log(), &board.extender->Log(), &board.watchdog->Log(),
                               &board.display->Log(), &board.bluetooth->Log(), &board.gsm->Log()})
        logs.push_back(log);
    for (sim::EventLog *log : simbridges::Logs())
        logs.push_back(log);
    std::vector<ReportFacts::Log> timed;
    for (sim::EventLog *log : logs) {
        timed.push_back({log->Name(), {}});
        for (const auto &line : log->TimedLines())
            timed.back().lines.emplace_back(std::max<ReceiverMs>(0, session.timeline->At(line.first)), line.second);
    }
    return timed;
}

bool WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::trunc);
    out << text;
    out.close();
    return !out.fail();
}

void FinishLocked(Session &session)
{
    fflush(stdout);
    if (session.server)
        session.server->Ending();
    const std::string tool = session.setup.tool;
    ReceiverMs ended = session.timeline->Now();
    for (const auto &pending : session.control->Stop())
        Say(tool + ": " + std::to_string(pending.first) + " ms: " + pending.second.Text() +
            " not carried out: the program ended at " + std::to_string(ended) + " ms");
    session.output.Stop();
    session.frames->End();
    session.timeline->End(ended);
    for (auto &radio : session.radios)
        radio->Stop();
    // Every frame saved and the animation complete.
    session.timeline->Flush();

    const Options &options = session.options;
    sim::Receiver &receiver = *session.receiver;
    bool sandboxKept = !options.sandbox.empty() || options.keepSandbox;
    std::string reportPath = options.reportPath;
    if (reportPath.empty() && sandboxKept)
        reportPath = receiver.Root() + "/sim/report.txt";

    ReportFacts facts;
    facts.tool = tool;
    facts.program = options.programArguments;
    facts.timeScale = session.timeline->TimeScale();
    facts.endMs = ended;
    std::vector<std::string> &report = facts.summary;
    report = session.mapped;
    bool several = session.radios.size() > 1;
    for (auto &radio : session.radios) {
        std::string port = radio->Log().Name().substr(6);
        if (receiver.OpenCount(port) == 0)
            continue;  // a program that never spoke to the radio
        std::string prefix = several ? "radio " + port + ": " : "radio: ";
        sim::RadioReport radioReport = radio->Report();
        session.everyImageVerified = session.everyImageVerified && radioReport.verified;
        for (const std::string &line : radioReport.Lines())
            report.push_back(prefix + line);
        if (radioReport.verified) {
            char length[64];
            snprintf(length, sizeof length, "image length %lu", radioReport.imageLength);
            report.push_back(prefix + length);
        }
    }
    for (const std::string &port : session.setup.radioLines) {
        int opens = receiver.OpenCount(port);
        if (opens)
            report.push_back("port " + port + ": opened " + std::to_string(opens) + " times");
    }
    // What the run left open through the board: after a clean shut-down, nothing.
    std::string open;
    for (const auto &descriptor : receiver.OpenDescriptors()) {
        facts.openDescriptors.push_back(descriptor.second + " (fd " + std::to_string(descriptor.first) + ")");
        open += (open.empty() ? "" : ", ") + facts.openDescriptors.back();
    }
    report.push_back("open descriptors: " + (open.empty() ? std::string("none") : open));
    std::vector<timespec> sleeps = receiver.Sleeps();
    for (const timespec &sleep : sleeps)
        facts.sleptMs += static_cast<double>(sleep.tv_sec) * 1000 + sleep.tv_nsec / 1e6;
    facts.sleeps = sleeps.size();
    char sleepLine[120];
    snprintf(sleepLine, sizeof sleepLine, "sleeps: %zu requested, %.3f ms in the receiver's time", facts.sleeps,
             facts.sleptMs);
    report.push_back(sleepLine);

    sim::StandardBoard &board = *session.board;
    facts.panel = board.display->Ram();
    facts.look.shown = board.pmu->State().displayPower;
    facts.look.contrast = board.display->Contrast();
    bool pictures = !options.displayPng.empty() || !options.displayFrames.empty() || !options.displayGif.empty();
    if (pictures || receiver.OpenCount("/dev/display") > 0)
        report.push_back(PanelLine(facts.look));
    std::string error;
    if (!options.displayPng.empty()) {
        if (sim::WritePanelPng(facts.panel, facts.look, options.displayPng, &error))
            report.push_back("display: picture " + options.displayPng);
        else
            report.push_back("display: " + error);
    }
    for (const std::string &line : session.pictures->Lines())
        report.push_back(line);
    report.push_back("program ended at " + std::to_string(ended) + " ms of the receiver's time");
    facts.events = session.timeline->Events();
    facts.output = session.timeline->Output();
    facts.frames = session.pictures->Frames();

    for (const std::string &line : BriefReport(facts))
        fprintf(stderr, "sim: %s\n", line.c_str());

    if (sandboxKept) {
        for (auto &radio : session.radios) {
            std::vector<unsigned char> blocks = radio->ReceivedBlocks();
            std::string name = radio->Log().Name().substr(6);
            std::ofstream out(receiver.Root() + "/sim/radio-" + PortName(name) + ".bin", std::ios::binary);
            out.write(reinterpret_cast<const char *>(blocks.data()), static_cast<std::streamsize>(blocks.size()));
        }
    }
    if (!reportPath.empty() || !options.reportJson.empty())
        facts.logs = DeviceLogs(session);
    for (const auto &file :
         {std::make_pair(reportPath, &ReportText), std::make_pair(options.reportJson, &ReportJson)}) {
        if (file.first.empty())
            continue;
        if (WriteFile(file.first, file.second(facts)))
            fprintf(stderr, "sim: report: %s\n", file.first.c_str());
        else
            fprintf(stderr, "sim: cannot write the report %s\n", file.first.c_str());
    }
    if (!sandboxKept) {
        std::error_code ignored;
        fs::remove_all(receiver.Root(), ignored);
    } else {
        fprintf(stderr, "sim: sandbox: %s\n", receiver.Root().c_str());
    }
    fflush(stderr);
    session.timeline->Flush();
    if (session.server)
        session.server->Ended(report);
}

// The program has ended: the page stays, with the last screen and the
// report, until a stopping signal.
void StayServing(Session &session)
{
    Say(session.setup.tool + std::string(": the program ended; the page stays at ") + session.server->Url() +
        " until Ctrl-C");
    if (g_signalPipe[1] >= 0) {
        // The program's own handlers have nobody to tell any more.
        sigset_t stopping;
        sigemptyset(&stopping);
        for (int number : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction action {};
            action.sa_handler = SignalHandler;
            sigemptyset(&action.sa_mask);
            sigaction(number, &action, nullptr);
            sigaddset(&stopping, number);
        }
        pthread_sigmask(SIG_UNBLOCK, &stopping, nullptr);
    }
    std::unique_lock<std::mutex> lock(g_servingMutex);
    g_servingChanged.wait(lock, [] { return !g_serving; });
}

// The program's end (exit, or main returned): the report, then the page
// while it is wanted.  exit runs its handlers and the destructors of static
// objects in the reverse order of their making: what was made after this
// was registered is gone by now, the program's objects and the first-use
// statics of any library; what the page uses was made before.
void FinishAtExit()
{
    g_programEnded = true;
    Finish();
    if (!g_session || g_session->owner != getpid() || !g_session->server)
        return;
    if (!ServingUrl().empty())
        StayServing(*g_session);
    g_session->server->Stop();
}

}  // namespace

std::string HelpText(Tool tool)
{
    std::string text = tool == Tool::Runner ? kRunnerIntro : kOrvaflashIntro;
    text += kApplicationHelp;
    if (tool == Tool::Orvaflash)
        return text + kReceiverHelp + kRadioHelp;
    std::string serve = kServeHelp;
    if (!ServeSupported())
        serve.insert(serve.find('\n'), " (not in this build: cpp-httplib was missing)");
    return text + simbridges::kHelp + serve + kScenarioHelp + kReceiverHelp + kRadioHelp;
}

bool ParseOptions(Tool tool, const std::vector<std::string> &arguments, Options *options, std::string *error,
                  bool *help)
{
    Options parsed;
    if (help)
        *help = false;
    try {
        size_t i = 1;
        for (; i < arguments.size() && arguments[i] != "--"; ++i) {
            if (arguments[i] == "--help" || arguments[i] == "-h") {
                if (help)
                    *help = true;
                return true;
            }
            size_t first = i;
            ParseOne(tool, arguments, i, parsed);
            parsed.simArguments.insert(parsed.simArguments.end(), arguments.begin() + static_cast<long>(first),
                                       arguments.begin() + static_cast<long>(i) + 1);
        }
        if (i < arguments.size())
            parsed.programArguments.assign(arguments.begin() + static_cast<long>(i) + 1, arguments.end());
        if (parsed.serveAddress != Options().serveAddress && !parsed.serve)
            throw BadOption{"--serve-address goes with --serve"};
        if (parsed.demo && !parsed.programArguments.empty())
            throw BadOption{"--demo runs with the default orvaflash arguments; give none"};
    } catch (const BadOption &bad) {
        *error = bad.message;
        return false;
    }
    *options = std::move(parsed);
    return true;
}

Options ParseOrExit(Tool tool, const char *name, int argc, char **argv)
{
    Options options;
    std::string error;
    bool help = false;
    if (!ParseOptions(tool, std::vector<std::string>(argv, argv + argc), &options, &error, &help))
        Fail(name, error);
    if (help || options.listActions) {
        fputs(help ? HelpText(tool).c_str() : ActionListing().c_str(), stdout);
        exit(0);  // NOLINT(concurrency-mt-unsafe): before any thread starts
    }
    return options;
}

void Fail(const char *tool, const std::string &message)
{
    fprintf(stderr, "%s: %s\n", tool, message.c_str());
    // Called only from the main thread while a tool sets up; exit, not _exit,
    // so that the handlers tidy up what the set-up made.
    exit(2);  // NOLINT(concurrency-mt-unsafe)
}

void Start(const Options &options, const Setup &setup)
{
    std::string refusal = Refusal(options, setup);
    if (!refusal.empty())
        Fail(setup.tool, refusal);
    g_session = new Session;
    Session &session = *g_session;
    session.options = options;
    session.setup = setup;
    session.owner = getpid();
    // Receiver time starts here.
    session.timeline = std::make_unique<Timeline>(options.timeScale);
    // The port first: a port taken stops the run before the sandbox is made.
    if (options.serve) {
        session.serveHost = std::make_unique<SessionHost>(*session.timeline);
        std::string error;
        session.server = LoadLiveServer(*session.serveHost, &error);
        if (!session.server || !session.server->Bind(options.serveAddress, options.servePort, &error))
            Fail(setup.tool, error);
        if (options.serveAddress != "127.0.0.1")
            Say(setup.tool + std::string(": warning: serving on ") + options.serveAddress +
                ", not on the loopback: whoever reaches it can drive the receiver and read the program's output");
    }

    sim::ReceiverOptions receiverOptions;
    receiverOptions.sandbox = options.sandbox.empty() ? TemporarySandbox() : options.sandbox;
    receiverOptions.keepSandbox = true;  // removed by Finish unless asked to keep
    receiverOptions.timeScale = options.timeScale;
    try {
        session.receiver = std::make_unique<sim::Receiver>(receiverOptions);
        session.board = std::make_unique<sim::StandardBoard>(*session.receiver);
        fs::create_directories(session.receiver->Root() + "/sim");
        StartRadios(session);
        MapHostFiles(session);
        PlayPartitionChecks(session);
        CheckFailOpen(session);
        // Sockets reach any host, each peer sending back what it gets, save
        // those the bridges take to real peers.
        sim::GsmServicesOptions gsmOptions;
        gsmOptions.anyPeer = true;
        session.gsm = std::make_unique<sim::GsmServices>(*session.board->gsm, gsmOptions);
        simbridges::Attach(*session.board, options.bridges, *session.gsm);
    } catch (const std::exception &error) {
        if (options.sandbox.empty() && !options.keepSandbox) {
            std::error_code ignored;
            fs::remove_all(receiverOptions.sandbox, ignored);
        }
        Fail(setup.tool, error.what());
    }
    sim::Receiver &receiver = *session.receiver;
    for (const auto &fault : options.failOpen)
        receiver.FailOpen(fault.first, fault.second);
    for (uint8_t command : options.pmuFailures)
        session.board->pmu->FailCommand(command);
    session.frames = std::make_shared<FrameRecorder>(session.board->display, *session.timeline);
    receiver.AddDevice("/dev/display", session.frames);
    session.pictures = std::make_unique<PictureWriter>(options.displayFrames, options.displayGif);
    std::string error;
    if (!session.pictures->Start(*session.timeline, &error))
        Fail(setup.tool, error);
    session.control = std::make_unique<Control>(BenchParts{*session.board, *session.gsm, *session.timeline});
    FeedTimeline(session);
    if (options.scenario)
        ListenForScenario(session);
    ScheduleActions(session);
    if (session.server) {
        std::string program = options.programArguments.empty() ? setup.tool : options.programArguments[0];
        session.serveHost->SetControl(*session.control);
        session.server->Start(fs::path(program).filename().string());
        {
            std::lock_guard<std::mutex> lock(g_servingMutex);
            g_serving = true;
        }
        Say(setup.tool + std::string(": serving ") + session.server->Url());
    }
    if (setup.captureOutput)
        session.output.Start(*session.timeline);
    WatchInterrupts();
    // With the page, registered as a static object's destructor is, not with
    // atexit: under ThreadSanitizer, whose atexit orders its handlers after
    // the destructors of other libraries' statics, the page would stay with
    // the HTTP library's first-use objects gone.  That handler runs with this
    // library's destructors, before any handler registered now, so a
    // scenario under the page does not learn the program's exit status.
    if (session.server)
        __cxa_atexit([](void *) { FinishAtExit(); }, nullptr, &__dso_handle);
#ifdef __GLIBC__
    on_exit(RecordExitStatus, nullptr);
#else
    atexit(FinishAtExit);
#endif
    if (session.scenario)
        session.scenario->Start();
}

void Finish()
{
    std::lock_guard<std::mutex> lock(g_finishMutex);
    // A child forked by the program shares the session but does not own it.
    if (!g_session || g_finished || g_session->owner != getpid())
        return;
    g_finished = true;
    FinishLocked(*g_session);
    if (g_session->scenario) {
        // The run's status is the scenario's.
        int verdict = g_session->scenario->Verdict();
        fflush(nullptr);
        _exit(verdict);
    }
}

std::string HostPath(const std::string &boardPath) { return g_session->receiver->HostPath(boardPath); }

Timeline *CurrentTimeline() { return g_session ? g_session->timeline.get() : nullptr; }

Control *CurrentControl() { return g_session ? g_session->control.get() : nullptr; }

std::string ServingUrl()
{
    std::lock_guard<std::mutex> lock(g_servingMutex);
    return g_serving ? g_session->server->Url() : std::string();
}

void StopServing()
{
    // Told under the lock: the end of the program that waits for it goes on
    // to destroy the condition once it has the lock back.
    std::lock_guard<std::mutex> lock(g_servingMutex);
    g_serving = false;
    g_servingChanged.notify_all();
}

void Say(const std::string &line)
{
    std::string text = line + "\n";
    int fd = g_session ? g_session->output.Stderr() : 2;
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

bool EveryImageVerified() { return g_session && g_session->everyImageVerified; }

}  // namespace simsession
