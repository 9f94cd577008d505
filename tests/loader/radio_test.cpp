// Bootloader entry, block download and power-off against a scripted radio.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

const Bytes POC_FRAME = B({0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x03});
const Bytes BLOCK_FRAME = B({0x02, 0x0C, 0x01, 0x05});

sim::ReceiverOptions FastSleeps()
{
    sim::ReceiverOptions options;
    options.timeScale = 0.001;
    return options;
}

class Radio : public ::testing::Test {
protected:
    void TearDown() override
    {
        peer.Stop();
        free(env.image);
        if (pmuFd > 0 && ifd_pmu == pmuFd) {
            Board_Close(pmuFd);
            ifd_pmu = 0;
        }
        gl_debug_level = 2;
    }

    // The PMU descriptor as the API's start-up leaves it.
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
    template <typename Run>
    std::string Output(Run run)
    {
        testing::internal::CaptureStdout();
        run();
        return testing::internal::GetCapturedStdout();
    }

    sim::Receiver receiver{FastSleeps()};
    sim::StandardBoard board{receiver};
    sim::PtyLine line{receiver, "/dev/ttyS5"};
    loader_test::ScriptedPeer peer{line};
    LOADER_ENV env = loader_test::FreshRecord("/dev/ttyS5");
    int pmuFd = -1;
};

TEST_F(Radio, AnUnidentifiedInternalRadioIsPowerCycledBeforeThePOCFrames)
{
    ConnectPmu();
    peer.On(B({0x01, 0x34, 0xCB}), 3, [](int) { return B({0x01, 0x34, 0x05, 0xC6}); });
    peer.On(B({0x01, 0x33, 0xCC}), 3, [](int) { return B({0x01, 0x33, 0x00, 0x02, 0x00, 0x0A, 0x01, 0x2C}); });
    peer.On(B({0x01, 0x1D, 0x02, 0xE0}), 4, [](int) { return B({0x01, 0x1D, 0x02, 0xE0}); });
    peer.On(POC_FRAME, 7, [](int n) { return n == 3 ? Ack(0x02) : Bytes(); });
    peer.Start();
    OpenPort("38400");

    int result = 0;
    std::string output = Output([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, 1);
    const std::string cycled = "POWER PDL OFF - begin ... end\nPOWER PDL ON - begin ... end\n";
    EXPECT_NE(output.find("Radio Model ID not received (4) or not ADL (0x05)\n"
                          "Version of ADL Radio Detected V02.10(300)\nReset Hard Done\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.substr(output.find(cycled) + cycled.size()), "...");  // one dot per attempt
    EXPECT_EQ(line.HostBitRate(), 9600u);
    std::vector<uint8_t> commands = board.pmu->Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), 0xC2), commands.end());  // radio off, then on
    EXPECT_TRUE(board.pmu->State().uhfPower);

    CloseSerialPort(&env);
    output = Output([&] { PowerOFF(&env); });
    EXPECT_EQ(output, "POWER PDL OFF - begin ... end\n");
    EXPECT_FALSE(board.pmu->State().uhfPower);
    board.pmu->FailCommand(0xC2);
    output = Output([&] { PowerOFF(&env); });
    EXPECT_EQ(output.rfind("POWER PDL OFF - begin ... ERROR ", 0), 0u) << output;
}

TEST_F(Radio, OtherPortsAreNeitherPowerCycledNorPoweredOff)
{
    sim::PtyLine usb{receiver, "/dev/ttyUSB0"};
    loader_test::ScriptedPeer usbPeer{usb};
    env.port_name = "/dev/ttyUSB0";
    usbPeer.On(POC_FRAME, 7, [](int) { return Ack(0x02); });  // silent but for its bootloader
    usbPeer.Start();
    OpenPort("38400");
    GiveImage(10);
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];

    int result = 0;
    std::string output = Output([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, 1);
    EXPECT_NE(output.find("Radio Model ID not received (0) or not ADL (0x00)\n"
                          "Version of ADL Radio Detected V00.00(0)\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("POWER"), std::string::npos);

    CloseSerialPort(&env);
    EXPECT_EQ(Output([&] { PowerOFF(&env); }), "");
    EXPECT_EQ(env.image, nullptr);
    EXPECT_EQ(env.log_fd, -1);
    EXPECT_EQ(fcntl(log[1], F_GETFD), -1);
    close(log[0]);
    EXPECT_TRUE(board.pmu->Commands().empty());
    usbPeer.Stop();
}

TEST_F(Radio, AFailedReopeningEndsTheEntryAfterThePowerOff)
{
    env.port_name = "/dev/ttyS4";
    sim::PtyLine other{receiver, "/dev/ttyS4"};
    OpenPort("38400");
    GiveImage(10);
    receiver.FailOpen("/dev/ttyS4", EIO);
    int result = 0;
    std::string output = Output([&] { result = SwitchToPOCMode(&env); });
    EXPECT_EQ(result, -1);
    const std::string ending = "Can't open COM-Port /dev/ttyS4 !\nOpen Serial Port at 9600 failed\n";
    EXPECT_EQ(output.substr(output.size() - ending.size()), ending);  // no POC attempt
    EXPECT_EQ(env.image, nullptr);
}

TEST_F(Radio, DownloadSendsTheBlocksInOrderUntilOneIsRefused)
{
    peer.On(BLOCK_FRAME, WRITEFILEBLOCK_FRAME_LENGTH, [](int n) { return n == 5 ? Ack(0x0B) : Ack(0x0C); });
    peer.Start();
    OpenPort("115200");
    GiveImage(513);

    env.test_mode = true;  // formats, sends nothing
    EXPECT_EQ(Download(&env), 0);
    env.test_mode = false;
    EXPECT_EQ(Download(&env), 0);
    std::vector<Bytes> frames = peer.Requests();
    ASSERT_EQ(frames.size(), 3u);
    for (unsigned long block = 1; block <= 3; block++) {
        unsigned char expected[MAX_FRAME_LENGTH];
        unsigned long length;
        FormatWRITEFILEBLOCK(expected, length, &env, block);
        EXPECT_EQ(frames[block - 1], Bytes(reinterpret_cast<char *>(expected), length)) << block;
    }

    // The second run's second block (request 5) is answered with another command's code.
    gl_debug_level = 3;
    int result = 0;
    std::string output = Output([&] { result = Download(&env); });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(output.rfind("WRITEFILEBLOCK command :02 0C 01 05 00 00 02 00 03 ", 0), 0u) << output;
    EXPECT_NE(output.find("WRITEFILEBLOCK 2 failed: (8 read)  :02 0B 00 01 06 00 12 03 \n"), std::string::npos);
    usleep(50000);
    EXPECT_EQ(peer.Requests().size(), 5u);
    CloseSerialPort(&env);
}

}  // namespace
