// The power-off sequence that ends every run once the port has been opened.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "board.h"
#include "internal/API_PM.h"
#include "loader_test_support.h"
#include "orvaflash.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

namespace {

std::string PowerOffOutput(LOADER_ENV &env)
{
    // The PMU descriptor as the API's start-up leaves it; the shut-down may close it.
    int pmu = Board_Open("/dev/pmu", O_RDWR, 0);
    EXPECT_GT(pmu, 0);
    ifd_pmu = pmu;
    env.image = static_cast<unsigned char *>(malloc(300));
    testing::internal::CaptureStdout();
    PowerOFF(&env);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(env.image, nullptr);
    if (ifd_pmu == pmu && fcntl(pmu, F_GETFD) != -1)
        Board_Close(pmu);
    ifd_pmu = 0;
    return output;
}

TEST(PowerOff, SwitchesOnlyTheInternalRadioOffAndReleasesTheRun)
{
    sim::Receiver receiver;
    sim::StandardBoard board(receiver);
    board.pmu->SetState([] {
        sim::PmuState powered;
        powered.uhfPower = true;
        return powered;
    }());

    LOADER_ENV env = loader_test::FreshRecord("/dev/ttyUSB0");
    int log[2];
    ASSERT_EQ(pipe(log), 0);
    env.log_fd = log[1];
    EXPECT_EQ(PowerOffOutput(env), "");
    EXPECT_TRUE(board.pmu->State().uhfPower);
    EXPECT_EQ(env.log_fd, -1);
    EXPECT_EQ(fcntl(log[1], F_GETFD), -1);  // closed
    close(log[0]);

    env.port_name = "/dev/ttyS5";
    EXPECT_EQ(PowerOffOutput(env), "POWER PDL OFF - begin ... end\n");
    EXPECT_FALSE(board.pmu->State().uhfPower);

    board.pmu->FailCommand(0xC2);
    std::string output = PowerOffOutput(env);
    EXPECT_EQ(output.rfind("POWER PDL OFF - begin ... ERROR ", 0), 0u) << output;
    EXPECT_EQ(output.find("end"), std::string::npos);
}

}  // namespace
