// Bootloader entry, block download and power-off against a scripted radio.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "API_Errors.h"
#include "Commun.h"
#include "board.h"
#include "internal/API_PM.h"
#include "loader_test_support.h"
#include "orvaflash.h"
#include "sim/pty_line.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

namespace {

using loader_test::Ack;
using loader_test::B;
using loader_test::Bytes;
using loader_test::ScriptedPeer;

const Bytes MODEL_QUERY = B({0x01, 0x34, 0xCB});
const Bytes VERSION_QUERY = B({0x01, 0x33, 0xCC});
const Bytes HARD_RESET = B({0x01, 0x1D, 0x02, 0xE0});
const Bytes POC_FRAME = B({0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03});
const Bytes BLOCK_FRAME_START = B({0x02, 0x0C, 0x01, 0x05});

sim::ReceiverOptions FastSleeps()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    return options;
}

size_t Count(const std::string &text, const std::string &piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        count++;
    return count;
}

class Radio : public ::testing::Test {
protected:
    void SetUp() override { gl_debug_level = 2; }
    void TearDown() override
    {
        peer.Stop();
        if (env.port_fd >= 0 && fcntl(env.port_fd, F_GETFD) != -1)
            CloseSerialPort(&env);
        free(env.image);
        if (pmuFd > 0 && ifd_pmu == pmuFd) {
            Board_Close(pmuFd);
            ifd_pmu = 0;
        }
        gl_debug_level = 2;
    }

    // The radio's power switch reached through the PMU, as the API leaves it
    // after start-up.
    void ConnectPmu()
    {
        pmuFd = Board_Open("/dev/pmu", O_RDWR, 0);
        ASSERT_GT(pmuFd, 0);
        ifd_pmu = pmuFd;
    }

    void OpenPort(const char *speed)
    {
        env.speed_name = speed;
        testing::internal::CaptureStdout();
        int fd = OpenSerialPort(&env);
        testing::internal::GetCapturedStdout();
        ASSERT_GE(fd, 0);
    }

    void GiveImage(size_t size)
    {
        env.image = static_cast<unsigned char *>(malloc(size));
        for (size_t i = 0; i < size; i++)
            env.image[i] = static_cast<unsigned char>(i * 13 + 5);
        env.image_size = static_cast<uint32_t>(size);
        env.block_count = static_cast<uint32_t>((size + 255) / 256);
    }

    std::string Captured(const std::function<void()> &run)
    {
        testing::internal::CaptureStdout();
        run();
        return testing::internal::GetCapturedStdout();
    }

    sim::Receiver receiver{FastSleeps()};
    sim::StandardBoard board{receiver};
    const char *portName = "/dev/ttyUSB0";
    sim::PtyLine line{receiver, portName};
    ScriptedPeer peer{line};
    LOADER_ENV env = loader_test::FreshRecord(portName);
    int pmuFd = -1;
};

class InternalRadio : public Radio {
protected:
    InternalRadio() { env.port_name = "/dev/ttyS5"; }
    sim::PtyLine internalLine{receiver, "/dev/ttyS5"};
    ScriptedPeer internalPeer{internalLine};
    void TearDown() override
    {
        internalPeer.Stop();
        Radio::TearDown();
    }
};

