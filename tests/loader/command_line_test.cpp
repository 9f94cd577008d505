// The command line: which file, port and speed a run uses, and the refusals
// with their texts and status 1.
#include <string>
#include <vector>

#include "loader_test.h"

namespace {

TEST(CommandLine, SelectsFilePortAndSpeedOrRefuses)
{
    const std::string syntax = "Syntax:  orvaflash <file> <com_port> <baudrate>\n\nExample: orvaflash adl_fw.bin D ";
    const std::string options = "\n\nOptions: -v Print the version and exit\n\nOptions: -h Print help and exit\n\n";
    const struct {
        std::vector<std::string> arguments;
        CommandLineResult result;
        const char *file = nullptr, *port = nullptr, *speed = nullptr;
        bool testMode = false;
        std::string refusal = "";
    } cases[] = {
        {{}, COMMAND_LINE_RUN, DEFAULT_FILE, "/dev/ttyS5", "38400", false},
        {{"-T"}, COMMAND_LINE_RUN, DEFAULT_FILE, "/dev/ttyS5", "38400", true},
        {{"-tt"}, COMMAND_LINE_RUN, "-tt", "/dev/ttyS5", "38400", false},
        {{"fw.bin", "A"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS4", "38400", false},
        {{"fw.bin", "b"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB1", "38400", false},
        {{"fw.bin", "d", "4800"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyS5", "4800", false},
        {{"fw.bin", "F", "9600"}, COMMAND_LINE_RUN, "fw.bin", "/dev/ttyUSB0", "9600", false},
        {{"-V"}, COMMAND_LINE_VERSION, {}, {}, {}, {}, "0.01\r\n"},
        {{"-h"}, COMMAND_LINE_USAGE_A, {}, {}, {}, {}, syntax + "38400" + options},
        {{"fw.bin", "E"}, COMMAND_LINE_USAGE_B, {}, {}, {}, {}, syntax + options},
        {{"fw.bin", "DD"}, COMMAND_LINE_USAGE_B, {}, {}, {}, {}, syntax + options},
        {{"fw.bin", "E", "38400"}, COMMAND_LINE_USAGE_A, {}, {}, {}, {}, syntax + "38400" + options},
        {{"a", "b", "c", "d"}, COMMAND_LINE_USAGE_A, {}, {}, {}, {}, syntax + "38400" + options},
    };
    for (auto expected : cases) {
        SCOPED_TRACE(testing::PrintToString(expected.arguments));
        std::vector<char *> argv = loadertest::Argv(expected.arguments);
        LOADER_ENV env = loadertest::FreshRecord();
        ASSERT_EQ(ParseCommandLine(&env, static_cast<int>(argv.size() - 1), argv.data()), expected.result);
        if (expected.result == COMMAND_LINE_RUN) {
            EXPECT_STREQ(env.file_name, expected.file);
            EXPECT_STREQ(env.port_name, expected.port);
            EXPECT_STREQ(env.speed_name, expected.speed);
            EXPECT_EQ(env.test_mode, expected.testMode);
            continue;
        }
        std::string out;
        EXPECT_EQ(loadertest::Main(expected.arguments, out), 1);
        EXPECT_EQ(out, expected.refusal);
    }
}

}  // namespace
