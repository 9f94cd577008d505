// The buzzer and the GNSS lines, seen as the PMU requests they send.
#include "API_Buzzer.h"
#include "API_GNSS.h"
#include "peripherals_fixture.h"
#include "standard_input.h"

namespace {

using Lines = std::vector<std::string>;

std::string Request(unsigned char command, unsigned char parameter)
{
    char text[16];
    snprintf(text, sizeof text, "02 %02X %02X %02X", command, parameter, 0x02 ^ command ^ parameter);
    return text;
}

TEST_F(PmuUnitTest, BuzzerSendsToneDurationAndStartAcrossTheTable)
{
    const struct {
        unsigned frequency;
        int duration;
        unsigned char tone, durationByte;
    } cases[] = {
        {0, 1, 255, 1},   {305, 1, 255, 1},     {306, 300, 254, 0x2C}, {400, 1, 203, 1},
        {480, 1, 160, 1}, {500, -1, 155, 0xFF}, {521, 1, 150, 1},      {673, 1, 123, 1},
        {1000, 1, 88, 1}, {1157, 1, 77, 1},     {1465, 1, 63, 1},      {2000, 1, 41, 1},
        {3000, 1, 26, 1}, {4650, 255, 16, 255}, {4651, 1, 255, 1},     {0xFFFFFFFFu, 1, 255, 1},
    };
    for (const auto &c : cases) {
        board.pmu->Log().Clear();
        ASSERT_EQ(API_Buzzer_Beep(c.frequency, c.duration), API_ERR_NONE) << c.frequency;
        EXPECT_EQ(board.pmu->Log().Lines(),
                  (Lines{Request(0xF4, c.tone), Request(0xF5, c.durationByte), "02 F3 00 F1"}))
            << c.frequency << " Hz";
    }
    EXPECT_TRUE(board.pmu->State().buzzerSounding);
    EXPECT_EQ(API_Buzzer_Init(), API_ERR_NONE);
    EXPECT_EQ(API_Buzzer_Cleanup(), API_ERR_NONE);
    EXPECT_FALSE(board.pmu->State().buzzerSounding);

    board.pmu->FailCommand(0xF4);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_SPI_TRANSMISSION);
    board.pmu->ClearFaults();
    board.pmu->FailCommand(0xF5, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_CHECKSUM_TEST);
    board.pmu->FailCommand(0xF2);
    EXPECT_EQ(API_Buzzer_Cleanup(), API_ERR_SPI_TRANSMISSION);
    const std::vector<uint8_t> commands = board.pmu->Commands();
    EXPECT_EQ(std::vector<uint8_t>(commands.end() - 4, commands.end()), (std::vector<uint8_t>{0xF4, 0xF4, 0xF5, 0xF2}));
}

TEST_F(PmuUnitTest, GnssSettersSendOneRequestEachAndRefuseOtherLevels)
{
    for (int level : {1, 0}) {
        EXPECT_EQ(API_GNSS_SetPowerState(level ? 1 : 5), API_ERR_NONE);  // anything but 1 is off
        EXPECT_EQ(API_GNSS_SetWakeupPinLevel(level), API_ERR_NONE);
        EXPECT_EQ(API_GNSS_SetResetPinLevel(level), API_ERR_NONE);
        EXPECT_EQ(API_GNSS_SetBootPinLevel(level), API_ERR_NONE);
    }
    EXPECT_EQ(board.pmu->Log().Lines(),
              (Lines{Request(0x99, 1), Request(0x92, 1), Request(0x96, 1), "02 95 00 97", Request(0x98, 1),
                     Request(0x92, 0), Request(0x96, 0), Request(0x94, 0)}));
    EXPECT_EQ(API_GNSS_SetResetPinLevel(2), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(0xFFFFFFFFu), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(2), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(-1), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(board.pmu->RequestCount(), 8);
    board.pmu->FailCommand(0x92, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(1), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
}

TEST_F(PmuUnitTest, GnssQueriesReportOneOnlyForAnExactOneAndKeepTheValueOnFailure)
{
    sim::PmuState lines;
    lines.gnssPower = lines.gnssBootHigh = true;
    board.pmu->SetState(lines);
    board.pmu->SetData(0x9B, 2);
    int values[5] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(API_GNSS_GetPowerState(&values[0]), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_GetWakeupPinLevel(&values[1]), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_GetResetPinLevel(&values[2]), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_GetBootPinLevel(&values[3]), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_GetSourceClk(&values[4]), API_ERR_NONE);
    EXPECT_EQ(std::vector<int>(values, values + 5), (std::vector<int>{1, 0, 0, 1, 0}));
    EXPECT_EQ(board.pmu->Commands(), (std::vector<uint8_t>{0x9A, 0x9E, 0x9F, 0xA0, 0x9B}));

    for (auto fault : {sim::PmuFault::WrongEcho, sim::PmuFault::ShortWrite}) {
        board.pmu->FailRequest(1, fault);
        EXPECT_NE(API_GNSS_GetPowerState(&values[0]), API_ERR_NONE);
    }
    board.pmu->SetState({});
    EXPECT_EQ(values[0], 1);
    board.pmu->SetData(0x9B, 1);
    EXPECT_EQ(API_GNSS_GetSourceClk(&values[4]), API_ERR_NONE);  // the lock was let go on failure
    EXPECT_EQ(values[4], 1);
}

using ClosedDevice = PeripheralsTest;

TEST_F(ClosedDevice, NoPeripheralReachesStandardInput)
{
    static int i;
    simtest::ExpectRefusalsLeaveStandardInput({
        {"beep", [] { return API_Buzzer_Beep(1000, 5); }, API_ERR_SPI_TRANSMISSION},
        {"buzzer off", [] { return API_Buzzer_Cleanup(); }, API_ERR_SPI_TRANSMISSION},
        {"gnss query", [] { return API_GNSS_GetSourceClk(&i); }, API_ERR_SPI_TRANSMISSION},
        {"gnss line", [] { return API_GNSS_SetBootPinLevel(1); }, API_ERR_SPI_TRANSMISSION},
        {"gnss power", [] { return API_GNSS_SetPowerState(1); }, API_ERR_SPI_TRANSMISSION},
        {"record", [] { return API_MMI_IsRecordPressed(&i); }, API_ERR_OPEN_DEV_PUSHBUTTON},
        {"scroll", [] { return API_MMI_IsScrollPressed(&i); }, API_ERR_OPEN_DEV_PUSHBUTTON},
    });
}

}  // namespace
