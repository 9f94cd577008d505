// Bootloader entry, block download and power-off against a scripted radio.
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "board.h"
#include "loader_test.h"

namespace {

using namespace loadertest;

const Bytes kModel = B({0x01, 0x34, 0xCB}), kVersion = B({0x01, 0x33, 0xCC}), kHardReset = B({0x01, 0x1D, 0x02, 0xE0});
const Bytes kPoc = B({0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03});
const Bytes kPocAck = B({0x02, 0x02, 0x00, 0x01, 0x06, 0x00, 0x09, 0x03});
const Bytes kNak = B({0x02, 0x02, 0x00, 0x01, 0x15, 0x00, 0x18, 0x03});
const Bytes kDetected = "ADL Radio Detected\nVersion of ADL Radio Detected V02.10(300)\nReset Hard Done\n";

class Entry : public loadertest::RadioTest {
protected:
    int Enter(std::string &out)
    {
        if (env.port_fd >= 0)
            Board_Close(env.port_fd);
        env.port_fd = Board_Open(env.port_name, O_RDWR | O_NOCTTY, 0);
        int result = 0;
        out = Stdout([&] { result = SwitchToPOCMode(&env); });
        return result;
    }
    std::string Reopened() const
    {
        return "COM-Port " + std::string(env.port_name) + " opened " + std::to_string(env.port_fd) + "...\n9600\r\n";
    }
};

// The POC frames go on until one is acknowledged; at most a hundred, which
// the run whose radio never answers counts.
TEST_F(Entry, EscapesIdentifiesResetsAndReopensAt9600ForThePocFramesJudgingEachAnswer)
{
    radio->answers = {{4, {}}, {5, {kNak}}, {6, {"", kPocAck}}};
    std::string out;
    EXPECT_EQ(Enter(out), 1);
    EXPECT_EQ(out, kDetected + Reopened() + "...");
    EXPECT_EQ(radio->written, (std::vector<Bytes>{"+++", kModel, kVersion, kHardReset, kPoc, kPoc, kPoc}));
    EXPECT_EQ(SleepsOf(500), 4);
    EXPECT_EQ(SleepsOf(100), 3);
    EXPECT_STREQ(env.speed_name, "9600");

    // At level 3 each answer shows its eight bytes, those that did not come
    // as zeros, and only the acknowledged one is noted.
    radio->answers = {{4, {kNak}}, {5, {B({0x02, 0x02, 0x00})}}, {6, {kPocAck}}};
    radio->requests = 0;
    gl_debug_level = 3;
    Enter(out);
    gl_debug_level = 2;
    EXPECT_NE(out.find(".(8 of 8) 02 02 00 01 15 00 18 03\n.(3 of 8) 02 02 00 00 00 00 00 00\n"
                       ".(8 of 8) 02 02 00 01 06 00 09 03\nPOC ACK received!!\nEnd"),
              std::string::npos)
        << out;

    // Not open: nothing at all.
    radio->written.clear();
    env.port_fd = -1;
    EXPECT_EQ(Stdout([&] { EXPECT_EQ(SwitchToPOCMode(&env), 0); }), "");
    EXPECT_TRUE(radio->written.empty());

    const struct {
        int request;
        Answer answer;
        std::string shown;
    } cases[] = {
        {1, {B({0x01, 0x34, 0x05, 0xC6})}, "Radio Model ID not received (4) or not ADL (0x05)\n"},
        {1, {B({0x01, 0x34, 0x07})}, "Radio Model ID not received (3) or not ADL (0x07)\n"},
        {1, {B({0x01, 0x34, 0x07, 0xC4, 0x00})}, "Radio Model ID not received (5) or not ADL (0x07)\n"},
        {1, {std::string(300, 'x')}, "Radio Model ID not received (256) or not ADL (0x78)\n"},
        {1, {}, "Radio Model ID not received (0) or not ADL (0x00)\n"},
        // Within the query's two idle reads.
        {1, {"", B({0x01, 0x34, 0x07, 0xC4})}, kDetected},
        {2, {B({0x01, 0x33, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06})}, "Version of ADL Radio Detected V258.772(1286)\n"},
        {2, {}, "ADL Radio Detected\nVersion of ADL Radio Detected V00.00(0)\nReset Hard Done\n"},
        {3, {B({0x01, 0x1D, 0x02})}, "Version of ADL Radio Detected V02.10(300)\nCOM-Port"},
        {3, {kHardReset + "x"}, "Version of ADL Radio Detected V02.10(300)\nCOM-Port"},
    };
    for (const auto &query : cases) {
        SCOPED_TRACE(query.shown);
        radio->answers = {{query.request, query.answer}};
        radio->requests = 0;
        EXPECT_EQ(Enter(out), 1);
        EXPECT_NE(out.find(query.shown), std::string::npos) << out;
        EXPECT_EQ(out.find("POWER"), std::string::npos) << "only the internal radio is power-cycled";
    }
}

class InternalRadio : public Entry {
protected:
    InternalRadio()
    {
        Attach("/dev/ttyS5");
        OpenPmu();
    }
};

// An identified radio is left powered: the whole run counts that.  The
// power-off switches it off, reports a failure and releases the run.
TEST_F(InternalRadio, IsPowerCycledWhenItWasNotIdentifiedAndSwitchedOffAtTheEnd)
{
    radio->answers = {{1, {B({0x01, 0x34, 0x05, 0xC6})}}};
    std::string out;
    EXPECT_EQ(Enter(out), 1);
    EXPECT_NE(out.find(Reopened() + "POWER PDL OFF - begin ... end\nPOWER PDL ON - begin ... end\n."),
              std::string::npos)
        << out;
    EXPECT_EQ(Pmu(0xC2), 1);
    EXPECT_EQ(Pmu(0xC3), 1);
    EXPECT_TRUE(board.pmu->State().uhfPower);
    EXPECT_EQ(SleepsOf(500), 7) << "the power switch's own aside";

    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];
    const size_t heap = loadertest::HeapInUse();
    env.image = static_cast<unsigned char *>(malloc(4u << 20));
    EXPECT_EQ(Stdout([&] { PowerOFF(&env); }), "POWER PDL OFF - begin ... end\n");
    EXPECT_LT(loadertest::HeapInUse(), heap + (2u << 20)) << "the image is freed";
    EXPECT_EQ(Pmu(0xC2), 2);
    EXPECT_EQ(env.image, nullptr);
    EXPECT_EQ(env.log_fd, -1);
    EXPECT_EQ(fcntl(log[1], F_GETFD), -1) << "the log is closed";
    close(log[0]);

