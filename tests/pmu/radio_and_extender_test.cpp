// The UHF radio's supply and serial mode, and the GPIO extender's registers.
#include "API_Extender.h"
#include "API_NOR.h"
#include "API_Serial_EXTUHF.h"
#include "API_Signal.h"
#include "API_UHF_RX_PacificCrest.h"
#include "internal/API_Extender.h"
#include "pmu_fixture.h"

namespace {

TEST_F(PmuTest, RadioSwitchOnStopsAtAFailedCompanionSwitchOffSendsBoth)
{
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(7), 0);
    pmu.FailRequest(1, sim::PmuFault::FailureAnswer);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(0), API_ERR_SPI_TRANSMISSION);
    EXPECT_TRUE(pmu.State().uhfPower);
    pmu.FailRequest(2, sim::PmuFault::ShortRead);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(0), API_ERR_READING_FROM_SPI);
    EXPECT_FALSE(pmu.State().uhfPower);
    pmu.FailCommand(0xB3, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), API_ERR_CHECKSUM_TEST);
    pmu.ClearFaults();
    pmu.FailCommand(0xC3, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
    const std::string companion = "02 B3 00 B1", on = "02 C3 00 C1", off = "02 C2 00 C0";
    EXPECT_EQ(Requests(), (Lines{companion, on, off, companion, off, companion, companion, companion, on}));
    EXPECT_EQ(Pauses(6), (std::vector<long>{kRequestPause, kReplyPause, kRequestPause, kRequestPause, kReplyPause,
                                            kRequestPause}));
}

TEST_F(PmuTest, SerialModeGoesToTheDriverAndToNorAsACharacterOrNowhere)
{
    ASSERT_EQ(API_Signal_Initialize(), 0);
    ASSERT_EQ(API_NOR_Init(), 0);
    int read = -1;
    for (int mode : {1, 0}) {
        EXPECT_EQ(API_EXTUHF_SetSerialMode(mode), 0);
        EXPECT_EQ(API_EXTUHF_GetSerialMode(&read), 0);
        EXPECT_EQ(board.gpio->SerialMode() * 10 + read, mode * 11);
        EXPECT_EQ(board.nor->PeekText(0x39197, 1), mode ? "1" : "0");
    }
    board.nor->ClearWrites();
    EXPECT_EQ(API_EXTUHF_SetSerialMode(2), API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(-1), API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF);
    board.gpio->FailIoctl(sim::GpioDriver::kSetSerialMode, EIO);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(1), API_ERR_EXTERNAL_UHF_IOCTL);
    EXPECT_TRUE(board.nor->Writes().empty());
    board.gpio->FailIoctl(sim::GpioDriver::kGetSerialMode, EIO);
    EXPECT_EQ(API_EXTUHF_GetSerialMode(&read), API_ERR_EXTERNAL_UHF_IOCTL);
    EXPECT_EQ(API_EXTUHF_GetSerialMode(nullptr), API_ERR_INVALID_PARAMETERS);
    board.gpio->ClearIoctlFaults();
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), API_ERR_NOR_FLASH_WRITE);
    API_NOR_Cleanup();
    API_Signal_Cleanup();
}

class Extender : public simtest::SimTest {
protected:
    ~Extender() override
    {
        API_Extender_Cleanup();
        unitreset::Extender();
    }
    Lines Log() const { return board.extender->Log().Lines(); }
};

TEST_F(Extender, StartLatchesPinLevelsBeforeSettingDirectionsAndStopsAtAFailure)
{
    board.extender->SetInputLevels(true, 0xA5);
    board.extender->SetInputLevels(false, 0x3C);
    ASSERT_EQ(API_Extender_Init(), 0);
    EXPECT_EQ(Log(),
              (Lines{"read 12 = A5", "write 12 A5", "read 13 = 3C", "write 13 3C", "write 00 02", "write 01 00"}));
    ASSERT_EQ(API_Extender_Init(), 0);  // again: the first device is not left open
    EXPECT_EQ(receiver.OpenDescriptors().size(), 1u);
    board.extender->FailRead(0x13);
    EXPECT_EQ(API_Extender_Init(), API_ERR_READING_FROM_EXTENDER);
    board.extender->ClearFaults();
    board.extender->FailWrite(0x00);
    EXPECT_EQ(API_Extender_Init(), API_ERR_WRITING_EXTENDER);
    EXPECT_EQ(Log().back(), "write 00 02 failed");
    receiver.FailOpen("/dev/extender", ENOENT);
    EXPECT_EQ(API_Extender_Init(), API_ERR_OPEN_EXTENDER);
    EXPECT_EQ(fd_extender, -1);
    EXPECT_EQ(API_Extender_Cleanup(), API_ERR_EXTENDER_CLEANUP);
}

TEST_F(Extender, LevelAndDirectionChangesRewriteOneBit)
{
    ASSERT_EQ(API_Extender_Init(), 0);
    board.extender->Log().Clear();
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 3, 0), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 0), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 5), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 2, 1), API_ERR_EXTENDER_INPUT_NOT_FORCEABLE);
    board.extender->SetRegister(0x01, 0xFF);
    EXPECT_EQ(API_Extender_SetConfigGpio(0, 8, 1), 0);
    EXPECT_EQ(API_Extender_SetConfigGpio(1, 5, 0), 0);
    int a3 = -1, b8 = -1;
    EXPECT_EQ(API_Extender_GetStatusGpio(1, 3, &a3), 0);
    EXPECT_EQ(API_Extender_GetStatusGpio(0, 8, &b8), 0);
    EXPECT_EQ(Log(),
              (Lines{"read 00 = 02", "read 12 = FF", "write 12 FB", "read 01 = 00", "read 13 = FF", "write 13 7F",
                     "read 01 = 00", "read 13 = 7F", "write 13 FF", "read 00 = 02", "read 01 = FF", "write 01 7F",
                     "read 00 = 02", "write 00 12", "read 12 = FB", "read 13 = FF"}));
    EXPECT_EQ(a3 * 10 + b8, 1);
    for (unsigned char line : {0, 9}) {
        EXPECT_EQ(API_Extender_GetStatusGpio(1, line, &a3), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
        EXPECT_EQ(API_Extender_SetStatusGpio(1, line, 0), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
        EXPECT_EQ(API_Extender_SetConfigGpio(1, line, 1), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
    }
    EXPECT_EQ(Log().size(), 16u);
    EXPECT_EQ(API_Extender_GetStatusGpio(1, 1, &a3), 0);  // line 1 is a line
    board.extender->FailWrite();
    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 0), API_ERR_WRITING_EXTENDER);
    EXPECT_EQ(API_Extender_Cleanup(), 0);
    EXPECT_EQ(fd_extender, 0);
    EXPECT_EQ(API_Extender_Cleanup(), 0);  // closes nothing twice
}

}  // namespace
