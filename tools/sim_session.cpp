#include "sim_session.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "sim/display_png.h"
#include "sim/gsm_services.h"
#include "sim/pty_line.h"
#include "sim/radio_power.h"
#include "sim/receiver.h"
#include "sim/shell_script.h"
#include "sim/standard_board.h"
#include "sim_output.h"

namespace fs = std::filesystem;

namespace simsession {

namespace {

const char kBenchHelp[] = "Events (in the receiver's time since the program started: 2s, 1.5s, 1500ms):\n"
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
                          "\n";

const char kCommonHelp[] = "Receiver:\n"
                           "  --sandbox DIR          board paths live under DIR (kept); default: a temporary\n"
                           "                         directory, removed at the end\n"
                           "  --keep-sandbox         keep the temporary sandbox\n"
                           "  --report FILE          write the report, every device log and the panel to FILE\n"
                           "                         (default: SANDBOX/sim/report.txt when the sandbox is kept)\n"
                           "  --time-scale X         factor on every sleep of the program (default 0.05;\n"
                           "                         1 = real time); serial time-outs are never scaled\n"
                           "  --fail-open PATH[:ERRNO]  every opening of the board path PATH fails\n"
                           "  --pmu-fail CMD         the PMU answers command CMD (e.g. 0xC2, the radio's\n"
                           "                         power-off) with its transmission-failure reply\n"
                           "\n"
                           "Display:\n"
                           "  --display-png FILE     save a picture of the panel to FILE at the end\n"
                           "  --display-frames DIR   save DIR/frame-0001.png, ... : one picture per flush\n"
                           "                         that changed the panel\n"
                           "\n"
                           "Radio:\n"
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
    auto value = [&]() -> std::string {
        if (i + 1 >= arguments.size())
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
    } else if (arg == "--list-actions") {
        options.listActions = true;
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
        options.failOpen.emplace_back(text, error);
    } else if (arg == "--pmu-fail") {
        options.pmuFailures.push_back(static_cast<uint8_t>(number(0, 255)));
    } else if (arg == "--display-png" || arg == "--display-frames") {
        (arg == "--display-png" ? options.displayPng : options.displayFrames) = value();
        if (!sim::DisplayPngSupported())
            throw BadOption{arg + ": this build has no PNG support (libpng was not found when it was configured)"};
    } else if (arg == "--image-size") {
        options.imageSize = number(0, 1LL << 32);
    } else if (arg == "--bootloader-image") {
        options.bootloaderImage = true;
    } else if (arg == "--image-file") {
        options.imageFile = value();
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

// Stands at "/dev/display" in front of the panel and publishes a frame on
// the timeline (and, when asked, saves a picture) each time a flush that
// changed the panel is over, and when the panel's supply switches.  A flush
// writes its pages in rising order, back to back: a page at or before the
// last one written, or a pause, ends it.
class FrameRecorder : public sim::Device {
public:
    FrameRecorder(std::shared_ptr<sim::Display> display, Timeline &timeline, std::string directory)
        : m_display(std::move(display)), m_timeline(timeline), m_directory(std::move(directory)),
          m_last(m_display->Ram())
    {}
    ~FrameRecorder() override { StopWorker(); }

    int Open(int flags) override { return m_display->Open(flags); }
    void Close() override { m_display->Close(); }
    ssize_t Read(void *buffer, size_t size) override { return m_display->Read(buffer, size); }
    off_t Lseek(off_t offset, int whence) override { return m_display->Lseek(offset, whence); }
    int Ioctl(unsigned long request, void *argument) override { return m_display->Ioctl(request, argument); }

    ssize_t Write(const void *data, size_t size) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const uint8_t *bytes = static_cast<const uint8_t *>(data);
        bool commands = m_display->Mode() == sim::Display::kCommandMode;
        if (commands && m_lastPage >= 0) {
            for (size_t i = 0; i < size; ++i) {
                bool pageSelect = bytes[i] >= 0xB0 && bytes[i] < 0xB0 + sim::Display::kPages;
                if (pageSelect && bytes[i] - 0xB0 <= m_lastPage) {
                    SaveLocked();
                    break;
                }
            }
        }
        int page = m_display->Page();
        ssize_t written = m_display->Write(data, size);
        if (!commands && written > 0) {
            m_lastPage = page;
            m_lastData = Clock::now();
            if (!m_worker.joinable() && !m_stopping)
                m_worker = QuietThread([this] { Watch(); });
            m_changed.notify_all();
        }
        return written;
    }

    // The PMU switched the panel's supply.
    void Supply(bool on)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (on == m_supplyOn)
            return;
        m_supplyOn = on;
        PublishLocked(m_display->Ram());
    }

