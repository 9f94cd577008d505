// The UHF radio's supply switch and the serial mode of its line.
#include "API_Errors.h"
#include "API_Extender.h"
#include "API_Init.h"
#include "API_NOR.h"
#include "API_Serial_EXTUHF.h"
#include "API_Signal.h"
#include "API_UHF_RX_PacificCrest.h"
#include "pmu_fixture.h"

namespace {

const std::string kCompanion = "02 B3 00 B1";
const std::string kPowerOn = "02 C3 00 C1";
const std::string kPowerOff = "02 C2 00 C0";

TEST_F(PmuTest, SwitchOnStopsAtAFailedCompanion)
{
    pmu.FailCommand(0xB3, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(7), API_ERR_CHECKSUM_TEST);
    EXPECT_EQ(Requests(), std::vector<std::string>{kCompanion});
    EXPECT_FALSE(pmu.State().uhfPower);
    pmu.ClearFaults();
    pmu.FailCommand(0xC3, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
}

TEST_F(PmuTest, SwitchOffSendsBothAndReportsEitherFailure)
{
    sim::PmuState radioOn;
    radioOn.uhfPower = true;
    pmu.SetState(radioOn);
    pmu.FailCommand(0xC2);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(0), API_ERR_SPI_TRANSMISSION);
    EXPECT_EQ(Requests(), (std::vector<std::string>{kPowerOff, kCompanion}));
    EXPECT_TRUE(pmu.State().uhfPower);
    pmu.ClearFaults();
    pmu.FailRequest(2, sim::PmuFault::ShortRead);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(0), API_ERR_READING_FROM_SPI);
    EXPECT_FALSE(pmu.State().uhfPower);
}

class SerialModeTest : public PmuTest {
protected:
    void SetUp() override
    {
        PmuTest::SetUp();
        ASSERT_EQ(API_Signal_Initialize(), 0);
        ASSERT_EQ(API_NOR_Init(), 0);
    }
    void TearDown() override
    {
        API_NOR_Cleanup();
        API_Signal_Cleanup();
        PmuTest::TearDown();
    }
    std::string NorCharacter() const { return board.nor->PeekText(0x39197, 1); }
};

TEST_F(SerialModeTest, ModeGoesToTheDriverAndToNorAsACharacter)
{
    int mode = -1;
    EXPECT_EQ(API_EXTUHF_SetSerialMode(1), 0);
    EXPECT_EQ(board.gpio->SerialMode(), 1);
    EXPECT_EQ(NorCharacter(), "1");
    EXPECT_EQ(API_EXTUHF_GetSerialMode(&mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), 0);
    EXPECT_EQ(NorCharacter(), "0");
}

TEST_F(SerialModeTest, BadModesAndFailingRequestsChangeNothing)
{
    ASSERT_EQ(API_EXTUHF_SetSerialMode(1), 0);
    board.nor->ClearWrites();
    for (int mode : {2, -1})
        EXPECT_EQ(API_EXTUHF_SetSerialMode(mode), API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF);

    board.gpio->FailIoctl(sim::GpioDriver::kSetSerialMode, EIO);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), API_ERR_EXTERNAL_UHF_IOCTL);
    EXPECT_EQ(board.gpio->SerialMode(), 1);
    EXPECT_TRUE(board.nor->Writes().empty());

    board.gpio->FailIoctl(sim::GpioDriver::kGetSerialMode, EIO);
    int mode = 7;
    EXPECT_EQ(API_EXTUHF_GetSerialMode(&mode), API_ERR_EXTERNAL_UHF_IOCTL);
    EXPECT_EQ(mode, 7);
    board.gpio->ClearIoctlFaults();

    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), API_ERR_NOR_FLASH_WRITE);
    board.nor->ClearFaults();

    // With the GPIO device closed no request goes anywhere.
    API_Signal_Cleanup();
    EXPECT_EQ(API_EXTUHF_SetSerialMode(1), API_ERR_EXTERNAL_UHF_IOCTL);
    EXPECT_EQ(API_EXTUHF_GetSerialMode(&mode), API_ERR_EXTERNAL_UHF_IOCTL);
}

// The loader's use of these units, started the way its start-up starts them.
TEST(RadioLoadPicture, PowerCycleAndPortOpeningShowInTheDeviceLogs)
{
    sim::Receiver receiver(PmuTestReceiver());
    sim::StandardBoard board(receiver);
    board.gpio->SetSerialMode(1);
    const int units = API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_NOR | API_INIT_POWER_EVENTS |
                      API_INIT_NO_AUTOSTART | API_INIT_EXTENDER;
    ASSERT_EQ(API_Initialize(units), 0);
    EXPECT_EQ(board.pmu->Log().Lines(), std::vector<std::string>{"02 7E 00 7C"});
    EXPECT_TRUE(board.extender->Log().Contains("write 00 02"));

    ASSERT_EQ(API_UHF_RX_PacificCrest_TurnOn(1), 0);
    EXPECT_EQ(API_EXTUHF_SetSerialMode(0), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 3, 0), 0);
    EXPECT_EQ(board.gpio->SerialMode(), 0);
    EXPECT_TRUE(board.extender->IsOutput(true, 3));
    EXPECT_EQ(board.extender->PinLevel(true, 3), 0);

    board.pmu->FailCommand(0xC2);
    EXPECT_EQ(API_UHF_RX_PacificCrest_TurnOn(0), API_ERR_SPI_TRANSMISSION);
    API_Finalize();
    EXPECT_EQ(board.pmu->Log().Lines(),
              (std::vector<std::string>{"02 7E 00 7C", kCompanion, kPowerOn, kPowerOff, kCompanion}));
}

}  // namespace
