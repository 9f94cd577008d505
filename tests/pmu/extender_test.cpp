// The GPIO extender unit against the simulated extender's register log.
#include "API_Errors.h"
#include "API_Extender.h"
#include "internal/API_Extender.h"
#include "sim/receiver.h"
#include "sim/standard_board.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

class ExtenderTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (fd_extender > 0)
            API_Extender_Cleanup();
        fd_extender = 0;
    }
    void InitAndClearLog()
    {
        ASSERT_EQ(API_Extender_Init(), 0);
        extender.Log().Clear();
    }
    Lines Log() const { return extender.Log().Lines(); }

    sim::Receiver receiver;
    sim::StandardBoard board{receiver};
    sim::Extender &extender = *board.extender;
};

TEST_F(ExtenderTest, InitLatchesPinLevelsBeforeSettingDirections)
{
    extender.SetInputLevels(true, 0xA5);
    extender.SetInputLevels(false, 0x3C);
    ASSERT_EQ(API_Extender_Init(), 0);
    EXPECT_EQ(Log(), (Lines{"read 12 = A5", "write 12 A5", "read 13 = 3C", "write 13 3C", "write 00 02",
                            "write 01 00"}));
    // Outputs keep the levels the pins had; port A line 2 stays an input.
    extender.SetInputLevels(true, 0x00);
    extender.SetInputLevels(false, 0x00);
    EXPECT_EQ(extender.Register(0x12), 0xA5);
    EXPECT_FALSE(extender.IsOutput(true, 2));
    EXPECT_EQ(extender.PinLevel(true, 2), 0);
    EXPECT_EQ(extender.PinLevel(true, 3), 1);
    EXPECT_EQ(extender.PinLevel(false, 3), 1);
}

TEST_F(ExtenderTest, InitStopsAtTheFirstFailure)
{
    extender.FailRead(0x13);
    EXPECT_EQ(API_Extender_Init(), API_ERR_READING_FROM_EXTENDER);
    EXPECT_EQ(Log().back(), "read 13 failed");
    ASSERT_EQ(API_Extender_Cleanup(), 0);

    extender.ClearFaults();
    extender.FailWrite(0x00);
    extender.Log().Clear();
    EXPECT_EQ(API_Extender_Init(), API_ERR_WRITING_EXTENDER);
    EXPECT_EQ(Log().back(), "write 00 02 failed");
    ASSERT_EQ(API_Extender_Cleanup(), 0);

    receiver.FailOpen("/dev/extender", ENOENT);
    EXPECT_EQ(API_Extender_Init(), API_ERR_OPEN_EXTENDER);
    EXPECT_EQ(fd_extender, -1);
    EXPECT_EQ(API_Extender_Cleanup(), API_ERR_EXTENDER_CLEANUP);
}

TEST_F(ExtenderTest, LevelAndDirectionChangesRewriteOneBit)
{
    extender.SetInputLevels(true, 0xFF);
    InitAndClearLog();
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 3, 0), 0);
    EXPECT_EQ(Log(), (Lines{"read 00 = 02", "read 12 = FF", "write 12 FB"}));
    EXPECT_EQ(extender.PinLevel(true, 3), 0);

    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 0), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(0, 8, 5), 0);
    EXPECT_EQ(extender.PinLevel(false, 8), 1);
    int level = -1;
    EXPECT_EQ(API_Extender_GetStatusGpio(0, 8, &level), 0);
    EXPECT_EQ(level, 1);
    EXPECT_EQ(Log().back(), "read 13 = FF");

    extender.Log().Clear();
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 2, 1), API_ERR_EXTENDER_INPUT_NOT_FORCEABLE);
    EXPECT_EQ(Log(), Lines{"read 00 = 02"});
    extender.FailWrite(0x12);
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 4, 0), API_ERR_WRITING_EXTENDER);

    extender.SetRegister(0x01, 0xFF);
    extender.Log().Clear();
    EXPECT_EQ(API_Extender_SetConfigGpio(0, 8, 1), 0);
    EXPECT_EQ(Log(), (Lines{"read 01 = FF", "write 01 7F"}));
    EXPECT_EQ(API_Extender_SetConfigGpio(1, 5, 0), 0);
    EXPECT_EQ(extender.Register(0x00), 0x12);
    extender.FailRead(0x12);
    EXPECT_EQ(API_Extender_GetStatusGpio(1, 4, &level), API_ERR_READING_FROM_EXTENDER);
}

TEST_F(ExtenderTest, LineOutsideOneToEightIsRefusedBeforeAnyAccess)
{
    InitAndClearLog();
    int level = -1;
    for (unsigned char line : {0, 9, 255}) {
        EXPECT_EQ(API_Extender_GetStatusGpio(1, line, &level), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
        EXPECT_EQ(API_Extender_SetStatusGpio(1, line, 0), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
        EXPECT_EQ(API_Extender_SetConfigGpio(0, line, 1), API_ERR_EXTENDER_INVALID_GPIO_NUMBER);
    }
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(level, -1);
}

TEST_F(ExtenderTest, AfterCleanupNothingReachesAStaleDescriptor)
{
    InitAndClearLog();
    InitAndClearLog();
    EXPECT_EQ(receiver.OpenDescriptors().size(), 1u);
    EXPECT_EQ(API_Extender_Cleanup(), 0);
    EXPECT_EQ(API_Extender_Cleanup(), 0);
    EXPECT_EQ(API_Extender_SetStatusGpio(1, 3, 0), API_ERR_READING_FROM_EXTENDER);
    EXPECT_TRUE(Log().empty());
}

}  // namespace
