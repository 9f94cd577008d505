// The watchdog as the start-up arms it: feeding keeps it armed, only the
// deliberate stop disarms it.
#include "board.h"
#include "frame_fixture.h"
#include "internal/API_Watchdog.h"

namespace {

class WatchdogTest : public FrameTest {
protected:
    // The receiver's 20 seconds last 200 ms: feeds come well within them.
    WatchdogTest() : FrameTest(0.01) {}
    ~WatchdogTest() override
    {
        API_Watchdog_Stop();
        unitreset::Watchdog();
    }
    sim::Watchdog &dog = *board.watchdog;
};

TEST_F(WatchdogTest, OnlyTheDeliberateStopDisarms)
{
    Started(API_INIT_WATCHDOG);
    EXPECT_EQ(dog.TimeoutSeconds(), 20);
    // A second start-up keeps the one descriptor: the driver takes one opener.
    EXPECT_EQ(Started(API_INIT_WATCHDOG).find("error"), std::string::npos);
    EXPECT_EQ(dog.Opens(), 1);
    EXPECT_EQ(API_Watchdog_Restart(), 0);
    EXPECT_EQ(API_Watchdog_Init(0, 0), 0);
    // A feed after the magic character would undo it.
    EXPECT_EQ(API_Watchdog_Restart(), 0);
    EXPECT_EQ(dog.Feeds(), 2);
    EXPECT_EQ(API_Watchdog_Stop(), 0);
    EXPECT_EQ(dog.MagicCloses(), 1);
    EXPECT_FALSE(dog.IsRunning());

    // Armed and fed again, then the application dies and the kernel closes
    // the device: the board must reboot.
    ASSERT_EQ(API_Watchdog_Init(0, 1), 0);
    EXPECT_EQ(API_Watchdog_Restart(), 0);
    Board_Close(i_wd_fd);
    EXPECT_EQ(dog.UnexpectedCloses(), 1);
    EXPECT_TRUE(simtest::Eventually([this] { return dog.WouldHaveRebooted(); }));
    i_wd_fd = 0;
}

}  // namespace
