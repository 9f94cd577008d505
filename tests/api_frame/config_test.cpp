// Interface table: configuration file parse and creation, device nodes, revert.
#include <sys/stat.h>

#include "frame_fixture.h"

namespace {

using Config = FrameTest;

std::string DefaultFile()
{
    const char *rows[][2] = {
        {"debug_iface", "/dev/ttyS0"}, {"gsm_iface", "/dev/ttyS1"}, {"gnss_iface", "/dev/ttyS2"},
        {"bt_iface", "/dev/ttyS3"}, {"uhf_transmitter_iface", "/dev/ttyS4"}, {"uhf_receiver_iface", "/dev/ttyS5"},
        {"ttyUSB0", "/dev/ttyUSB0"}, {"ttyUSB1", "/dev/ttyUSB1"}, {"ttyUSB2", "/dev/ttyUSB2"},
        {"ttyUSB3", "/dev/ttyUSB3"}, {"ttyUSB4", "/dev/ttyUSB4"}, {"pushbuttons", "/dev/pushbuttons"},
        {"gpio", "/dev/gpio"}, {"display", "/dev/display"}, {"rtc", "/dev/rtc"},
        {"pmu", "/dev/pmu"}, {"pps", "/dev/pps"}, {"extender", "/dev/extender"},
    };
    std::string text;
    for (auto &row : rows)
        text += std::string(row[0]) + " = \"" + row[1] + "\"\n";
    return text;
}

TEST_F(Config, MissingFileIsWrittenFromTheTable)
{
    EXPECT_EQ(Stdout([] { API_Initialize(API_INIT_CONFIG); }).find("skipped"), std::string::npos);
    std::string file = receiver.ReadFile("/etc/ts9_api.cfg");
    EXPECT_EQ(file.size(), 453u);
    EXPECT_EQ(file, DefaultFile());
    EXPECT_EQ(Row(1), "/dev/ttyS1");
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
    Stdout([] { API_Initialize(API_INIT_CONFIG); });
    EXPECT_EQ(Row(GetParam().row), GetParam().path) << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, ConfigParse,
    ::testing::Values(ParseCase{"spaced", "gsm_iface = \"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"no_equals", "gsm_iface \"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"no_blanks", "gsm_iface=\"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
                      ParseCase{"crlf_next_line", "gsm_iface = \"/dev/ttyUSB1\"\r\ngnss_iface = \"/dev/ttyUSB2\"\r\n", 2, "/dev/ttyUSB2"},
                      ParseCase{"crlf", "gsm_iface = \"/dev/ttyUSB1\"\r\n", 1, "/dev/ttyUSB1"},
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
                      // Running into the end keeps all but the last character.
                      ParseCase{"runs_into_end", "gsm_iface = \"/dev/ttyUSB1", 1, "/dev/ttyUSB"},
                      ParseCase{"empty_value", "gsm_iface = \"\"\n", 1, ""},
                      ParseCase{"no_quote", "gsm_iface = ", 1, "/dev/ttyS1"}));

TEST_F(Config, OnlyTheFirst1024BytesAreRead)
{
    std::string file = "# " + std::string(1000, '-') + "\n";
    file += "gsm_iface = \"/dev/ttyUSB1\"\n";  // crosses byte 1024
    file += "gnss_iface = \"/dev/ttyUSB2\"\n";
    ASSERT_LT(file.find("gsm_iface"), 1024u);
    size_t cut = 1024 - file.find("\"/dev/ttyUSB1") - 1;
    receiver.CreateFile("/etc/ts9_api.cfg", file);
    Stdout([] { API_Initialize(API_INIT_CONFIG); });
    EXPECT_EQ(Row(1), std::string("/dev/ttyUSB1").substr(0, cut - 1));
    EXPECT_EQ(Row(2), "/dev/ttyS2");
}

TEST_F(Config, OverLongNamesAndValuesAreCutAndOverrunNothing)
{
    std::string longPath = "/dev/" + std::string(200, 'p');
    std::string longName(200, 'n');
    receiver.CreateFile("/etc/ts9_api.cfg", "gsm_iface = \"" + longPath + "\"\n" + longName + " = \"/dev/x\"\n" +
                                                "gnss_iface = \"/dev/ttyUSB2\"\n");
    Stdout([] { API_Initialize(API_INIT_CONFIG); });
    EXPECT_EQ(Row(1), longPath.substr(0, API_CONFIG_TOKEN_MAX));
    EXPECT_EQ(Row(2), "/dev/ttyUSB2");
    EXPECT_STREQ(a_devnames[1].name, "gsm_iface");
    EXPECT_STREQ(a_devnames[2].name, "gnss_iface");
    EXPECT_EQ(a_devnames[2].number, 2);
}

TEST_F(Config, MissingNodesAreCreatedWithTheTableNumbers)
{
    receiver.CreateFile("/dev/ttyS1");
    Stdout([] { API_Initialize(API_INIT_CONFIG); });
    bool sawTtyS1 = false;
    bool sawTtyS5 = false;
    for (const sim::MknodRecord &node : receiver.Mknods()) {
        EXPECT_NE(node.path, "/dev/gpio") << "existing device got a node";
        sawTtyS1 |= node.path == "/dev/ttyS1";
        if (node.path == "/dev/ttyS5") {
            sawTtyS5 = true;
            EXPECT_EQ(node.mode, static_cast<mode_t>(0x21FF));
            EXPECT_EQ(node.device, static_cast<dev_t>((4 << 8) | 69));
        }
    }
    EXPECT_FALSE(sawTtyS1);
    EXPECT_TRUE(sawTtyS5);
    EXPECT_TRUE(receiver.FileExists("/dev/rtc"));
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
    EXPECT_TRUE(receiver.FileExists("/var/ts9.pid"));
}

TEST_F(Config, RevertRestoresTheDefaultTableAndFile)
{
    receiver.CreateFile("/etc/ts9_api.cfg", "ttyUSB2 = \"/dev/other\"\npushbuttons = \"/dev/pb\"\n");
    Stdout([] { API_Initialize(API_INIT_CONFIG); });
    ASSERT_EQ(Row(8), "/dev/other");
    EXPECT_EQ(API_RevertAPIConfigToDefault(), 0);
    EXPECT_EQ(Row(8), "/dev/ttyUSB2");
    EXPECT_EQ(Row(11), "/dev/pushbuttons");
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), DefaultFile());

    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    EXPECT_EQ(API_RevertAPIConfigToDefault(), API_ERR_CREATE_FILE);
}

}  // namespace
