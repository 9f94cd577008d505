// Scenario files as orva-sim reads them, before any program runs: what is
// refused, with the line and the step the message names, and what every kind
// of step reads back as, pictures and masks included.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/display_png.h"
#include "sim_scenario.h"

namespace {

using simsession::ParseScenario;
using simsession::Scenario;
using Kind = simsession::ScenarioStep::Kind;

class ScenarioFiles : public testing::Test {
protected:
    void SetUp() override
    {
        if (!simsession::ScenarioSupported() || !sim::DisplayPngSupported())
            GTEST_SKIP() << "built without yaml-cpp or libpng";
        char pattern[] = "/tmp/orva-scenario-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // A panel with its first column lit; a mask of its bottom row.
        for (int page = 0; page < 8; ++page)
            panel[static_cast<size_t>(page) * 128] = 0xFF;
        for (size_t x = 0; x < 128; ++x)
            mask[7 * 128 + x] = 0x80;
        ASSERT_TRUE(sim::WritePanelPng(panel, dir + "/panel.png", nullptr));
        ASSERT_TRUE(sim::WritePanelPng(mask, dir + "/mask.png", nullptr));
        std::ofstream(dir + "/text.png") << "not a picture";
    }
    void TearDown() override
    {
        if (!dir.empty())
            std::filesystem::remove_all(dir);
    }

    std::string dir;
    sim::PanelRam panel{}, mask{};
};

TEST_F(ScenarioFiles, RefusalsNameTheLineAndTheStep)
{
    const struct {
        const char *text, *message;
    } cases[] = {
        {"steps: [", "line 1: "},
        {"- output: x", "a scenario is a map whose \"steps\" list the steps"},
        {"about: x\nsteps: []", "line 2: steps is a list of at least one step"},
        {"stepz:\n  - output: x\nsteps: [{exit: 0}]", "line 1: unknown key \"stepz\""},
        {"steps:\n  - output: x\n  - do: press=middle", "line 3: step 2: bad value \"middle\" for press"},
        {"steps:\n  - do: dance=now", "line 2: step 1: unknown action \"dance\""},
        {"steps:\n  - output: x\n    within: 2x", "line 2: step 1: bad time \"2x\" for within"},
        {"steps:\n  - wait: -1s", "line 2: step 1: bad time \"-1s\" for wait"},
        {"steps:\n  - output: x\n    source: gsm",
         "line 2: step 1: unknown key \"source\" (a output step takes at, output, within)"},
        {"steps:\n  - output: x\n    pmu: y", "line 2: step 1: a step does one thing: output or pmu"},
        {"steps:\n  - within: 2s", "line 2: step 1: a step needs one of do, wait, screen"},
        {"steps:\n  - log: power on", "line 2: step 1: a log step names its source"},
        {"steps:\n  - output: [x]", "line 2: step 1: output needs a text"},
        {"steps:\n  - serial: x\n    peer: radio", "line 2: step 1: the peer is gsm or bluetooth, not \"radio\""},
        {"steps:\n  - exit: 256", "line 2: step 1: the exit status is 0 to 255 or any, not \"256\""},
        {"steps:\n  - exit: 0\n  - output: x", "line 2: step 1: the program's exit ends a scenario"},
        {"steps:\n  - screen: missing.png", "line 2: step 1: DIR/missing.png"},
        {"steps:\n  - screen: panel.png\n    mask: text.png", "line 2: step 1: DIR/text.png: "},
    };
    for (const auto &c : cases) {
        std::string expected = c.message;
        if (expected.find("DIR") != std::string::npos)
            expected.replace(expected.find("DIR"), 3, dir);
        Scenario scenario;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, dir, true, &scenario, &error)) << c.text;
        EXPECT_EQ(error.find(expected), 0u) << c.text << "\n" << error;
    }
}

TEST_F(ScenarioFiles, EveryKindOfStepReadsBack)
{
    Scenario scenario;
    std::string error;
    ASSERT_TRUE(ParseScenario("about: all of them\n"
                              "steps:\n"
                              "  - do: click=scroll,250\n"
                              "    at: 1.5s\n"
                              "  - wait: 1500ms\n"
                              "  - screen: panel.png\n"
                              "    mask: mask.png\n"
                              "    within: 2s\n"
                              "  - output: \"ready: 100 %\"\n"
                              "  - log: power on\n"
                              "    source: gsm\n"
                              "  - {pmu: \"02 F3\", within: 0}\n"
                              "  - serial: AT+CPIN?\n"
                              "    peer: bluetooth\n"
                              "  - exit: 3\n",
                              dir, true, &scenario, &error))
        << error;
    const std::vector<simsession::ScenarioStep> &steps = scenario.steps;
    ASSERT_EQ(steps.size(), 8u);
    const struct {
        Kind kind;
        int line;
        const char *text, *source;
        simsession::ReceiverMs at, within;
    } expected[] = {
        {Kind::Do, 3, "", "", 1500, 60000},
        {Kind::Wait, 5, "", "", -1, 60000},
        {Kind::Screen, 6, "panel.png", "", -1, 2000},
        {Kind::Output, 9, "ready: 100 %", "", -1, 60000},
        {Kind::Log, 10, "power on", "gsm", -1, 60000},
        {Kind::Pmu, 12, "02 F3", "", -1, 0},
        {Kind::Serial, 13, "AT+CPIN?", "bluetooth", -1, 60000},
        {Kind::Exit, 15, "", "", -1, 60000},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(steps[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(steps[i].kind, expected[i].kind) << i;
        EXPECT_EQ(steps[i].line, expected[i].line) << i;
        EXPECT_EQ(steps[i].text, expected[i].text) << i;
        EXPECT_EQ(steps[i].source, expected[i].source) << i;
        EXPECT_EQ(steps[i].at, expected[i].at) << i;
        EXPECT_EQ(steps[i].within, expected[i].within) << i;
    }
    EXPECT_EQ(steps[0].action.Text(), "click=scroll,250");
    EXPECT_EQ(steps[0].action.number, 250);
    EXPECT_EQ(steps[1].duration, 1500);
    EXPECT_EQ(steps[2].reference, panel);
    EXPECT_EQ(steps[2].ignored, mask);
    EXPECT_EQ(steps[7].status, 3);
    EXPECT_EQ(steps[6].Name(), "step 7 (line 13, serial \"AT+CPIN?\")");

    // A mask drawn by hand, one picture pixel a panel pixel, black on white:
    // the menu's reading, rows 28 to 41.
    ASSERT_TRUE(ParseScenario("steps:\n  - screen: temperature.png\n    mask: temperature-reading.png\n",
                              EXAMPLE_SCENARIOS, true, &scenario, &error))
        << error;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; x += 127)
            EXPECT_EQ(sim::PanelPixel(scenario.steps[0].ignored, x, y), y >= 28 && y <= 41) << x << "," << y;
}

}  // namespace