    // The flush still open at the end.
    void End(int *frames, std::string *error)
    {
        StopWorker();
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_lastPage >= 0)
            SaveLocked();
        *frames = m_saved;
        *error = m_error;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPause{2};

    // A flush followed by a pause is over.
    void Watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_stopping) {
            if (m_lastPage < 0)
                m_changed.wait(lock);
            else if (Clock::now() < m_lastData + kPause)
                m_changed.wait_until(lock, m_lastData + kPause);
            else
                SaveLocked();
        }
    }

    void StopWorker()
    {
        std::thread worker;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            worker = std::move(m_worker);
        }
        m_changed.notify_all();
        if (worker.joinable())
            worker.join();
    }

    void SaveLocked()
    {
        m_lastPage = -1;
        sim::PanelRam ram = m_display->Ram();
        if (ram == m_last)
            return;
        m_last = ram;
        PublishLocked(ram);
        if (m_directory.empty())
            return;
        char name[32];
        snprintf(name, sizeof name, "/frame-%04d.png", m_saved + 1);
        std::string error;
        if (sim::WritePanelPng(ram, m_directory + name, &error))
            ++m_saved;
        else if (m_error.empty())
            m_error = error;
    }

    void PublishLocked(const sim::PanelRam &ram)
    {
        PanelFrame frame;
        std::copy(ram.begin(), ram.end(), frame.ram.begin());
        frame.supplyOn = m_supplyOn;
        frame.contrast = m_display->Contrast();
        m_timeline.PublishFrame(frame);
    }

    std::shared_ptr<sim::Display> m_display;
    Timeline &m_timeline;
    std::string m_directory;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    sim::PanelRam m_last;
    int m_lastPage = -1;
    Clock::time_point m_lastData;
    bool m_supplyOn = false;
    int m_saved = 0;
    std::string m_error;
    bool m_stopping = false;
    std::thread m_worker;
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
    std::vector<std::string> mapped;  // report lines of the host files
    bool everyImageVerified = true;
};

// Never destroyed: API tasks of a program that ended with exit() may still
// reach the board while the process goes down.
Session *g_session = nullptr;
std::mutex g_finishMutex;
bool g_finished = false;
int g_signalPipe[2] = {-1, -1};

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
    std::string error;
    // The panel is blank at power-up: its picture stands until the end.
    if (!options.displayPng.empty() && !sim::WritePanelPng(sim::PanelRam{}, options.displayPng, &error))
        return error;
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

// Every device log on the timeline, and the panel's supply to the frames.
void FeedTimeline(Session &session)
{
    Timeline &timeline = *session.timeline;
    // The log's first word is the source: "bluetooth", not "bluetooth /dev/ttyS3".
    auto feed = [&timeline](const std::string &name, const std::string &line) {
        timeline.Publish(name.substr(0, name.find(' ')), line);
    };
    sim::StandardBoard &board = *session.board;
    for (sim::EventLog *log : {&board.pmu->Log(), &board.gpio->Log(), &board.extender->Log(), &board.watchdog->Log(),
                               &board.display->Log(), &board.bluetooth->Log(), &board.gsm->Log()})
        log->SetObserver(feed);
    for (auto &radio : session.radios)
        radio->Log().SetObserver(feed);
    std::shared_ptr<FrameRecorder> frames = session.frames;
    board.pmu->SetRequestObserver([frames](const sim::Pmu::Request &request) {
        if (request.carriedOut && (request.bytes[1] == 0xE3 || request.bytes[1] == 0xE2))
            frames->Supply(request.state.displayPower);
    });
}

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

