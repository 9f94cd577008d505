// The runner and the example applications as a developer uses them: child
// processes of orva-sim and orvaflash-sim, their exit status, report and
// pictures, decoded again with libpng and giflib and held against the
// panel's RAM, its look and the receiver's times.
#include <gif_lib.h>
#include <netinet/in.h>
#include <png.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct Outcome {
    int status = -1;  // exit status, or 128 + the signal that ended it
    std::string out, err, report;
};

class AppsTest : public testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orva-apps-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the command with its output in files; a shell reports a child's
    // signal as 128 + its number.
    Outcome Start(const std::vector<std::string> &command)
    {
        std::string line;
        for (const std::string &argument : command)
            line += "'" + argument + "' ";
        int wstatus = system((line + ">" + (dir / "out").string() + " 2>" + (dir / "err").string()).c_str());
        Outcome run;
        run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        run.out = Read(dir / "out");
        run.err = Read(dir / "err");
        run.report = Read(dir / "report.txt");
        return run;
    }

    fs::path dir;
};

// A picture of 512 x 256 pixels decoded to one grey byte per pixel (or
// three, red, green and blue); empty when it cannot be read or has another
// size.
std::vector<uint8_t> Decode(const fs::path &path, png_uint_32 format = PNG_FORMAT_GRAY)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()) || image.width != 512 || image.height != 256)
        return {};
    image.format = format;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
        return {};
    return pixels;
}

// The panel's RAM as the report prints it: 64 rows of '#' (lit) and '.'.
std::vector<std::string> Panel(const std::string &report)
{
    std::vector<std::string> rows;
    size_t at = report.find("== display panel ==\n");
    if (at == std::string::npos)
        return rows;
    std::istringstream in(report.substr(at + 20));
    for (std::string row; rows.size() < 64 && std::getline(in, row);)
        rows.push_back(row);
    return rows;
}

// Every 4 x 4 block of the picture is one pixel of the panel: dark where lit.
void ExpectPictureOfPanel(const fs::path &picture, const std::vector<std::string> &panel)
{
    std::vector<uint8_t> pixels = Decode(picture);
    ASSERT_FALSE(pixels.empty()) << picture;
    ASSERT_EQ(panel.size(), 64u);
    int lit = 0, mismatches = 0;
    for (unsigned y = 0; y < 256; ++y) {
        for (unsigned x = 0; x < 512; ++x) {
            bool dark = pixels[y * 512 + x] < 128;
            mismatches += dark != (panel[y / 4].at(x / 4) == '#');
            lit += dark;
        }
    }
    EXPECT_EQ(mismatches, 0) << picture;
    EXPECT_GT(lit, 1000) << "a picture of a blank panel";
}

// The timeline of the report on standard error: each line's time and text.
std::vector<std::pair<long long, std::string>> TimelineOf(const std::string &err)
{
    std::vector<std::pair<long long, std::string>> lines;
    std::istringstream in(err);
    for (std::string line; std::getline(in, line);) {
        long long ms = 0;
        int text = 0;
        if (sscanf(line.c_str(), "sim: [%lld ms] %n", &ms, &text) == 1 && text > 0)
            lines.emplace_back(ms, line.substr(static_cast<size_t>(text)));
    }
    return lines;
}

TEST_F(AppsTest, DisplayTourPicturesAreThePanelAndTheCommittedOne)
{
    Outcome run = Start({ORVA_SIM, "--report", dir / "report.txt", "--display-png", dir / "tour.png",
                         "--display-frames", dir / "frames", "--", DISPLAY_TOUR});
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectPictureOfPanel(dir / "tour.png", Panel(run.report));
    // Regenerate with: orva-sim --display-png docs/display_tour.png -- examples/display_tour
    EXPECT_EQ(Decode(dir / "tour.png"), Decode(DOCS_PICTURE)) << "docs/display_tour.png is out of date";

    // One frame per flush that changed the panel: none repeats the one before,
    // and the last is the panel at the end.
    std::vector<fs::path> frames;
    for (const auto &entry : fs::directory_iterator(dir / "frames"))
        if (entry.path().extension() == ".png")
            frames.push_back(entry.path());
    std::sort(frames.begin(), frames.end());
    ASSERT_GT(frames.size(), 60u) << "one screen a glyph page at least";
    for (size_t i = 1; i < frames.size(); ++i)
        ASSERT_NE(Decode(frames[i - 1]), Decode(frames[i])) << frames[i];
    EXPECT_EQ(Decode(frames.back()), Decode(dir / "tour.png"));
}