TEST_F(InternalRadio, AnUnidentifiedRadioIsPowerCycledBeforeThePOCFrames)
{
    ConnectPmu();
    internalPeer.On(MODEL_QUERY, 3, [](const Bytes &, int) { return B({0x01, 0x34, 0x05, 0xC6}); });
    internalPeer.On(VERSION_QUERY, 3,
                    [](const Bytes &, int) { return B({0x01, 0x33, 0x00, 0x02, 0x00, 0x0A, 0x01, 0x2C}); });
    internalPeer.On(HARD_RESET, 4, [](const Bytes &request, int) { return request; });
    internalPeer.On(POC_FRAME, 7, [](const Bytes &, int n) { return n == 3 ? Ack(0x02) : Bytes(); });
    internalPeer.Start();
    OpenPort("38400");

    int result = 0;
    std::string output = Captured([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("Radio Model ID not received (4) or not ADL (0x05)\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Version of ADL Radio Detected V02.10(300)\n"), std::string::npos);
    EXPECT_NE(output.find("Reset Hard Done\n"), std::string::npos);
    size_t powerOn = output.find("POWER PDL OFF - begin ... end\nPOWER PDL ON - begin ... end\n");
    ASSERT_NE(powerOn, std::string::npos) << output;
    // One dot per POC attempt, the third acknowledged.
    EXPECT_EQ(Count(output.substr(powerOn), "."), Count("POWER PDL OFF - begin ... POWER PDL ON - begin ... ", ".") + 3);
    EXPECT_EQ(internalLine.HostBitRate(), 9600u);

    std::vector<uint8_t> commands = board.pmu->Commands();
    auto off = std::find(commands.begin(), commands.end(), 0xC2);
    ASSERT_NE(off, commands.end());
    EXPECT_NE(std::find(off, commands.end(), 0xC3), commands.end());
    EXPECT_TRUE(board.pmu->State().uhfPower);
}

TEST_F(InternalRadio, PowerOffSwitchesTheRadioOffAndReportsAFailure)
{
    ConnectPmu();
    GiveImage(300);
    std::string output = Captured([&] { PowerOFF(&env); });
    EXPECT_EQ(output, "POWER PDL OFF - begin ... end\n");
    EXPECT_FALSE(board.pmu->State().uhfPower);
    EXPECT_EQ(env.image, nullptr);

    board.pmu->FailCommand(0xC2);
    output = Captured([&] { PowerOFF(&env); });
    EXPECT_EQ(output.rfind("POWER PDL OFF - begin ... ERROR ", 0), 0u) << output;
    EXPECT_EQ(output.find("end"), std::string::npos);
}

TEST_F(Radio, OtherPortsAreNeitherPowerCycledNorPoweredOff)
{
    // A radio that answers no query; its bootloader takes the first POC frame.
    peer.On(POC_FRAME, 7, [](const Bytes &, int) { return Ack(0x02); });
    peer.Start();
    OpenPort("38400");
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];
    GiveImage(10);

    int result = 0;
    std::string output = Captured([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("Radio Model ID not received (0) or not ADL (0x00)\n"), std::string::npos) << output;
    EXPECT_NE(output.find("V00.00(0)\n"), std::string::npos);
    EXPECT_EQ(output.find("Reset Hard Done"), std::string::npos);
    EXPECT_EQ(output.find("POWER"), std::string::npos);
    EXPECT_EQ(line.HostBitRate(), 9600u);

    CloseSerialPort(&env);
    output = Captured([&] { PowerOFF(&env); });
    EXPECT_EQ(output, "");
    EXPECT_EQ(env.image, nullptr);
    EXPECT_EQ(env.log_fd, -1);
    EXPECT_EQ(fcntl(log[1], F_GETFD), -1);  // the log was closed
    close(log[0]);
    EXPECT_TRUE(board.pmu->Commands().empty());
}

TEST_F(Radio, EntryWithoutAnOpenPortDoesNothing)
{
    std::string output = Captured([&] { EXPECT_EQ(SwitchToPOCMode(&env), 0); });
    EXPECT_EQ(output, "");
}

TEST_F(Radio, AFailedReopeningAt9600EndsTheEntryAfterThePowerOff)
{
    OpenPort("38400");
    GiveImage(10);
    receiver.FailOpen(portName, EIO);
    int result = 0;
    std::string output = Captured([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, -1);
    EXPECT_NE(output.find("Can't open COM-Port /dev/ttyUSB0 !\nOpen Serial Port at 9600 failed\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(env.image, nullptr);  // the power-off has run
    // No POC attempt follows.
    const std::string last = "Open Serial Port at 9600 failed\n";
    EXPECT_EQ(output.substr(output.size() - last.size()), last);
}

TEST_F(Radio, DownloadSendsEveryBlockInOrderAfterItsAcknowledgement)
{
    peer.On(BLOCK_FRAME_START, WRITEFILEBLOCK_FRAME_LENGTH, [](const Bytes &, int) { return Ack(0x0C); });
    peer.Start();
    OpenPort("115200");
    GiveImage(513);

    EXPECT_EQ(Download(&env), 0);
    std::vector<Bytes> frames = peer.Requests();
    ASSERT_EQ(frames.size(), 3u);
    for (unsigned long block = 1; block <= 3; block++) {
        unsigned char expected[MAX_FRAME_LENGTH];
        unsigned long length;
        FormatWRITEFILEBLOCK(expected, length, &env, block);
        EXPECT_EQ(frames[block - 1], Bytes(reinterpret_cast<char *>(expected), length)) << "block " << block;
    }
}

TEST_F(Radio, DownloadStopsAtTheFirstRefusedBlock)
{
    // Block 2 is answered with the code of another command.
    peer.On(BLOCK_FRAME_START, WRITEFILEBLOCK_FRAME_LENGTH,
            [](const Bytes &, int n) { return n == 2 ? Ack(0x0B) : Ack(0x0C); });
    peer.Start();
    OpenPort("115200");
    GiveImage(1000);
    gl_debug_level = 3;

    int result = 0;
    std::string output = Captured([&] { result = Download(&env); });
    EXPECT_EQ(result, -1);
    EXPECT_NE(output.find("WRITEFILEBLOCK 2 failed: (8 read)  :02 0B 00 01 06 00 12 03 \n"), std::string::npos)
        << output;
    EXPECT_EQ(output.rfind("WRITEFILEBLOCK command :02 0C 01 05 00 00 02 00 04 ", 0), 0u);
    usleep(50000);
    EXPECT_EQ(peer.Requests().size(), 2u);
}

TEST_F(Radio, DownloadInTestModeSendsNothing)
{
    peer.Start();
    OpenPort("115200");
    GiveImage(600);
    env.test_mode = true;
    EXPECT_EQ(Download(&env), 0);
    usleep(50000);
    EXPECT_EQ(peer.Received(), "");
}

}  // namespace
