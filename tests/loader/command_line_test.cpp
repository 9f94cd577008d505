// The command line: which file, port and speed a run uses, and the refusals.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "loader_test_support.h"
#include "orvaflash.h"

namespace {

struct ParseCase {
    std::vector<std::string> arguments;
    CommandLineResult result;
    std::string file;
    std::string port;
    std::string speed;
    bool testMode;
};

struct Parsed {
    CommandLineResult result;
    std::string file, port, speed;
    bool testMode;
};

Parsed Parse(std::vector<std::string> arguments)
{
    std::vector<char *> argv = {const_cast<char *>("orvaflash")};
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    LOADER_ENV env = loader_test::FreshRecord();
    Parsed parsed;
    parsed.result = ParseCommandLine(&env, static_cast<int>(argv.size() - 1), argv.data());
    parsed.file = env.file_name ? env.file_name : "";
    parsed.port = env.port_name ? env.port_name : "";
    parsed.speed = env.speed_name ? env.speed_name : "";
    parsed.testMode = env.test_mode;
    return parsed;
}

TEST(CommandLine, SelectsFilePortAndSpeed)
{
    const ParseCase cases[] = {
        {{}, COMMAND_LINE_RUN, "/mnt/usbdisk/adl_fw.bin", "/dev/ttyS5", "38400", false},
        {{"-t"}, COMMAND_LINE_RUN, "/mnt/usbdisk/adl_fw.bin", "/dev/ttyS5", "38400", true},
        {{"-T"}, COMMAND_LINE_RUN, "/mnt/usbdisk/adl_fw.bin", "/dev/ttyS5", "38400", true},
        {{"fw.bin"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS5", "38400", false},
        {{"-tt"}, COMMAND_LINE_RUN, "-tt", "/dev/ttyS5", "38400", false},
        {{"fw.bin", "A"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS4", "38400", false},
        {{"fw.bin", "b"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB1", "38400", false},
        {{"fw.bin", "d", "9600"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS5", "9600", false},
        // The speed is taken as written; the port opening judges it.
        {{"fw.bin", "F", "4800"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB0", "4800", false},
    };
    for (const ParseCase &expected : cases) {
        SCOPED_TRACE(expected.arguments.empty() ? "(none)" : expected.arguments[0]);
        Parsed parsed = Parse(expected.arguments);
        EXPECT_EQ(parsed.result, expected.result);
        EXPECT_EQ(parsed.file, expected.file);
        EXPECT_EQ(parsed.port, expected.port);
        EXPECT_EQ(parsed.speed, expected.speed);
        EXPECT_EQ(parsed.testMode, expected.testMode);
    }
}

TEST(CommandLine, RefusesOptionsLettersAndCountsItDoesNotKnow)
{
    EXPECT_EQ(Parse({"-v"}).result, COMMAND_LINE_VERSION);
    EXPECT_EQ(Parse({"-V"}).result, COMMAND_LINE_VERSION);
    EXPECT_EQ(Parse({"-h"}).result, COMMAND_LINE_USAGE_A);
    EXPECT_EQ(Parse({"fw.bin", "E"}).result, COMMAND_LINE_USAGE_B);
    EXPECT_EQ(Parse({"fw.bin", "DD"}).result, COMMAND_LINE_USAGE_B);
    EXPECT_EQ(Parse({"fw.bin", "E", "38400"}).result, COMMAND_LINE_USAGE_A);
    EXPECT_EQ(Parse({"fw.bin", "", "38400"}).result, COMMAND_LINE_USAGE_A);
    EXPECT_EQ(Parse({"fw.bin", "D", "38400", "x"}).result, COMMAND_LINE_USAGE_A);
}

int RunMain(std::vector<std::string> arguments, std::string &output)
{
    std::vector<char *> argv = {const_cast<char *>("orvaflash")};
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = OrvaflashMain(static_cast<int>(argv.size() - 1), argv.data());
    output = testing::internal::GetCapturedStdout();
    return status;
}

TEST(CommandLine, RefusalsPrintTheirTextAndEndWithStatusOne)
{
    const std::string usageA =
        "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D 38400\n\n"
        "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";
    const std::string usageB =
        "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D \n\n"
        "Options: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";
    std::string output;
    EXPECT_EQ(RunMain({"-v"}, output), 1);
    EXPECT_EQ(output, "0.01\r\n");
    EXPECT_EQ(RunMain({"-H"}, output), 1);
    EXPECT_EQ(output, usageA);
    EXPECT_EQ(RunMain({"fw.bin", "E"}, output), 1);
    EXPECT_EQ(output, usageB);
    EXPECT_EQ(RunMain({"fw.bin", "E", "38400"}, output), 1);
    EXPECT_EQ(output, usageA);
    EXPECT_EQ(RunMain({"a", "b", "c", "d"}, output), 1);
    EXPECT_EQ(output, usageA);
}

}  // namespace
