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
    ASSERT_EQ(nor.Writes().size(), 1u);
    EXPECT_EQ(nor.Writes()[0].address, 0x39000u);
    EXPECT_EQ(nor.ProgrammedAddresses(), (std::vector<uint32_t>{0x39000, 0x39001}));

    EXPECT_EQ(nor.Lseek(-1, SEEK_SET), -1);
    EXPECT_EQ(nor.Lseek(1, SEEK_END), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(nor.Lseek(-1, SEEK_END), sim::NorFlash::kSize - 1);
    EXPECT_EQ(nor.Write("xy", 2), 1) << "short at the end";
    EXPECT_EQ(nor.Write("z", 1), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(nor.Read(back, 1), 0);
}

TEST(FrameModels, GpioDriverAnswersItsFourRequestsOnly)
{
    sim::GpioDriver gpio;
    uint32_t word = 0;
    gpio.SetPendingEvents(0x42);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetEvents, &word), 0);
    EXPECT_EQ(word, 0x42u);
    EXPECT_EQ(gpio.PendingEvents(), 0u) << "the query clears the word";

    int32_t mode = 1;
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kSetSerialMode, &mode), 0);
    mode = 2;
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kSetSerialMode, &mode), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetSerialMode, &mode), 0);
    EXPECT_EQ(mode, 1);
    gpio.SetDcdLevel(1);
    int32_t level = 0;
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetDcdLevel, &level), 0);
    EXPECT_EQ(level, 1);

    // The request numbers carry the direction and size: a mix-up is unknown.
    EXPECT_EQ(gpio.Ioctl(0x4004FF16, &mode), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetSerialMode, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    gpio.FailIoctl(sim::GpioDriver::kGetEvents, EIO);
    EXPECT_EQ(gpio.Ioctl(sim::GpioDriver::kGetEvents, &word), -1);
    EXPECT_EQ(gpio.EventReads(), 2);
}

TEST(FrameModels, WatchdogStopsOnlyOnACloseRightAfterTheMagicCharacter)
{
    sim::Watchdog dog(0.001);  // a receiver second lasts a millisecond
    ASSERT_EQ(dog.Open(O_WRONLY), 0);
    EXPECT_EQ(dog.Open(O_WRONLY), -1) << "one opener at a time";
    int seconds = 0;
    EXPECT_EQ(dog.Ioctl(sim::Watchdog::kSetTimeout, &seconds), -1);
    EXPECT_EQ(errno, EINVAL);
    seconds = 20;
    EXPECT_EQ(dog.Ioctl(sim::Watchdog::kSetTimeout, &seconds), 0);
    EXPECT_EQ(seconds, 20);
    EXPECT_EQ(dog.Ioctl(0x5706, &seconds), -1);
    EXPECT_EQ(errno, ENOTTY);

    // The magic character, then a feed: the close is a crash's, and the
    // watchdog runs on to its time-out.
    EXPECT_EQ(dog.Write("V", 1), 1);
    EXPECT_EQ(dog.Write("", 1), 1);
    dog.Close();
    EXPECT_EQ(dog.UnexpectedCloses(), 1);
    EXPECT_TRUE(dog.IsRunning());
    EXPECT_TRUE(simtest::Eventually([&] { return dog.WouldHaveRebooted(); }));

    ASSERT_EQ(dog.Open(O_WRONLY), 0);
    EXPECT_EQ(dog.Write("xV", 2), 2);
    dog.Close();
    EXPECT_EQ(dog.MagicCloses(), 1);
    EXPECT_FALSE(dog.IsRunning());
    EXPECT_EQ(dog.Feeds(), 3);
}

TEST(FrameModels, PpsDeviceIsReadOnly)
{
    sim::PpsDevice pps;
    EXPECT_EQ(pps.Open(O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(pps.Open(O_RDONLY), 0);
    EXPECT_EQ(pps.OpenDescriptors(), 1);
    char byte;
    EXPECT_EQ(pps.Write(&byte, 1), -1);
}

}  // namespace
