// The command line: which file, port and speed a run uses, and the refusals.
#include <string>
#include <vector>

#include "loader_test.h"

namespace {

std::vector<char *> Argv(std::vector<std::string> &arguments)
{
    std::vector<char *> argv = {const_cast<char *>("orvaflash")};
    for (std::string &argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    return argv;
}

TEST(CommandLine, SelectsFilePortAndSpeedOrRefuses)
{
    const struct {
        std::vector<std::string> arguments;
        CommandLineResult result;
        const char *file = nullptr, *port = nullptr, *speed = nullptr;
        bool testMode = false;
    } cases[] = {
        {{}, COMMAND_LINE_RUN, DEFAULT_FILE, "/dev/ttyS5", "38400", false},
        {{"-T"}, COMMAND_LINE_RUN, DEFAULT_FILE, "/dev/ttyS5", "38400", true},
        {{"-tt"}, COMMAND_LINE_RUN, "-tt", "/dev/ttyS5", "38400", false},
        {{"fw.bin", "A"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS4", "38400", false},
        {{"fw.bin", "b"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB1", "38400", false},
        {{"fw.bin", "d", "4800"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS5", "4800", false},
        {{"fw.bin", "F", "9600"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB0", "9600", false},
        {{"-V"}, COMMAND_LINE_VERSION},
        {{"-h"}, COMMAND_LINE_USAGE_A},
        {{"fw.bin", "E"}, COMMAND_LINE_USAGE_B},
        {{"fw.bin", "DD"}, COMMAND_LINE_USAGE_B},
        {{"fw.bin", "E", "38400"}, COMMAND_LINE_USAGE_A},
        {{"fw.bin", "D", "38400", "x"}, COMMAND_LINE_USAGE_A},
    };
    for (auto expected : cases) {
        SCOPED_TRACE(testing::PrintToString(expected.arguments));
        std::vector<char *> argv = Argv(expected.arguments);
        LOADER_ENV env = loadertest::FreshRecord();
        ASSERT_EQ(ParseCommandLine(&env, static_cast<int>(argv.size() - 1), argv.data()), expected.result);
        if (expected.result != COMMAND_LINE_RUN)
            continue;
        EXPECT_STREQ(env.file_name, expected.file);
        EXPECT_STREQ(env.port_name, expected.port);
        EXPECT_STREQ(env.speed_name, expected.speed);
        EXPECT_EQ(env.test_mode, expected.testMode);
    }
}

TEST(CommandLine, RefusalsPrintTheirTextAndEndWithStatusOne)
{
    const std::string syntax = "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D ";
    const std::string options = "\n\nOptions: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";
    const struct {
        std::vector<std::string> arguments;
        std::string output;
    } cases[] = {
        {{"-v"}, "0.01\r\n"},
        {{"fw.bin", "E"}, syntax + options},
        {{"fw.bin", "E", "38400"}, syntax + "38400" + options},
        {{"a", "b", "c", "d"}, syntax + "38400" + options},
    };
    for (auto refused : cases) {
        std::vector<char *> argv = Argv(refused.arguments);
        testing::internal::CaptureStdout();
        EXPECT_EQ(OrvaflashMain(static_cast<int>(argv.size() - 1), argv.data()), 1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), refused.output);
    }
}

}  // namespace
