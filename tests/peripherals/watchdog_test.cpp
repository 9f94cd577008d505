// Arming, feeding, disarming and closing the board's watchdog, and each
// driver failure with its own code.
#include <errno.h>

#include "API_Watchdog.h"
#include "peripherals_fixture.h"

namespace {

TEST_F(PeripheralsTest, WatchdogArmsWithSixtySecondsByDefaultAndKeepsOneDescriptor)
{
    sim::Watchdog &dog = *board.watchdog;
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);  // nothing armed: nothing opened or written
    EXPECT_EQ(API_Watchdog_Init(20, 0), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Init(20, 2), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 0);
    ASSERT_EQ(API_Watchdog_Init(0, 1), API_ERR_NONE);
    EXPECT_EQ(dog.TimeoutSeconds(), 60);
    ASSERT_EQ(API_Watchdog_Init(30, 1), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(dog.Opens() * 100 + dog.TimeoutSeconds(), 130);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);
    EXPECT_TRUE(dog.IsOpen());  // disarming leaves the closing to Stop
    EXPECT_EQ(API_Watchdog_Stop(), API_ERR_NONE);
    EXPECT_FALSE(dog.IsRunning() || dog.WouldHaveRebooted());
    const int writes = dog.Feeds();
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);  // once closed, nothing is touched
    EXPECT_EQ(dog.Feeds(), writes);
    ASSERT_EQ(API_Watchdog_Init(0, 1), API_ERR_NONE);
    EXPECT_EQ(dog.Opens() * 100 + dog.TimeoutSeconds(), 230);  // 0 keeps the stored time-out
}

TEST_F(PeripheralsTest, WatchdogReportsEachDriverFailureWithItsOwnCode)
{
    sim::Watchdog &dog = *board.watchdog;
    receiver.FailOpen("/dev/watchdog", ENOENT);
    EXPECT_EQ(API_Watchdog_Init(20, 1), API_ERR_OPENING_WATCHDOG);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);  // nothing open to feed
    receiver.ClearOpenFault("/dev/watchdog");
    dog.SetTimeoutRange(1, 100);  // a refused time-out leaves the device open
    EXPECT_EQ(API_Watchdog_Init(500, 1), API_ERR_SETTING_WATCHDOG_TIMEOUT);
    ASSERT_EQ(API_Watchdog_Init(50, 1), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 1);
    dog.FailWrite(EIO);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_KEEP_WATCHDOG_TIME_ALIVE);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_WATCHDOG_WRITE);
    dog.FailWrite(0);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);  // still armed: the retry writes the character
    API_Watchdog_Stop();
    EXPECT_FALSE(dog.IsRunning());
}

}  // namespace
