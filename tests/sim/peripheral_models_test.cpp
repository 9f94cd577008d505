// The board's device models answer the bytes their devices take as those
// devices do, and refuse what the devices refuse: a model that takes
// whatever it is sent would hide the API's faults.
#include <errno.h>
#include <fcntl.h>

#include <gtest/gtest.h>

#include "sim/display.h"
#include "sim/extender.h"
#include "sim/pmu.h"
#include "sim/pushbuttons.h"

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

}  // namespace