void FinishLocked(Session &session)
{
    fflush(stdout);
    ReceiverMs ended = session.timeline->Now();
    for (const auto &pending : session.control->Stop())
        Say(session.setup.tool + std::string(": ") + std::to_string(pending.first) + " ms: " + pending.second.Text() +
            " not carried out: the program ended at " + std::to_string(ended) + " ms");
    session.output.Stop();
    int savedFrames = 0;
    std::string framesError;
    session.frames->End(&savedFrames, &framesError);
    session.timeline->End();
    for (auto &radio : session.radios)
        radio->Stop();

    const Options &options = session.options;
    sim::Receiver &receiver = *session.receiver;
    bool sandboxKept = !options.sandbox.empty() || options.keepSandbox;
    std::string reportPath = options.reportPath;
    if (reportPath.empty() && sandboxKept)
        reportPath = receiver.Root() + "/sim/report.txt";

    std::vector<std::string> report = session.mapped;
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
    for (const auto &descriptor : receiver.OpenDescriptors())
        open += (open.empty() ? "" : ", ") + descriptor.second + " (fd " + std::to_string(descriptor.first) + ")";
    report.push_back("open descriptors: " + (open.empty() ? std::string("none") : open));
    double sleptMs = 0;
    std::vector<timespec> sleeps = receiver.Sleeps();
    for (const timespec &sleep : sleeps)
        sleptMs += static_cast<double>(sleep.tv_sec) * 1000 + sleep.tv_nsec / 1e6;
    char sleepLine[120];
    snprintf(sleepLine, sizeof sleepLine, "sleeps: %zu requested, %.3f ms in the receiver's time", sleeps.size(),
             sleptMs);
    report.push_back(sleepLine);
    std::string error;
    if (!options.displayPng.empty()) {
        if (sim::WriteDisplayPng(*session.board->display, options.displayPng, &error))
            report.push_back("display: picture " + options.displayPng);
        else
            report.push_back("display: " + error);
    }
    if (!options.displayFrames.empty()) {
        report.push_back("display: " + std::to_string(savedFrames) + " frames in " + options.displayFrames);
        if (!framesError.empty())
            report.push_back("display: " + framesError);
    }

    for (const std::string &line : report)
        fprintf(stderr, "sim: %s\n", line.c_str());

    if (sandboxKept) {
        for (auto &radio : session.radios) {
            std::vector<unsigned char> blocks = radio->ReceivedBlocks();
            std::string name = radio->Log().Name().substr(6);
            std::ofstream out(receiver.Root() + "/sim/radio-" + PortName(name) + ".bin", std::ios::binary);
            out.write(reinterpret_cast<const char *>(blocks.data()), static_cast<std::streamsize>(blocks.size()));
        }
    }
    if (!reportPath.empty()) {
        std::ofstream out(reportPath);
        for (const std::string &line : report)
            out << line << '\n';
        std::vector<sim::EventLog *> logs;
        for (auto &radio : session.radios)
            logs.push_back(&radio->Log());
        sim::StandardBoard &board = *session.board;
        for (sim::EventLog *log :
             {&board.pmu->Log(), &board.gpio->Log(), &board.extender->Log(), &board.watchdog->Log(),
              &board.display->Log(), &board.bluetooth->Log(), &board.gsm->Log()})
            logs.push_back(log);
        for (sim::EventLog *log : simbridges::Logs())
            logs.push_back(log);
        for (sim::EventLog *log : logs) {
            out << "== " << log->Name() << " ==\n";
            for (const std::string &line : log->StampedLines())
                out << line << '\n';
        }
        out << "== display panel ==\n" << board.display->Render();
        if (!out)
            fprintf(stderr, "sim: cannot write the report %s\n", reportPath.c_str());
        else
            fprintf(stderr, "sim: report: %s\n", reportPath.c_str());
    }
    if (!sandboxKept) {
        std::error_code ignored;
        fs::remove_all(receiver.Root(), ignored);
    } else {
        fprintf(stderr, "sim: sandbox: %s\n", receiver.Root().c_str());
    }
    fflush(stderr);
    session.timeline->Flush();
}

}  // namespace

std::string HelpText(Tool tool)
{
    std::string text = tool == Tool::Runner ? kRunnerIntro : kOrvaflashIntro;
    text += kBenchHelp;
    if (tool == Tool::Runner)
        text += simbridges::kHelp;
    return text + kCommonHelp;
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
    session.frames = std::make_shared<FrameRecorder>(session.board->display, *session.timeline, options.displayFrames);
    receiver.AddDevice("/dev/display", session.frames);
    session.control = std::make_unique<Control>(BenchParts{*session.board, *session.gsm, *session.timeline});
    FeedTimeline(session);
    ScheduleActions(session);
    if (setup.captureOutput)
        session.output.Start(*session.timeline);
    WatchInterrupts();
    atexit(Finish);
}

void Finish()
{
    std::lock_guard<std::mutex> lock(g_finishMutex);
    // A child forked by the program shares the session but does not own it.
    if (!g_session || g_finished || g_session->owner != getpid())
        return;
    g_finished = true;
    FinishLocked(*g_session);
}

std::string HostPath(const std::string &boardPath) { return g_session->receiver->HostPath(boardPath); }

Timeline *CurrentTimeline() { return g_session ? g_session->timeline.get() : nullptr; }

Control *CurrentControl() { return g_session ? g_session->control.get() : nullptr; }

void Say(const std::string &line)
{
    std::string text = line + "\n";
    int fd = g_session ? g_session->output.Stderr() : 2;
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
}

bool EveryImageVerified() { return g_session && g_session->everyImageVerified; }

}  // namespace simsession
