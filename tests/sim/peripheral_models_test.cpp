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

TEST(PmuModel, AnswersKnownRequestsAndRefusesMalformedOnes)
{
    sim::Pmu pmu;
    pmu.SetTemperatureBytes(55, 25);
    const Message failure{0x02, 0xFF, 0xFF, 0x02};
    const struct {
        Message request, reply;
    } cases[] = {
        {{0x02, 0xC3, 0x00, 0xC1}, {0x02, 0xC3, 0x00, 0xC1}},   {{0x02, 0x81, 0x00, 0x83}, {0x02, 0x81, 55, 0xB4}},
        {{0x02, 0x99, 0x01, 0x9A}, {0x02, 0x99, 0x00, 0x9B}},   {{0x02, 0x9A, 0x00, 0x98}, {0x02, 0x9A, 0x01, 0x99}},
        {{0x02, 0xF4, 0xA0, 0x56}, {0x02, 0xF4, 0x00, 0xF6}},   {{0x02, 0xC2, 0x00, 0x00}, failure},  // checksum
        {{0x03, 0xC2, 0x00, 0xC1}, failure} /* header */,       {{0x02, 0x50, 0x00, 0x52}, failure},  // unknown
        {{0x02, 0xC2, 0x01, 0xC1}, failure} /* no parameter */, {{0x02, 0x98, 0x00, 0x9A}, failure},  // takes 1
        {{0x02, 0x92, 0x02, 0x92}, failure} /* level 0 or 1 */,
    };
    for (const auto &c : cases) {
        EXPECT_EQ(pmu.Write(c.request.data(), 4), 4);
        Message reply{};
        EXPECT_EQ(pmu.Read(reply.data(), 4), 4);
        EXPECT_EQ(reply, c.reply) << std::hex << int(c.request[1]);
    }
    EXPECT_TRUE(pmu.State().uhfPower && pmu.State().gnssPower);  // the refused ones were not carried out
    EXPECT_EQ(pmu.Refusals(), 6);
    EXPECT_EQ(pmu.Log().Lines()[5], "02 C2 00 00 (refused: checksum)");
    Message reply{};
    EXPECT_EQ(pmu.Write(reply.data(), 3), -1);  // whole messages only
    EXPECT_EQ(pmu.Read(reply.data(), 4), -1);   // and a reply only after a request
}

TEST(ExtenderModel, ServesItsFourRegistersInItsTwoAccessSizes)
{
    sim::Extender extender;
    extender.SetInputLevels(true, 0x5A);
    const uint8_t latch[2] = {0x12, 0x0F}, outputs[2] = {0x00, 0xF0}, unknown[2] = {0x02, 0x00}, three[3] = {1, 0, 0};
    uint8_t byte = 0x12, other = 0x14, two[2] = {0x12, 0x00};
    EXPECT_EQ(extender.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x5A);  // every line an input at power-up
    EXPECT_EQ(extender.Write(latch, 2), 2);
    EXPECT_EQ(extender.Write(outputs, 2), 2);
    byte = 0x12;
    EXPECT_EQ(extender.Read(&byte, 1), 1);
    EXPECT_EQ(byte, 0x5F);  // inputs 4-7 as driven, outputs 0-3 as latched
    EXPECT_EQ(extender.Read(&other, 1), -1);
    EXPECT_EQ(extender.Read(two, 2), -1);
    EXPECT_EQ(extender.Write(unknown, 2), -1);
    EXPECT_EQ(extender.Write(three, 3), -1);
    EXPECT_EQ(extender.Write(latch, 1), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(DisplayModel, TakesCommandsAndDataOnlyAsTheControllerDoes)
{
    sim::Display panel;
    EXPECT_EQ(panel.Open(O_RDWR), -1);
    ASSERT_EQ(panel.Open(O_WRONLY), 0);
    int command = sim::Display::kCommandMode, data = sim::Display::kDataMode, other = 2;
    uint8_t byte = 0;
    EXPECT_EQ(panel.Ioctl(sim::Display::kModeIoctl, &other), -1);
    EXPECT_EQ(panel.Ioctl(0x4004FF0B, &command), -1);
    EXPECT_EQ(panel.Read(&byte, 1), -1);
    const uint8_t select[] = {0xB2, 0x0D, 0x17, 0x81, 0x40};  // page 2, column 0x7D, contrast
    const uint8_t bytes[] = {0x01, 0x80, 0xFF, 0xFF};
    ASSERT_EQ(panel.Ioctl(sim::Display::kModeIoctl, &command), 0);
    EXPECT_EQ(panel.Write(select, sizeof select), 5);
    ASSERT_EQ(panel.Ioctl(sim::Display::kModeIoctl, &data), 0);
    EXPECT_EQ(panel.Write(bytes, sizeof bytes), 4);
    EXPECT_EQ(panel.Contrast(), 0x40);
    EXPECT_TRUE(panel.Pixel(125, 16) && panel.Pixel(126, 23));  // bit 0 the page's top row, bit 7 its bottom
    EXPECT_FALSE(panel.Pixel(126, 16));
    EXPECT_EQ(panel.DroppedBytes(), 1u);  // past the last column
}

TEST(PushButtonModel, AnswersItsTwoRequestsOnAReadOnlyDevice)
{
    sim::PushButtons buttons;
    EXPECT_EQ(buttons.Open(O_RDWR), -1);
    ASSERT_EQ(buttons.Open(O_RDONLY), 0);
    buttons.SetScroll(5);
    int record = -1, scroll = -1;
    EXPECT_EQ(buttons.Ioctl(sim::PushButtons::kReadRecord, &record), 0);
    EXPECT_EQ(buttons.Ioctl(sim::PushButtons::kReadScroll, &scroll), 0);
    EXPECT_EQ(record * 10 + scroll, 5);
    EXPECT_EQ(buttons.Ioctl(0x8004FF03, &record), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(buttons.Ioctl(sim::PushButtons::kReadRecord, nullptr), -1);
}

}  // namespace
