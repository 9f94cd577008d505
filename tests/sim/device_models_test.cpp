// The board's device models driven directly, as the drivers would be: they
// answer the bytes their devices take as those devices do, and refuse what
// the devices refuse.  A model that takes whatever it is sent would hide the
// API's faults.
#include <errno.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include "sim/display.h"
#include "sim/extender.h"
#include "sim/gpio_driver.h"
#include "sim/nor_flash.h"
#include "sim/pmu.h"
#include "sim/pps.h"
#include "sim/pushbuttons.h"
#include "sim/watchdog.h"
#include "sim_test.h"

namespace {

using Message = sim::Pmu::Message;

TEST(PeripheralModels, PmuAnswersKnownRequestsAndRefusesMalformedOnes)
{
    sim::Pmu pmu;
    pmu.SetTemperatureBytes(55, 25);
    const Message failure{0x02, 0xFF, 0xFF, 0x02};
    // clang-format off
    const std::pair<Message, Message> cases[] = {
        {{0x02, 0xC3, 0x00, 0xC1}, {0x02, 0xC3, 0x00, 0xC1}}, {{0x02, 0x81, 0x00, 0x83}, {0x02, 0x81, 55, 0xB4}},
        {{0x02, 0x99, 0x01, 0x9A}, {0x02, 0x99, 0x00, 0x9B}}, {{0x02, 0x9A, 0x00, 0x98}, {0x02, 0x9A, 0x01, 0x99}},
        {{0x02, 0xF4, 0xA0, 0x56}, {0x02, 0xF4, 0x00, 0xF6}},
        {{0x02, 0xC2, 0x00, 0x00}, failure},  // checksum
        {{0x03, 0xC2, 0x00, 0xC1}, failure},  // header
        {{0x02, 0x50, 0x00, 0x52}, failure},  // unknown command
        {{0x02, 0xC2, 0x01, 0xC1}, failure},  // a parameter where none is taken
        {{0x02, 0x98, 0x00, 0x9A}, failure},  // the GNSS supply switch takes 1
        {{0x02, 0x92, 0x02, 0x92}, failure},  // a level is 0 or 1
    };
    // clang-format on
    for (const auto &[request, expected] : cases) {
        Message reply{};
        EXPECT_EQ(pmu.Write(request.data(), 4), 4);
        EXPECT_EQ(pmu.Read(reply.data(), 4), 4);
        EXPECT_EQ(reply, expected) << std::hex << int(request[1]);
    }
    EXPECT_TRUE(pmu.State().uhfPower && pmu.State().gnssPower);  // the refused ones were not carried out
    EXPECT_EQ(pmu.Refusals(), 6);
    Message reply{};
    EXPECT_EQ(pmu.Write(reply.data(), 3), -1);  // whole messages only
    EXPECT_EQ(pmu.Read(reply.data(), 4), -1);   // and a reply only after a request
}

TEST(PeripheralModels, ExtenderDisplayAndButtonsRefuseWhatTheirDriversRefuse)
{
    using Counts = std::vector<ssize_t>;
    sim::Extender extender;
    uint8_t reg = 0x12, other = 0x14, two[2] = {0x12, 0x00};
    const uint8_t write[3] = {0x12, 0x0F, 0x00}, unknown[2] = {0x02, 0x00};
    // Not one of its four registers, or not one register access per call.
    EXPECT_EQ(
        (Counts{extender.Read(&reg, 1), extender.Write(write, 2), extender.Read(&other, 1), extender.Write(unknown, 2),
                extender.Write(write, 1), extender.Write(write, 3), extender.Read(two, 2)}),
        (Counts{1, 2, -1, -1, -1, -1, -1}));

    sim::Display panel;
    int command = sim::Display::kCommandMode, data = sim::Display::kDataMode, other_mode = 2;
    const uint8_t select[] = {0xB2, 0x0D, 0x17, 0x81, 0x40}, bytes[] = {0x01, 0x80, 0xFF, 0xFF};
    // Write-only; a mode is command or data.
    EXPECT_EQ((Counts{panel.Open(O_RDWR), panel.Open(O_WRONLY), panel.Ioctl(sim::Display::kModeIoctl, &other_mode),
                      panel.Ioctl(sim::Display::kModeIoctl, &command), panel.Write(select, sizeof select),
                      panel.Ioctl(sim::Display::kModeIoctl, &data), panel.Write(bytes, sizeof bytes)}),
              (Counts{-1, 0, -1, 0, 5, 0, 4}));  // page 2, column 0x7D, contrast 0x40
    EXPECT_TRUE(panel.Pixel(125, 16) && panel.Pixel(126, 23) && panel.Contrast() == 0x40);
    EXPECT_EQ(panel.DroppedBytes(), 1u);  // past the last column

    sim::PushButtons buttons;
    int record = -1;
    buttons.SetRecord(5);
    EXPECT_EQ(
        (Counts{buttons.Open(O_RDWR), buttons.Open(O_RDONLY), buttons.Ioctl(sim::PushButtons::kReadRecord, &record),
                record, buttons.Ioctl(0x8004FF03, &record)}),
        (Counts{-1, 0, 0, 5, -1}));  // read-only
    EXPECT_EQ(errno, ENOTTY);
}

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
