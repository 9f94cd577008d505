// The runner and the example applications as a developer uses them: child
// processes of orva-sim and orvaflash-sim, their exit status, report and
// pictures, decoded again with libpng and held against the panel's RAM.
#include <png.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
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
         "  - pmu: display supply on\n  - pmu: buzzer tone 41\n  - pmu: 02 F3 00\n  - exit: 0\n",
         {RECEIVER_STATUS},
         0,
         {"step 5 (line 7, pmu \"buzzer tone 41\") held at # ms", ": every step held"}},
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
          "  the last PMU requests:\n    # ms: 02 7E 00 7C (power events on)"}},
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
          "  the screen (0 frames so far): "}},
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

// The GSM unit started before its task: the bench says what is missing.
TEST_F(AppsTest, AGsmStartUpWithoutItsTaskIsToldSo)
{
    Outcome run = Start({ORVA_SIM, "--", GSM_FIRST});
    EXPECT_NE(run.out.find("API_GSM_Initialize: 205"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(" ms: gsm: the modem's answer to ATE0 was never read: no GSM task runs. Create it with "
                           "API_SYS_CreateTask(1, priority) before API_GSM_Initialize"),
              std::string::npos)
        << run.err;
}

}  // namespace
