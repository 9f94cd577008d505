// The buzzer and the GNSS lines, seen as the PMU requests they send.
#include "API_Buzzer.h"
#include "API_Errors.h"
#include "API_GNSS.h"
#include "peripherals_fixture.h"

namespace {

using BuzzerTest = PmuUnitTest;
using GnssLinesTest = PmuUnitTest;

std::string Request(unsigned char command, unsigned char parameter)
{
    char text[16];
    snprintf(text, sizeof text, "02 %02X %02X %02X", command, parameter, 0x02 ^ command ^ parameter);
    return text;
}

TEST_F(BuzzerTest, SendsToneDurationAndStartForFrequenciesAcrossTheTable)
{
    const struct {
        unsigned frequency;
        int duration;
        unsigned char tone, durationByte;
    } cases[] = {
        {0, 1, 255, 1},      {305, 1, 255, 1},    {306, 300, 254, 0x2C}, {400, 1, 203, 1},
        {480, 1, 160, 1},    {500, -1, 155, 0xFF}, {1000, 1, 88, 1},     {2000, 1, 41, 1},
        {3000, 1, 26, 1},    {4650, 255, 16, 255}, {4651, 1, 255, 1},    {0xFFFFFFFFu, 1, 255, 1},
    };
    for (const auto &c : cases) {
        board.pmu->Log().Clear();
        ASSERT_EQ(API_Buzzer_Beep(c.frequency, c.duration), API_ERR_NONE) << c.frequency;
        EXPECT_EQ(board.pmu->Log().Lines(), (std::vector<std::string>{Request(0xF4, c.tone),
                                                                      Request(0xF5, c.durationByte), "02 F3 00 F1"}))
            << c.frequency << " Hz";
    }
    EXPECT_TRUE(board.pmu->State().buzzerSounding);
    EXPECT_EQ(API_Buzzer_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(board.pmu->Log().Lines().back(), "02 F2 00 F0");
    EXPECT_FALSE(board.pmu->State().buzzerSounding);
}

TEST_F(BuzzerTest, StopsAtTheFirstFailingExchange)
{
    board.pmu->FailCommand(0xF4);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_SPI_TRANSMISSION);
    board.pmu->ClearFaults();
    board.pmu->FailCommand(0xF5, sim::PmuFault::BadChecksum);
    EXPECT_EQ(API_Buzzer_Beep(1000, 5), API_ERR_CHECKSUM_TEST);
    EXPECT_EQ(board.pmu->Commands(), (std::vector<uint8_t>{0xF4, 0xF4, 0xF5}));
}

TEST_F(GnssLinesTest, SettersSendOneRequestEachAndRefuseOtherLevels)
{
    EXPECT_EQ(API_GNSS_SetPowerState(1), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_SetPowerState(5), API_ERR_NONE);  // any other value is off
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(1), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_SetResetPinLevel(1), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(1), API_ERR_NONE);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(0), API_ERR_NONE);
    EXPECT_EQ(board.pmu->Log().Lines(),
              (std::vector<std::string>{Request(0x99, 1), Request(0x98, 1), Request(0x92, 1), Request(0x96, 1),
                                        "02 95 00 97", Request(0x94, 0)}));
    sim::PmuState state = board.pmu->State();
    EXPECT_FALSE(state.gnssPower);
    EXPECT_TRUE(state.gnssWakeupHigh && state.gnssResetHigh);

    EXPECT_EQ(API_GNSS_SetResetPinLevel(2), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetWakeupPinLevel(0xFFFFFFFFu), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(API_GNSS_SetBootPinLevel(-1), API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS);
    EXPECT_EQ(board.pmu->RequestCount(), 6);
}

TEST_F(GnssLinesTest, QueriesReportOneOnlyForAnExactOneAndKeepTheValueOnFailure)
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

    board.pmu->FailRequest(1, sim::PmuFault::WrongEcho);
    EXPECT_EQ(API_GNSS_GetPowerState(&values[0]), API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY);
    board.pmu->FailRequest(1, sim::PmuFault::ShortWrite);
    EXPECT_EQ(API_GNSS_GetPowerState(&values[0]), API_ERR_WRITING_SPI);
    board.pmu->SetData(0x9B, 1);
    board.pmu->SetState({});
    EXPECT_EQ(values[0], 1);
    // The bus lock was released on the failing paths.
    EXPECT_EQ(API_GNSS_GetSourceClk(&values[4]), API_ERR_NONE);
    EXPECT_EQ(values[4], 1);
}

}  // namespace