// Timed actions reach an unmodified program: its output is its own, and what
// could not be done, or was not done before it ended, is told with the time.
TEST_F(AppsTest, TimedActionsReachTheProgram)
{
    Outcome run = Start(
        {ORVA_SIM, "--time-scale", "0.2",         "--at", "1s",   "press=record", "--at", "3s", "release=record",
         "--at",   "4s",           "battery=40",  "--at", "5s",   "bt-link=open", "--at", "6s", "click=scroll,2000",
         "--at",   "60s",          "usb=plugged", "--",   BUTTONS});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out.substr(run.out.find("waiting")),
              "waiting for the buttons\nrecord pressed\nrecord released\npower event 0x0000: battery 40 %\n"
              "scroll pressed\nscroll released\n");
    EXPECT_NE(run.err.find("orva-sim: 5000 ms: bt-link=open refused: no application has opened the Bluetooth server"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("orva-sim: 60000 ms: usb=plugged not carried out: the program ended at "), std::string::npos)
        << run.err;

    run = Start({ORVA_SIM, "--list-actions"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("\n  gsm-call        ring|hangup"), std::string::npos) << run.out;
}

// What the program did to the receiver, by name and in the receiver's time;
// the pictures show the panel's supply and contrast, each frame for as long
// as it stood.
TEST_F(AppsTest, ReportAndPicturesTellWhatTheProgramDidInItsTime)
{
    Outcome run = Start({ORVA_SIM, "--time-scale", "0.2", "--report-json", dir / "run.json", "--display-png",
                         dir / "end.png", "--display-frames", dir / "frames", "--display-gif", dir / "run.gif", "--",
                         BENCH_APP, "32", "on"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> texts;
    std::vector<long long> times;
    for (const auto &line : TimelineOf(run.err)) {
        times.push_back(line.first);
        texts.push_back(line.second);
    }
    ASSERT_EQ(texts, (std::vector<std::string>{"pmu: display supply on", "panel: lit", "pmu: buzzer tone 440 Hz",
                                               "pmu: buzzer duration 100 ms", "pmu: buzzer on 440 Hz, 100 ms",
                                               "panel: contrast 32", "pmu: buzzer off"}))
        << run.err;
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_GE(times[5] - times[4], 1000) << "a second of the receiver's sleep, 200 ms of the host's";
    long long end = -1;
    ASSERT_EQ(
        sscanf(run.err.substr(run.err.find("sim: program ended at ")).c_str(), "sim: program ended at %lld", &end), 1);
    EXPECT_GE(end, times.back());
    std::string json = Read(dir / "run.json");
    EXPECT_NE(json.find("\n  \"endMs\": " + std::to_string(end) + ",\n"), std::string::npos) << json;
    EXPECT_NE(json.find(R"({"ms": )" + std::to_string(times[4]) +
                        R"(, "source": "buzzer", "text": "buzzer on 440 Hz, 100 ms"})"),
              std::string::npos);

    // Each frame in the JSON and frames.txt at one time; the animation opens
    // with the unlit panel and holds every frame until the next.
    std::vector<long long> starts{0};
    std::string listed;
    std::regex frame(R"(\{"number": (\d), "ms": (\d+), "shown": true, "contrast": (-1|32)\})");
    for (auto at = std::sregex_iterator(json.begin(), json.end(), frame); at != std::sregex_iterator(); ++at) {
        starts.push_back(std::stoll((*at)[2]));
        listed += "frame-000" + (*at)[1].str() + ".png " + (*at)[2].str() + " ms" +
                  ((*at)[3] == "32" ? ", contrast 32\n" : "\n");
    }
    EXPECT_EQ(listed, Read(dir / "frames" / "frames.txt"));
    ASSERT_EQ(starts.size(), 4u) << json;
    int error = 0;
    GifFileType *gif = DGifOpenFileName((dir / "run.gif").c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 4);
    for (int i = 0; i < 4; ++i) {
        GraphicsControlBlock control{};
        DGifSavedExtensionToGCB(gif, i, &control);
        long long shown = (i < 3 ? starts[i + 1] : end) - starts[i];
        EXPECT_EQ(control.DelayTime, (shown + 5) / 10) << i;
    }
    const SavedImage &first = gif->SavedImages[0], &last = gif->SavedImages[3];
    EXPECT_EQ(std::count(first.RasterBits, first.RasterBits + 512 * 256, 1), 0);
    EXPECT_EQ(last.RasterBits[80 * 512 + 80], 1);
    const GifColorType lit = last.ImageDesc.ColorMap->Colors[1];
    // The contrast, a quarter of full: lit pixels a quarter of the way from the background.
    std::vector<uint8_t> rgb = Decode(dir / "end.png", PNG_FORMAT_RGB);
    ASSERT_FALSE(rgb.empty());
    EXPECT_EQ((std::vector<int>{rgb[(80 * 512 + 80) * 3], rgb[(80 * 512 + 80) * 3 + 1], rgb[(80 * 512 + 80) * 3 + 2],
                                lit.Red, lit.Green, lit.Blue, rgb[0], rgb[1], rgb[2]}),
              (std::vector<int>{169, 180, 158, 169, 180, 158, 0xD8, 0xE4, 0xC4}));
    DGifCloseFile(gif, &error);
}

TEST_F(AppsTest, APanelWithoutSupplyIsDrawnBlankAndAGsmStartUpWithoutTaskIsTold)
{
    for (const char *power : {"off", "never"}) {
        Outcome run = Start({ORVA_SIM, "--report", dir / "report.txt", "--display-png", dir / "end.png", "--",
                             BENCH_APP, "128", power});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("sim: display: panel unpowered: drawn blank\n"), std::string::npos) << power;
        std::vector<uint8_t> pixels = Decode(dir / "end.png");
        EXPECT_EQ(std::count_if(pixels.begin(), pixels.end(), [](uint8_t grey) { return grey < 128; }), 0);
        std::vector<std::string> panel = Panel(run.report);
        EXPECT_EQ(std::count_if(panel.begin(), panel.end(), [](auto &row) { return row.find('#') != row.npos; }), 0);
    }
    // The API's own code stays; orva-sim says what is missing, once.
    const std::string kAdvice =
        "orva-sim: GSM start-up ran before its task was created: call API_SYS_CreateTask(1, priority) first\n";
    Outcome run = Start({ORVA_SIM, "--", BENCH_APP, "gsm", "none"});
    EXPECT_NE(run.out.find("GSM start-up: 205\n"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("] " + kAdvice), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(kAdvice, run.err.find(kAdvice, run.err.find(kAdvice) + 1) + 1), std::string::npos);
    run = Start({ORVA_SIM, "--", BENCH_APP, "gsm", "task"});
    EXPECT_NE(run.out.find("GSM start-up: 0\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.find("GSM start-up ran"), std::string::npos) << run.err;
}

TEST_F(AppsTest, RunnerRefusesWhatCannotRunAndOrvaflashSimLoadsAHostFile)
{
    struct Case {
        std::vector<std::string> command;
        std::string message;
    } cases[] = {
        {{ORVA_SIM, "--", "/bin/true"}, "does not load liborva_api.so."},
        {{ORVA_SIM, "--image-size", "100", "--", DISPLAY_TOUR}, "belongs to orvaflash-sim"},
        {{ORVA_SIM, "--display-png", "/nonexistent/x.png", "--", DISPLAY_TOUR}, "cannot write /nonexistent/x.png"},
        {{ORVA_SIM, "--radio-port", "/dev/ttyS9", "--", DISPLAY_TOUR}, "no radio line at \"/dev/ttyS9\""},
        {{ORVA_SIM, "--time-scale"}, "--time-scale needs a value"},
        {{ORVA_SIM, "--at", "2x", "press=record", "--", DISPLAY_TOUR}, "bad time \"2x\" for --at"},
        {{ORVA_SIM, "--at", "1s", "press=middle", "--", DISPLAY_TOUR}, "--at 1s: bad value \"middle\" for press"},
        {{ORVA_SIM, "--gsm-sim", "pin:12", "--", DISPLAY_TOUR}, "--gsm-sim: bad value \"pin:12\""},
        {{ORVA_SIM, "--gsm-network", "lost", "--", DISPLAY_TOUR}, "--gsm-network: bad value \"lost\""},
        {{ORVA_SIM, "--gsm-operator", "a,b", "--", DISPLAY_TOUR}, "--gsm-operator: bad value \"a,b\""},
        {{ORVA_SIM, "--gsm-signal", "32", "--", DISPLAY_TOUR}, "--gsm-signal: bad value \"32\""},
        {{ORVA_SIM, "--display-frames", "/proc/frames", "--", DISPLAY_TOUR}, "cannot write frames into /proc"},
        {{ORVA_SIM, "--display-gif", "/nonexistent/a.gif", "--", DISPLAY_TOUR}, "cannot write /nonexistent/a.gif"},
        {{ORVA_SIM, "--report", "/nonexistent/r", "--", DISPLAY_TOUR}, "cannot write /nonexistent/r: No such"},
        {{ORVA_SIM, "--report-json", "--keep-sandbox", "--", DISPLAY_TOUR}, "--report-json needs a value"},
        {{ORVA_SIM, "--sandbox", "", "--", DISPLAY_TOUR}, "--sandbox needs a value"},
        {{ORVA_SIM, "--time-scale", "fast", "--", DISPLAY_TOUR}, "bad time scale \"fast\""},
        {{ORVA_SIM, "--fail-open", "/dev/pmux", "--", DISPLAY_TOUR}, "opens nothing at \"/dev/pmux\"; the board's"},
        {{ORVA_SIM, "--fail-open", "dev/pmu", "--", DISPLAY_TOUR}, "\"dev/pmu\" is no board path"},
        {{ORVA_SIM, "--fail-open", "/dev/pmu:0", "--", DISPLAY_TOUR}, "bad errno in \"/dev/pmu:0\""},
        {{ORVA_SIM, "--pmu-fail", "0x12", "--", DISPLAY_TOUR}, "\"0x12\" is no PMU command; they are 0x74, 0x7A"},
        {{ORVA_SIM, "--radio-speed", "fast", "--", DISPLAY_TOUR}, "bad radio speed \"fast\""},
        {{ORVA_SIM, "--radio-model", "256", "--", DISPLAY_TOUR}, "bad value for --radio-model: \"256\""},
        {{ORVA_SIM, "--radio-version", "2.1", "--", DISPLAY_TOUR}, "bad radio version \"2.1\""},
        {{ORVA_SIM, "--radio-version-answer", "0g", "--", DISPLAY_TOUR}, "bad hex bytes \"0g\""},
        {{ORVA_SIM, "--radio-ignore-poc", "-1", "--", DISPLAY_TOUR}, "bad value for --radio-ignore-poc"},
        {{ORVA_SIM, "--radio-program-ms", "x", "--", DISPLAY_TOUR}, "bad value for --radio-program-ms"},
        {{ORVA_SIM, "--radio-fault", "melt:poc", "--", DISPLAY_TOUR}, "melt"},
        {{ORVA_SIM, "--bogus", "--", DISPLAY_TOUR}, "unknown option \"--bogus\" (see --help)"},
        {{ORVAFLASH_SIM, "--image-file", "fw.bin"}, "\"fw.bin\" is no board path"},
        {{ORVAFLASH_SIM, "--image-size", "-5"}, "bad value for --image-size"},
        {{ORVAFLASH_SIM, "--image-seed", "x"}, "bad value for --image-seed"},
        {{ORVAFLASH_SIM, "--demo", "--", "x.bin"}, "--demo runs with the default orvaflash arguments"},
        {{ORVA_SIM, "--gsm-bridge", "192.0.2.10:7=10.0.0.1:7000", "--", DISPLAY_TOUR},
         "\"10.0.0.1\" is not an IPv4 loopback"},
        {{ORVA_SIM, "--bt-remote", "tcp:70000", "--", DISPLAY_TOUR}, "bad port \"70000\""},
        {{ORVA_SIM, "--scenario", dir / "none.yaml", "--", DISPLAY_TOUR},
         "cannot read the scenario " + (dir / "none.yaml").string() + ": No such file or directory"},
        {{ORVA_SIM, "--scenario", dir / "bad.yaml", "--", DISPLAY_TOUR}, "bad.yaml: line 2: step 1: unknown action"},
    };
    std::ofstream(dir / "bad.yaml") << "steps:\n  - do: dance=now\n";
    for (const Case &c : cases) {
        Outcome run = Start(c.command);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }

    // The whole load as a developer starts it, on a host file wherever it is.
    std::string image(700, '\x5A');
    image[0] = '\xCA';
    image[1] = '\xFE';
    std::ofstream(dir / "fw.bin", std::ios::binary) << image;
    std::string path = (dir / "fw.bin").string();
    Outcome run = Start({ORVAFLASH_SIM, "--", path, "D", "38400"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("sim: radio: image verified (3 blocks"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("sim: host file " + path + " mapped to board path " + path + " ("), std::string::npos);
}

// An application's GSM socket reaches a real server of this machine through
// the simulated modem; one no bridge takes stays with the echoing peer.
TEST_F(AppsTest, GsmEchoTalksToALocalEchoServerThroughTheBridge)
{
    int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&address), size), 0);
    ASSERT_EQ(listen(server, 1), 0);
    getsockname(server, reinterpret_cast<sockaddr *>(&address), &size);
    std::string heard;
    std::thread echo([server, &heard] {
        pollfd waiting{server, POLLIN, 0};
        for (int client; poll(&waiting, 1, 120000) == 1 && (client = accept(server, nullptr, nullptr)) >= 0;) {
            char buffer[256];
            for (ssize_t count; (count = read(client, buffer, sizeof buffer)) > 0;) {
                heard.append(buffer, static_cast<size_t>(count));
                EXPECT_EQ(write(client, buffer, static_cast<size_t>(count)), count);
            }
            close(client);
        }
    });
    std::string port = std::to_string(ntohs(address.sin_port));
    // The modem's readiness polls get 100 ms each, room on a loaded machine.
    Outcome model = Start({ORVA_SIM, "--time-scale", "0.1", "--gsm-bridge", "192.0.2.99:7=" + port, "--", GSM_ECHO,
                           "192.0.2.10", "7", "from the echoing peer"});
    Outcome run = Start({ORVA_SIM, "--time-scale", "0.1", "--gsm-bridge", port, "--", GSM_ECHO, "192.0.2.10", "7",
                         "through the bridge"});
    shutdown(server, SHUT_RDWR);  // a run that never connected leaves the server waiting
    echo.join();
    close(server);
    EXPECT_EQ(model.status, 0) << model.out << model.err;
    EXPECT_NE(model.out.find("received 22: from the echoing peer\n"), std::string::npos) << model.out;
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("sent 19 bytes, received 19: through the bridge\n"), std::string::npos) << run.out;
    EXPECT_EQ(heard, "through the bridge\n");
}

// A step that fails: the run's status is 1 whatever the program's, the
// message names the step, its line and time and what was seen, and the
// pictures are the screen and where it differs from the reference.
TEST_F(AppsTest, AFailedScenarioStepIsToldWithTheScreenAndItsDifferences)
{
    std::ofstream(dir / "wrong.yaml") << "steps:\n  - output: KEYS\n  - screen: " DOCS_PICTURE "\n    within: 600s\n";
    Outcome run = Start({ORVA_SIM, "--display-png", dir / "end.png", "--scenario", dir / "wrong.yaml",
                         "--scenario-output", dir / "pictures", "--", RECEIVER_STATUS});
    EXPECT_EQ(run.status, 1) << run.err;
    std::string failed = "scenario " + (dir / "wrong.yaml").string() +
                         ": step 2 (line 3, screen \"" DOCS_PICTURE "\") FAILED at ";
    size_t at = run.err.find(failed);
    ASSERT_NE(at, std::string::npos) << run.err;
    std::string ms = run.err.substr(at + failed.size(), run.err.find(' ', at + failed.size()) - at - failed.size());
    EXPECT_NE(run.err.find(" ms: the program ended at " + ms + " ms (exit status 0) before it held\n"),
              std::string::npos)
        << run.err;

    std::vector<uint8_t> screen = Decode(dir / "end.png"), reference = Decode(DOCS_PICTURE);
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(Decode(dir / "pictures/wrong-step2-screen.png"), screen);
    std::vector<uint8_t> difference = Decode(dir / "pictures/wrong-step2-difference.png", PNG_FORMAT_RGB);
    ASSERT_EQ(difference.size(), screen.size() * 3);
    int onlyScreen = 0, onlyReference = 0, marked[2] = {0, 0};
    for (size_t i = 0; i < screen.size(); ++i) {
        onlyScreen += screen[i] < 128 && reference[i] >= 128;
        onlyReference += screen[i] >= 128 && reference[i] < 128;
        const uint8_t *rgb = &difference[i * 3];
        marked[0] += rgb[0] > 0xC0 && rgb[2] < 0x40;  // red
        marked[1] += rgb[2] > 0xC0 && rgb[0] < 0x40;  // blue
    }
    EXPECT_EQ(marked[0], onlyScreen);
    EXPECT_EQ(marked[1], onlyReference);
    EXPECT_NE(run.err.find(" in " + std::to_string((onlyScreen + onlyReference) / 16) + " pixels\n"), std::string::npos)
        << run.err;
}

// Each kind of check, held and timed out, on programs that run on: the exit
// status, the failed step with its time and what was seen instead, and the
// screen saved.  In what is told '#' stands for a number, and a line break
// for the next line of orva-sim's messages.
TEST_F(AppsTest, ScenarioChecksHoldOrTimeOutTellingWhatWasSeen)
{
    const struct {
        const char *text;
        std::vector<std::string> program;
        int status;
        std::vector<std::string> told;
    } cases[] = {
        {"steps:\n  - do: battery=40\n  - output: PWR0 7.40V 40%\n  - log: flags=0x2\n    source: gpio\n"
         "  - pmu: display supply on\n  - pmu: buzzer tone 1997 Hz\n  - pmu: buzzer on 1997 Hz\n  - exit: 0\n",
         {RECEIVER_STATUS},
         0,
         {"step 5 (line 7, pmu \"buzzer tone 1997 Hz\") held at # ms", ": every step held"}},
        {"steps:\n  - output: record pressed\n    within: 30s\n",
         {"--at", "10s", "press=record", "--", BUTTONS},
         0,
         {": every step held; stopping the program"}},
        {"steps:\n  - output: record pressed\n    within: 5s\n",
         {"--at", "10s", "press=record", "--", BUTTONS},
         1,
         {"step 1 (line 2, output \"record pressed\") FAILED at # ms: not seen within 5000 ms\n"
          "  the program's last lines:",
          "    # ms: waiting for the buttons\n  the screen (# frames so far): "}},
        {"steps:\n  - log: close\n    source: gpio\n    within: 5s\n",
         {BUTTONS},
         1,
         {"step 1 (line 2, log gpio \"close\") FAILED at # ms: not seen within 5000 ms\n"
          "  the last lines of gpio:\n    # ms: open flags=0x2"}},
        {"steps:\n  - pmu: buzzer on\n    within: 5s\n",
         {BUTTONS},
         1,
         {"step 1 (line 2, pmu \"buzzer on\") FAILED at # ms: not seen within 5000 ms\n"
          "  the last PMU requests:\n    # ms: power events enabled"}},
        {"steps:\n  - serial: AT\n    peer: gsm\n    within: 5s\n",
         {BUTTONS},
         1,
         {"FAILED at # ms: not seen within 5000 ms\n  nothing sent to gsm"}},
        {"steps:\n  - output: connected to\n    within: 300s\n  - serial: AT+WIPCREATE=2,1\n    peer: gsm\n"
         "  - serial: \"9: battery\"\n    within: 15s\n",
         {DATA_LOGGER, "127.0.0.1", "5000", "10"},
         1,
         {"step 2 (line 4, serial \"AT+WIPCREATE=2,1\") held at # ms",
          "step 3 (line 6, serial \"9: battery\") FAILED at # ms: not seen within 15000 ms\n"
          "  the last lines sent to gsm:",
          "    # ms: 1: battery 85 %, 7.40 V, 25.2 C"}},
        {"steps:\n  - exit: 0\n    within: 5s\n",
         {BUTTONS},
         1,
         {"step 1 (line 2, exit 0) FAILED at # ms: the program was still running 5000 ms after the step began\n"
          "  the screen (# frames so far): "}},
    };
    for (const auto &c : cases) {
        std::ofstream(dir / "s.yaml") << c.text;
        std::vector<std::string> command = {ORVA_SIM, "--scenario", dir / "s.yaml", "--scenario-output", dir};
        if (std::find(c.program.begin(), c.program.end(), "--") == c.program.end())
            command.push_back("--");
        command.insert(command.end(), c.program.begin(), c.program.end());
        Outcome run = Start(command);
        EXPECT_EQ(run.status, c.status) << c.text << run.err;
        for (const std::string &told : c.told) {
            std::string pattern;
            for (char ch : told)
                pattern += ch == '#'    ? std::string("[0-9]+")
                           : ch == '\n' ? std::string("\norva-sim: ")
                                        : std::string(strchr("\\^$.|?*+()[]{}", ch) ? "\\" : "") + ch;
            EXPECT_TRUE(std::regex_search(run.err, std::regex(pattern))) << told << "\nin\n" << run.err;
        }
        int screens = 0;
        for (const auto &entry : fs::directory_iterator(dir))
            if (entry.path().string().find("-screen.png") != std::string::npos && fs::remove(entry.path()))
                screens++;
        EXPECT_EQ(screens, c.status) << c.text;
    }
}

}  // namespace
