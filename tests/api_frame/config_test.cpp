// Interface table: configuration file parse and creation, device nodes, revert.
#include <iterator>
#include <sstream>

#include "frame_fixture.h"

namespace {

using Config = FrameTest;

// The rows' names, in the table's order.
const std::vector<std::string> kNames = [] {
    std::istringstream words("debug_iface gsm_iface gnss_iface bt_iface uhf_transmitter_iface uhf_receiver_iface "
                             "ttyUSB0 ttyUSB1 ttyUSB2 ttyUSB3 ttyUSB4 pushbuttons gpio display rtc pmu pps extender");
    return std::vector<std::string>(std::istream_iterator<std::string>(words), {});
}();

// The six UARTs are ttyS0 to ttyS5; every other node is named after its row.
std::string DefaultPath(int row) { return row < 6 ? "/dev/ttyS" + std::to_string(row) : "/dev/" + kNames[row]; }

std::string TableFile(const char *path = nullptr)
{
    std::string text;
    for (int row = 0; row < API_DEVNAME_COUNT; ++row)
        text += kNames[row] + " = \"" + (path ? path : DefaultPath(row)) + "\"\n";
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
    std::vector<std::string> made, expected;
    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        if (!receiver.FileExists(DefaultPath(row)))  // as character devices, 0777
            expected.push_back(DefaultPath(row) + " 8703 " + std::to_string(DefaultDevice(row)));
    }
    EXPECT_EQ(Started(API_INIT_CONFIG).find("skipped"), std::string::npos);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), TableFile());
    for (const sim::MknodRecord &node : receiver.Mknods())
        made.push_back(node.path + " " + std::to_string(node.mode) + " " + std::to_string(node.device));
    EXPECT_EQ(made, expected);
    for (int row = 0; row < API_DEVNAME_COUNT; ++row) {
        EXPECT_EQ(a_devnames[row].number, row < 11 ? row : -1);
        EXPECT_EQ(dev_t(a_devnames[row].major << 8 | a_devnames[row].minor), DefaultDevice(row)) << row;
    }
}

const std::string kLong = "/dev/" + std::string(200, 'p');
const std::string kOverLong = "gsm_iface = \"" + kLong + "\"\n" + std::string(200, 'n') + " = \"/dev/x\"\n";
// The entry crossing byte 1024 keeps what was read of it, less its last character.
const std::string kCut = std::string(1000, '-') + "\ngsm_iface = \"/dev/ttyUSB1\"\ngnss_iface = \"/dev/ttyUSB2\"\n";

TEST_F(Config, EachEntrySetsThePathOfTheNamedRow)
{
    const struct {
        const char *file;
        int row;
        std::string path;
    } cases[] = {
        {"gsm_iface=\"/dev/ttyUSB1\"\n", 1, "/dev/ttyUSB1"},
        // Unquoted: the next line's value goes to the first name.
        {"gsm_iface = /dev/ttyUSB1\ngnss_iface = \"/dev/ttyUSB2\"\n", 1, "/dev/ttyUSB2"},
        {"gsm_iface = /dev/ttyUSB1\ngnss_iface = \"/dev/ttyUSB2\"\n", 2, "/dev/ttyS2"},
        // A blank ends the value and its last character is dropped; text
        // after it is the next entry's name.
        {"gsm_iface = \"/dev/tty S1\"\n", 1, "/dev/tt"},
        {"gsm_iface = \"/dev/ttyUSB1\" bt_iface \"/dev/ttyUSB3\"\n", 3, "/dev/ttyUSB3"},
        {"GSM_IFACE = \"/dev/ttyUSB1\"\n", 1, "/dev/ttyS1"},
        {kOverLong.c_str(), 1, kLong.substr(0, API_CONFIG_TOKEN_MAX)},
        {kCut.c_str(), 1, "/dev/ttyU"},
        {kCut.c_str(), 2, "/dev/ttyS2"},
        // Read after a longer file: only the bytes read count.
        {"gsm_iface = \"/dev/ttyUSB1", 1, "/dev/ttyUSB"},
    };
    for (const auto &c : cases) {
        unitreset::Init();
        receiver.CreateFile("/etc/ts9_api.cfg", c.file);
        Started(API_INIT_CONFIG);
        EXPECT_EQ(Row(c.row), c.path) << c.file;
    }
}

TEST_F(Config, NodeThatCannotBeCreatedIsReportedAndStartUpGoesOn)
{
    receiver.CreateFile("/dev/blocked");  // a plain file where a directory is needed
    receiver.CreateFile("/etc/ts9_api.cfg", "gsm_iface = \"/dev/blocked/ttyS1\"\nbt_iface = \"/dev/blocked/ttyS3\"\n");
    std::string out = Started(API_INIT_CONFIG);
    EXPECT_NE(out.find("make_device_descriptors: Unable to create device file /dev/blocked/ttyS1 \n"
                       "make_device_descriptors: Unable to create device file /dev/blocked/ttyS3 \n"),
              std::string::npos)
        << out;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(receiver.FileExists("/dev/ttyS5"));
}

TEST_F(Config, RevertRestoresTheDefaultTableAndFile)
{
    receiver.CreateFile("/etc/ts9_api.cfg", TableFile("/dev/x"));
    Started(API_INIT_CONFIG);
    ASSERT_EQ(Row(8), "/dev/x");
    receiver.RemoveFile("/dev/x");
    EXPECT_EQ(API_RevertAPIConfigToDefault(), 0);
    EXPECT_EQ(receiver.ReadFile("/etc/ts9_api.cfg"), TableFile());
    EXPECT_TRUE(receiver.FileExists("/dev/rtc")) << "missing nodes are made";

    receiver.FailOpen("/etc/ts9_api.cfg", EROFS);
    EXPECT_EQ(API_RevertAPIConfigToDefault(), API_ERR_CREATE_FILE);
}

}  // namespace
