// Whole runs in-process against a scripted radio on the internal port: the
// load sequence, its time-outs counted in idle reads, and every failure after
// the port is opened ending in exactly one power-off.
#include <string>
#include <vector>

#include "API_Init.h"
#include "loader_test.h"

namespace {

using loadertest::B;
using loadertest::Bytes;
using loadertest::Stdout;
using textsearch::Count;
using textsearch::InOrder;
using Answer = simtest::ScriptedRadio::Answer;

Bytes Ack(int code, int status = 0x06) { return B({0x02, code, 0x00, 0x01, status, 0x00, code + 1 + status, 0x03}); }

class Run : public loadertest::RadioTest {
protected:
    Run()
    {
        Attach("/dev/ttyS5");
        receiver.CreateFile(DEFAULT_FILE, image);
    }
    ~Run() override
    {
        Stdout([] { API_Finalize(); });
        unitreset::Init();
    }
    int Main(std::vector<std::string> arguments) { return loadertest::Main(arguments, out); }

    // Three blocks, the last one partial.
    Bytes image = B({0xCA, 0xFE}) + Bytes(600, 'x');
    std::string out;
};

TEST_F(Run, LoadsTheInternalRadioStepByStep)
{
    gl_debug_level = 4;
    ASSERT_EQ(Main({}), 0) << out;
    EXPECT_TRUE(InOrder(out, {"\nFile /mnt/usbdisk/adl_fw.bin, port=/dev/ttyS5, speed=38400\n",
                              "POWER PDL ON - begin ... end\n", "File /mnt/usbdisk/adl_fw.bin:\n\tloaded...\n",
                              "\tblock count : 0x0003 (3)\n", "COM-Port /dev/ttyS5 opened ", "38400\r\n",
                              "Reset Hard Done\n", "9600\r\n.COM-Port /dev/ttyS5 opened ", "115200\r\n",
                              "\nEND of Download with return code 0\r\nCOM-Port /dev/ttyS5 opened ", "9600\r\n",
                              "POWER PDL OFF - begin ... end\n"}))
        << out;
    EXPECT_EQ(out.find("Set Serial port"), std::string::npos) << "level 3 is not shown";
    EXPECT_EQ(Pmu(0xC3), 1);
    EXPECT_EQ(SleepsOf(5000), 1) << "the radio's power-up";
    EXPECT_TRUE(board.extender->IsOutput(true, 3));
    EXPECT_EQ(board.extender->PinLevel(true, 3), 0) << "the radio's status line";

    const std::vector<Bytes> &sent = radio->written;
    ASSERT_EQ(sent.size(), 12u);
    EXPECT_EQ(sent[6], B({0x02, 0x07, 0x00, 0x05, 0x00, 0x00, 0x01, 0xC2, 0x00, 0x00, 0xCF, 0x03}));
    EXPECT_EQ(sent[9].substr(0, 7), B({0x02, 0x0C, 0x01, 0x05, 0x00, 0x00, 0x03}));
    EXPECT_EQ(sent[10], B({0x02, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00, 0x25, 0x80, 0x00, 0xB1, 0x03}));
    EXPECT_EQ(sent[11], B({0x02, 0x04, 0x00, 0x00, 0x00, 0x04, 0x03}));
}

TEST_F(Run, EveryFailureAfterThePortOpensEndsWithOnePowerOffAndNoneBefore)
{
    const Bytes shortSetBaudRate = B({0x02, 0x07, 0x00, 0x01, 0x06});
    auto late = [](size_t idleReads, const Bytes &answer) {
        Answer pieces(idleReads, "");
        pieces.push_back(answer);
        return pieces;
    };
    // Requests: 1 model, 2 version, 3 hard reset, 4 POC, 5 CREATEFILE,
    // 6 SETBAUDRATE 115200, 7 to 9 the blocks, 10 SETBAUDRATE 9600, 11 RESET.
    // Openings: the first, then at 9600, 115200 and 9600.
    const struct {
        int request;
        Answer answer;
        int failOpensFrom;
        int status;
        std::string shown;
        int silentFrom = 0;
    } cases[] = {
        {5, {}, 0, -1, "CREATEFILE failed: (0 of 8 expected) \n"},
        {5, {Ack(0x0B, 0x15)}, 0, -1, "CREATEFILE failed: (8 of 8 expected) 020B000115002103\n"},
        {5, late(1, Ack(0x0B)), 0, 0, "\nEND of Download with return code 0\r\n"},
        {6, {shortSetBaudRate}, 0, -1, "Switch ADL Radio to 115200 bauds failed : (5 of 8 expected) 0207000106\n"},
        {6, {Ack(0x0B)}, 0, -1, "Switch ADL Radio to 115200 bauds failed : (8) 020B000106001203\n"},
        {6, {shortSetBaudRate, B({0x00, 0x0E, 0x03})}, 0, 0, "\nEND of Download with return code 0\r\n"},
        // A refused block is not the end: the radio is still reset.
        {8, {Ack(0x0C, 0x15)}, 0, -1, "\nEND of Download with return code -1\r\nCOM-Port /dev/ttyS5 opened"},
        {10, {shortSetBaudRate}, 0, -1, "Bad response length to SetBaudRate at 9600 (5)\n"},
        {10, {Ack(0x07, 0x15)}, 0, -1, "SetBaudRate to 9600 is bad\n"},
        {11, {B({0x02, 0x04, 0x00, 0x01, 0x06})}, 0, -1, "Bad response length to Reset (5)\n"},
        {11, {Ack(0x04, 0x15)}, 0, -1, "Reset failed\n"},
        {11, late(99, Ack(0x04)), 0, 0, "9600\r\nPOWER PDL OFF - begin ... end\n"},
        {0, {}, 1, -1, "Can't open COM-Port /dev/ttyS5 !\nOpen Serial Port /dev/ttyS5 failed\n"},
        {0, {}, 2, -1, "Open Serial Port at 9600 failed\nPOWER PDL OFF - begin ... end\n\nSwitch to POC failed (-1)\n"},
        {0, {}, 3, -1, "Open Serial Port at 115200 failed\n"},
        {0, {}, 4, -1, "code 0\r\nCan't open COM-Port /dev/ttyS5 !\nOpen Serial Port at 9600 failed\n"},
        // A radio that never takes a POC frame.
        {0, {}, 0, -1, "9600\r\n" + std::string(100, '.') + "\nSwitch to POC failed (0)\n", 4},
    };
    for (const auto &failure : cases) {
        SCOPED_TRACE(failure.shown);
        radio = std::make_shared<simtest::ScriptedRadio>();
        Attach("/dev/ttyS5");
        radio->answers = {{failure.request, failure.answer}};
        radio->failOpensFrom = failure.failOpensFrom;
        radio->silentFrom = failure.silentFrom;
        long offs = Pmu(0xC2);
        EXPECT_EQ(Main({}), failure.status);
        EXPECT_NE(out.find(failure.shown), std::string::npos) << out;
        EXPECT_EQ(Count(out, "POWER PDL OFF"), 1u) << out;
        EXPECT_EQ(Pmu(0xC2), offs + 1);
        EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));
        EXPECT_TRUE(receiver.OpenDescriptors().empty());
    }
    radio = std::make_shared<simtest::ScriptedRadio>();
    Attach("/dev/ttyS5");
    EXPECT_EQ(Main({DEFAULT_FILE, "D", "4800"}), -1);
    EXPECT_TRUE(InOrder(out, {"unknown baudrate 4800\n", "Open Serial Port /dev/ttyS5 failed\n", "POWER PDL OFF"}));
    EXPECT_TRUE(receiver.OpenDescriptors().empty()) << "the refused port is closed";

    // A missing image ends before the port, with the radio powered and the
    // API running.
    receiver.RemoveFile(DEFAULT_FILE);
    EXPECT_EQ(Main({}), 1);
    EXPECT_TRUE(InOrder(out, {"POWER PDL ON - begin ... end\n", "Can't open file /mnt/usbdisk/adl_fw.bin\n"})) << out;
    EXPECT_EQ(out.find("POWER PDL OFF"), std::string::npos);
    EXPECT_TRUE(receiver.FileExists("/var/ts9.pid"));
}

}  // namespace
