// Push buttons: the present state from the driver, the boot state from NOR.
#include <errno.h>

#include <thread>

#include "API_Errors.h"
#include "API_MMI.h"
#include "API_NOR.h"
#include "peripherals_fixture.h"

namespace {

using PushButtonsTest = PeripheralsTest;

TEST_F(PushButtonsTest, ReadsEachButtonAsTheDriverReportsIt)
{
    int record = -1, scroll = 42;
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_OPEN_DEV_PUSHBUTTON);
    EXPECT_EQ(scroll, 42);

    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    board.pushbuttons->SetRecord(1);
    board.pushbuttons->SetScroll(7);  // passed on as the driver gives it
    EXPECT_EQ(API_MMI_IsRecordPressed(&record), API_ERR_NONE);
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_NONE);
    EXPECT_EQ(record, 1);
    EXPECT_EQ(scroll, 7);

    board.pushbuttons->FailIoctl(EIO);
    EXPECT_EQ(API_MMI_IsRecordPressed(&record), API_ERR_IOCTL_DEV_PUSHBUTTON);
    EXPECT_EQ(record, 1);
}

TEST_F(PushButtonsTest, StartAndCleanupCanFailOrRepeatWithoutLosingTrack)
{
    receiver.FailOpen("/dev/pushbuttons", ENOENT);
    EXPECT_EQ(API_MMI_Init(), API_ERR_PUSHBUTTON_INITIALIZAION);
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    receiver.ClearOpenFault("/dev/pushbuttons");

    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    ASSERT_EQ(API_MMI_Init(), API_ERR_NONE);
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 1);
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    EXPECT_EQ(board.pushbuttons->OpenDescriptors(), 0);
    EXPECT_EQ(API_MMI_Cleanup(), API_ERR_NONE);
    int scroll = 0;
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll), API_ERR_OPEN_DEV_PUSHBUTTON);
}

TEST_F(PushButtonsTest, BootStateIsReadOnceClearedInNorAndThenRemembered)
{
    sim::SetBootButtons(*board.nor, 0x01, 0x05);
    int pressed = -1;
    // Failed reads and clears remember nothing: the bytes stay for the next try.
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&pressed), API_ERR_READING_NOR_FLASH);
    ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&pressed), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(pressed, -1);
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0x01}, uint8_t{0x05}));
    board.nor->ClearFaults();

    // Two first readers at once: each still sees the bytes the boot left.
    board.nor->SetAccessDelayUs(2000);
    int record = -1, scroll = -1;
    std::thread recordReader([&] { EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&record), API_ERR_NONE); });
    std::thread scrollReader([&] { EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_NONE); });
    recordReader.join();
    scrollReader.join();
    EXPECT_EQ(record, 1);
    EXPECT_EQ(scroll, 1);
    EXPECT_EQ(sim::BootButtons(*board.nor), std::make_pair(uint8_t{0}, uint8_t{0}));

    // Answered from memory afterwards.
    board.nor->ClearWrites();
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&scroll), API_ERR_NONE);
    EXPECT_EQ(scroll, 1);
    EXPECT_TRUE(board.nor->Writes().empty());
    API_NOR_Cleanup();
}

}  // namespace
