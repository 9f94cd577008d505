// Interface table: configuration file parse and creation, device nodes, revert.
#include <sys/stat.h>

#include <algorithm>

#include "frame_fixture.h"

namespace {

using Config = FrameTest;

const char *const kRows[API_DEVNAME_COUNT][2] = {
    {"debug_iface", "/dev/ttyS0"}, {"gsm_iface", "/dev/ttyS1"}, {"gnss_iface", "/dev/ttyS2"},
    {"bt_iface", "/dev/ttyS3"}, {"uhf_transmitter_iface", "/dev/ttyS4"}, {"uhf_receiver_iface", "/dev/ttyS5"},
    {"ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB1", "/dev/ttyUSB1"}, {"ttyUSB2", "/dev/ttyUSB2"},
    {"ttyUSB3", "/dev/ttyUSB3"}, {"ttyUSB4", "/dev/ttyUSB4"}, {"pushbuttons", "/dev/pushbuttons"},
    {"gpio", "/dev/gpio"}, {"display", "/dev/display"}, {"rtc", "/dev/rtc"},
    {"pmu", "/dev/pmu"}, {"pps", "/dev/pps"}, {"extender", "/dev/extender"},
};

std::string DefaultFile()
{
    std::string text;
    for (auto &row : kRows)
        text += std::string(row[0]) + " = \"" + row[1] + "\"\n";
    return text;
}

// Serial ports on majors 4 (minors from 64) and 188, the board's drivers on 143.
dev_t DefaultDevice(int row)
{
    return row < 6 ? (4 << 8) | (64 + row) : row < 11 ? (188 << 8) | (row - 6) : (143 << 8) | (row - 11);
}

TEST_F(Config, MissingFileIsWrittenFromTheTableAndMissingNodesMade)
{
    receiver.RemoveDevice("/dev/gpio");
    bool existed[API_DEVNAME_COUNT];
    for (int row = 0; row < API_DEVNAME_COUNT; ++row)
        existed[row] = receiver.FileExists(kRows[row][1]);
    EXPECT_EQ(Started(API_INIT_CONFIG).find("skipped"), std::string::npos);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), DefaultFile());
    std::vector<sim::MknodRecord> nodes = receiver.Mknods();
    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        EXPECT_EQ(a_devnames[row].number, row < 11 ? row : -1);
        EXPECT_EQ(dev_t(a_devnames[row].major << 8 | a_devnames[row].minor), DefaultDevice(row)) << kRows[row][1];
        auto made = [&](const sim::MknodRecord &node) { return node.path == kRows[row][1]; };
        ASSERT_EQ(std::count_if(nodes.begin(), nodes.end(), made), existed[row] ? 0 : 1) << kRows[row][1];
        if (!existed[row]) {
            auto node = std::find_if(nodes.begin(), nodes.end(), made);
            EXPECT_EQ(node->mode, static_cast<mode_t>(0x21FF));
            EXPECT_EQ(node->device, DefaultDevice(row)) << kRows[row][1];
        }
    }
    EXPECT_FALSE(existed[12]);
}

struct ParseCase {
    const char *label;
    const char *file;
    int row;
    const char *path;
};

void PrintTo(const ParseCase &c, std::ostream *out) { *out << c.label; }

class ConfigParse : public FrameTest, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(ConfigParse, SetsThePathOfTheNamedRow)
{
    receiver.CreateFile("/etc/ts9_api.cfg", GetParam().file);
    Started(API_INIT_CONFIG);
    EXPECT_EQ(Row(GetParam().row), GetParam().path) << GetParam().file;
}

const std::string kLong = "/dev/" + std::string(200, 'p');
const std::string kOverLong = "gsm_iface = \"" + kLong + "\"\n" + std::string(200, 'n') + " = \"/dev/x\"\n";
const std::string kLongCut = kLong.substr(0, API_CONFIG_TOKEN_MAX);
// The entry crossing byte 1024 keeps what was read of it, less its last character.
const std::string kCut = std::string(1000, '-') + "\ngsm_iface = \"/dev/ttyUSB1\"\ngnss_iface = \"/dev/ttyUSB2\"\n";

