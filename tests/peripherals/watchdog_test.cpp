// Arming, feeding, disarming and closing the board's watchdog.
#include <errno.h>

#include <chrono>
#include <thread>

#include "API_Errors.h"
#include "API_Watchdog.h"
#include "peripherals_fixture.h"

namespace {

class WatchdogTest : public PeripheralsTest {
protected:
    sim::Watchdog &dog = *board.watchdog;
};

TEST_F(WatchdogTest, ArmsWithSixtySecondsByDefaultFeedsAndStopsWithTheMagicClose)
{
    // Nothing armed yet: nothing is opened or written.
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Init(20, 0), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Init(20, 2), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 0);

    ASSERT_EQ(API_Watchdog_Init(0, 1), API_ERR_NONE);
    EXPECT_TRUE(dog.Log().Contains("timeout 60"));
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(dog.Feeds(), 2);

    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);
    EXPECT_TRUE(dog.IsOpen());  // disarming leaves the closing to Stop
    EXPECT_EQ(API_Watchdog_Stop(), API_ERR_NONE);
    EXPECT_FALSE(dog.IsRunning());
    EXPECT_EQ(dog.MagicCloses(), 1);
    EXPECT_FALSE(dog.WouldHaveRebooted());
}

TEST_F(WatchdogTest, SecondArmKeepsTheOpenDescriptorAndStopForgetsIt)
{
    ASSERT_EQ(API_Watchdog_Init(20, 1), API_ERR_NONE);
    ASSERT_EQ(API_Watchdog_Init(30, 1), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 1);
    EXPECT_EQ(dog.TimeoutSeconds(), 30);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(dog.Feeds(), 1);

    // Once closed, later calls touch nothing and a new arm opens the device again.
    API_Watchdog_Stop();
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);
    EXPECT_EQ(dog.Feeds(), 1);
    ASSERT_EQ(API_Watchdog_Init(0, 1), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 2);
    EXPECT_EQ(dog.TimeoutSeconds(), 30);  // 0 keeps the stored time-out
}

TEST_F(WatchdogTest, LeftArmedAndUnfedTheBoardWouldReboot)
{
    ASSERT_EQ(API_Watchdog_Init(1, 1), API_ERR_NONE);
    API_Watchdog_Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // 20 receiver seconds
    EXPECT_TRUE(dog.WouldHaveRebooted());
}

TEST_F(WatchdogTest, ReportsEachDriverFailureWithItsOwnCode)
{
    receiver.FailOpen("/dev/watchdog", ENOENT);
    EXPECT_EQ(API_Watchdog_Init(20, 1), API_ERR_OPENING_WATCHDOG);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_NONE);  // nothing open to feed
    receiver.ClearOpenFault("/dev/watchdog");

    // A refused time-out leaves the device open; a valid one then arms it.
    dog.SetTimeoutRange(1, 100);
    EXPECT_EQ(API_Watchdog_Init(500, 1), API_ERR_SETTING_WATCHDOG_TIMEOUT);
    EXPECT_TRUE(dog.IsOpen());
    ASSERT_EQ(API_Watchdog_Init(50, 1), API_ERR_NONE);
    EXPECT_EQ(dog.Opens(), 1);

    dog.FailWrite(EIO);
    EXPECT_EQ(API_Watchdog_Restart(), API_ERR_KEEP_WATCHDOG_TIME_ALIVE);
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_WATCHDOG_WRITE);
    dog.FailWrite(0);
    // Still armed after the failed disarm, so the retry writes the character.
    EXPECT_EQ(API_Watchdog_Init(0, 0), API_ERR_NONE);
    API_Watchdog_Stop();
    EXPECT_FALSE(dog.IsRunning());
}

}  // namespace
