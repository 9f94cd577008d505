// The runner and the example applications as a developer uses them: child
// processes of orva-sim and orvaflash-sim, their exit status, report and
// pictures, decoded again with libpng and held against the panel's RAM.
#include <netinet/in.h>
#include <png.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// A picture of 512 x 256 pixels decoded to one grey byte per pixel; empty
// when it cannot be read or has another size.
std::vector<uint8_t> Decode(const fs::path &path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()) || image.width != 512 || image.height != 256)
        return {};
    image.format = PNG_FORMAT_GRAY;
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
        const char *message;
    } cases[] = {
        {{ORVA_SIM, "--", "/bin/true"}, "does not load liborva_api.so."},
        {{ORVA_SIM, "--image-size", "100", "--", DISPLAY_TOUR}, "belongs to orvaflash-sim"},
        {{ORVA_SIM, "--display-png", "/nonexistent/x.png", "--", DISPLAY_TOUR}, "cannot write /nonexistent/x.png"},
        {{ORVA_SIM, "--radio-port", "/dev/ttyS9", "--", DISPLAY_TOUR}, "no radio line at \"/dev/ttyS9\""},
        {{ORVA_SIM, "--time-scale"}, "--time-scale needs a value"},
        {{ORVA_SIM, "--at", "2x", "press=record", "--", DISPLAY_TOUR}, "bad time \"2x\" for --at"},
        {{ORVA_SIM, "--at", "1s", "press=middle", "--", DISPLAY_TOUR}, "--at 1s: bad value \"middle\" for press"},
        {{ORVA_SIM, "--gsm-sim", "pin:12", "--", DISPLAY_TOUR}, "--gsm-sim: bad value \"pin:12\""},
        {{ORVA_SIM, "--gsm-bridge", "192.0.2.10:7=10.0.0.1:7000", "--", DISPLAY_TOUR},
         "\"10.0.0.1\" is not an IPv4 loopback"},
        {{ORVA_SIM, "--bt-remote", "tcp:70000", "--", DISPLAY_TOUR}, "bad port \"70000\""},
    };
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

}  // namespace