INSTANTIATE_TEST_SUITE_P(
    Syntax, ConfigParse,
    ::testing::Values(ParseCase{"spaced", "gsm_iface = \"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"no_equals", "gsm_iface \"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"no_blanks", "gsm_iface=\"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"crlf", "gsm_iface = \"/dev/ttyUSB1\"\r\ngnss_iface = \"/dev/ttyUSB2\"\r\n", 2, "/dev/ttyUSB2"},
                      // Unquoted: the next line's value goes to the first name.
                      ParseCase{"unquoted_first", "gsm_iface = /dev/ttyUSB1\ngnss_iface = \"/dev/ttyUSB2\"\n", 1, "/dev/ttyUSB2"},
                      ParseCase{"unquoted_second", "gsm_iface = /dev/ttyUSB1\ngnss_iface = \"/dev/ttyUSB2\"\n", 2, "/dev/ttyS2"},
                      // A blank ends the value and its last character is dropped.
                      ParseCase{"blank_in_value", "gsm_iface = \"/dev/tty S1\"\n", 1, "/dev/tt"},
                      // Text after the blank is the next entry's name.
                      ParseCase{"text_after_blank", "gsm_iface = \"/dev/ttyUSB1\" bt_iface \"/dev/ttyUSB3\"\n", 3, "/dev/ttyUSB3"},
                      ParseCase{"unknown_name", "foo = \"/dev/ttyUSB1\"\n", 1, "/dev/ttyS1"},
                      ParseCase{"case_sensitive", "GSM_IFACE = \"/dev/ttyUSB1\"\n", 1, "/dev/ttyS1"},
                      ParseCase{"later_wins", "gsm_iface = \"/dev/a\"\ngsm_iface = \"/dev/b\"\n", 1, "/dev/b"},
                      ParseCase{"runs_into_end", "gsm_iface = \"/dev/ttyUSB1", 1, "/dev/ttyUSB"},
                      ParseCase{"empty_value", "gsm_iface = \"\"\n", 1, ""},
                      ParseCase{"printable_ends", "gsm_iface = \"!/dev/~\"\n", 1, "!/dev/~"},
                      // Each of these one-character names takes the value that follows.
                      ParseCase{"alnum_ends", "a gsm_iface \"/x\" A gsm_iface \"/x\" z gsm_iface \"/x\" "
                                              "Z gsm_iface \"/x\" 0 gsm_iface \"/x\" 9 gsm_iface \"/x\"\n", 1, "/dev/ttyS1"},
                      ParseCase{"no_quote", "gsm_iface = ", 1, "/dev/ttyS1"},
                      ParseCase{"over_long_value", kOverLong.c_str(), 1, kLongCut.c_str()},
                      ParseCase{"cut_at_1024", kCut.c_str(), 1, "/dev/ttyU"},
                      ParseCase{"after_1024", kCut.c_str(), 2, "/dev/ttyS2"}));

// Only the bytes read count, whatever a longer file left in the buffer.
TEST_F(Config, AShorterFileIsReadAlone)
{
    receiver.CreateFile("/etc/ts9_api.cfg", "gsm_iface = \"/dev/ttyUSB1\"\n");
    Started(API_INIT_CONFIG);
    receiver.CreateFile("/etc/ts9_api.cfg", "gsm_iface = \"/dev/ab");
    Started(API_INIT_CONFIG);
    EXPECT_EQ(Row(1), "/dev/a");
}

TEST_F(Config, NodeThatCannotBeCreatedIsReportedAndStartUpGoesOn)
{
    receiver.CreateFile("/dev/blocked");  // a plain file where a directory is needed
    receiver.CreateFile("/etc/ts9_api.cfg", "gsm_iface = \"/dev/blocked/ttyS1\"\nbt_iface = \"/dev/blocked/ttyS3\"\n");
    int result = -1;
    std::string out = Stdout([&] { result = API_Initialize(API_INIT_CONFIG); });
    EXPECT_NE(out.find("make_device_descriptors: Unable to create device file /dev/blocked/ttyS1 \n"
                       "make_device_descriptors: Unable to create device file /dev/blocked/ttyS3 \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(receiver.FileExists("/dev/ttyS5"));
}

TEST_F(Config, RevertRestoresTheDefaultTableAndFile)
{
    std::string file;
    for (auto &row : kRows)
        file += std::string(row[0]) + " = \"/dev/x\"\n";
    receiver.CreateFile("/etc/ts9_api.cfg", file);
    Started(API_INIT_CONFIG);
    ASSERT_EQ(Row(8), "/dev/x");
    receiver.RemoveFile("/dev/x");
    EXPECT_EQ(API_RevertAPIConfigToDefault(), 0);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), DefaultFile());
    EXPECT_TRUE(receiver.FileExists("/dev/rtc")) << "missing nodes are made";

    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    EXPECT_EQ(API_RevertAPIConfigToDefault(), API_ERR_CREATE_FILE);
}

}  // namespace