    OpenPmu();
    board.pmu->FailCommand(0xC2);
    EXPECT_EQ(Stdout([&] { PowerOFF(&env); }), "POWER PDL OFF - begin ... ERROR Error if spi transmission fails\n");

    env.port_name = "/dev/ttyUSB0";
    OpenPmu();
    EXPECT_EQ(Stdout([&] { PowerOFF(&env); }), "");
    EXPECT_EQ(Pmu(0xC2), 3);
}

class Blocks : public loadertest::RadioTest {
protected:
    Blocks()
    {
        env.image = reinterpret_cast<unsigned char *>(&image[0]);
        env.image_size = 513;
        env.block_count = 3;
        env.port_fd = Board_Open(env.port_name, O_RDWR | O_NOCTTY, 0);
    }
    ~Blocks() override { env.image = nullptr; }
    Bytes image = Bytes(513, 'x');
};

TEST_F(Blocks, AreSentInOrderEachAcknowledgedUntilOneIsNotOrOnlyLoggedInTestMode)
{
    auto after = [](size_t idleReads) {
        Answer late(idleReads, "");
        late.push_back(B({0x02, 0x0C, 0x00, 0x01, 0x06, 0x00, 0x13, 0x03}));
        return late;
    };
    const struct {
        Answer answer;
        int result;
        size_t sent;
    } cases[] = {
        {{B({0x02, 0x0C, 0x00, 0x01, 0x15, 0x00, 0x22, 0x03})}, -1, 2},
        // 10 s: a hundred idle reads; an answer after them is too late.
        {after(99), 0, 3},
        {after(100), -1, 2},
    };
    for (const auto &block : cases) {
        radio->answers = {{2, block.answer}};
        radio->requests = 0;
        radio->written.clear();
        EXPECT_EQ(Stdout([&] { EXPECT_EQ(Download(&env), block.result); }), "");
        EXPECT_EQ(radio->written.size(), block.sent);
    }

    radio->written.clear();
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];
    env.test_mode = true;
    EXPECT_EQ(Download(&env), 0);
    EXPECT_TRUE(radio->written.empty());
    std::string logged = loadertest::Logged(log);
    EXPECT_EQ(logged.size(), 3 * (3 + 268 * 3 + 1u));
    EXPECT_EQ(logged.substr(0, 24), ">> 02 0C 01 05 00 00 01 ");

    env.test_mode = false;
    env.log_fd = -1;
    env.block_count = 0;
    EXPECT_EQ(Download(&env), 0);
    EXPECT_TRUE(radio->written.empty());
}

}  // namespace
