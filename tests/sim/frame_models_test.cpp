// The frame's device models driven directly, as the drivers would be: what
// they answer and what they refuse.
#include <errno.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include "sim/gpio_driver.h"
#include "sim/nor_flash.h"
#include "sim/pps.h"
#include "sim/watchdog.h"
#include "sim_test.h"

namespace {

TEST(FrameModels, NorFlashIsOneErasedPartitionWithOnePosition)
{
    sim::NorFlash nor;
    ASSERT_EQ(nor.Lseek(0x39000, SEEK_SET), 0x39000);
    EXPECT_EQ(nor.Write("ab", 2), 2);
    EXPECT_EQ(nor.Lseek(-2, SEEK_CUR), 0x39000);
    char back[3];
    EXPECT_EQ(nor.Read(back, 3), 3);
    EXPECT_EQ(std::string(back, 3), "ab\xFF");
    EXPECT_EQ(nor.ProgrammedAddresses(), (std::vector<uint32_t>{0x39000, 0x39001}));
    EXPECT_EQ(nor.Lseek(1, SEEK_END), -1);
    ASSERT_EQ(nor.Lseek(-1, SEEK_END), sim::NorFlash::kSize - 1);
    EXPECT_EQ(nor.Write("xy", 2), 1) << "short at the end";
    EXPECT_EQ(nor.Write("z", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
}

TEST(FrameModels, GpioDriverAnswersItsFourRequestsOnlyAndPpsIsReadOnly)
{
    sim::GpioDriver gpio;
    uint32_t word = 0;
    gpio.SetPendingEvents(0x42);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetEvents, &word), 0);
    EXPECT_EQ(word, 0x42u);
    EXPECT_EQ(gpio.PendingEvents(), 0u) << "the query clears the word";
    int32_t mode = 2;  // the radio line has two modes, 0 and 1
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kSetSerialMode, &mode), -1);
    EXPECT_EQ(errno, EINVAL);
    gpio.SetDcdLevel(1);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetDcdLevel, &mode), 0);
    EXPECT_EQ(mode, 1);
    // The request numbers carry the direction and size: a mix-up is unknown.
    EXPECT_EQ(gpio.Ioctl(0x4004FF16, &mode), -1);
    EXPECT_EQ(errno, ENOTTY);

    sim::PpsDevice pps;  // read-only
    EXPECT_EQ(pps.Open(O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(pps.Open(O_RDONLY), 0);
}

TEST(FrameModels, WatchdogStopsOnlyOnACloseRightAfterTheMagicCharacter)
{
    sim::Watchdog dog(0.001);  // a receiver second lasts a millisecond
    ASSERT_EQ(dog.Open(O_WRONLY), 0);
    EXPECT_EQ(dog.Open(O_WRONLY), -1) << "one opener at a time";
    int seconds = 0;
    EXPECT_EQ(dog.Ioctl(sim::Watchdog::kSetTimeout, &seconds), -1);
    // The magic character, then a feed: the close is a crash's, and the
    // watchdog runs on to its time-out.
    EXPECT_EQ(dog.Write("V", 1), 1);
    EXPECT_EQ(dog.Write("", 1), 1);
    dog.Close();
    EXPECT_TRUE(simtest::Eventually([&] { return dog.WouldHaveRebooted(); }));
    ASSERT_EQ(dog.Open(O_WRONLY), 0);
    EXPECT_EQ(dog.Write("xV", 2), 2);
    dog.Close();
    EXPECT_EQ(dog.MagicCloses(), 1);
    EXPECT_FALSE(dog.IsRunning());
}

}  // namespace
