// The board's device models driven directly, as the drivers would be: they
// answer the bytes their devices take as those devices do, and refuse what
// the devices refuse.  A model that takes whatever it is sent would hide the
// API's faults.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "board.h"
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
using Counts = std::vector<long long>;

// The reply to one well-formed request.
Message Ask(sim::Pmu &pmu, uint8_t command, uint8_t parameter)
{
    const Message request{0x02, command, parameter, uint8_t(0x02 ^ command ^ parameter)};
    Message reply{};
    EXPECT_EQ((Counts{pmu.Write(request.data(), 4), pmu.Read(reply.data(), 4)}), (Counts{4, 4}));
    return reply;
}

TEST(PeripheralModels, PmuTakesEachCommandWithItsParameterAndRefusesTheRest)
{
    sim::Pmu pmu;
    const Message failure{0x02, 0xFF, 0xFF, 0x02};
    // What each command takes as its parameter: 0, a level (0 or 1), 1 (the
    // supply switches) or any byte (the buzzer's tone and duration).  Every
    // other command is unknown and refused with any parameter.
    const std::vector<uint8_t> zero{0x74, 0x7A, 0x7E, 0x7F, 0x81, 0x83, 0x84, 0x88, 0x89, 0x8A, 0x8B, 0x8C,
                                    0x8D, 0x8E, 0x8F, 0x94, 0x95, 0x9A, 0x9B, 0x9E, 0x9F, 0xA0, 0xA1, 0xA6,
                                    0xB3, 0xC2, 0xC3, 0xD3, 0xE2, 0xE3, 0xE4, 0xF2, 0xF3, 0xFD};
    const std::vector<uint8_t> level{0x92, 0x96, 0xA2}, one{0x98, 0x99, 0xA4, 0xA5}, any{0xF4, 0xF5};
    auto in = [](const std::vector<uint8_t> &set, int command) {
        return std::find(set.begin(), set.end(), command) != set.end();
    };
    int refused = 0;
    for (int command = 0; command < 256; ++command) {
        for (int parameter : {0, 1, 2, 0xFF}) {
            const bool taken = (in(zero, command) && parameter == 0) || (in(level, command) && parameter <= 1) ||
                               (in(one, command) && parameter == 1) || in(any, command);
            const Message reply = Ask(pmu, uint8_t(command), uint8_t(parameter));
            EXPECT_EQ(reply == failure, !taken) << std::hex << command << " " << parameter;
            EXPECT_TRUE(!taken || (reply[1] == command && reply[3] == (reply[0] ^ reply[1] ^ reply[2])))
                << std::hex << command;
            refused += !taken;
        }
    }
    Ask(pmu, 0xC2, 1), Ask(pmu, 0x98, 0);
    EXPECT_TRUE(pmu.State().uhfPower && pmu.State().gnssPower) << "a refused request was carried out";
    EXPECT_EQ(pmu.Refusals(), refused + 2);

    // The switches, as the queries report them; the measurements from their data.
    // clang-format off
    const struct { uint8_t command, parameter, query, data; } effects[] = {
        {0x99, 1, 0x9A, 1}, {0x98, 1, 0x9A, 0}, {0x92, 1, 0x9E, 1}, {0x92, 0, 0x9E, 0}, {0x96, 1, 0x9F, 1},
        {0x96, 0, 0x9F, 0}, {0x95, 0, 0xA0, 1}, {0x94, 0, 0xA0, 0}, {0xA2, 1, 0xA1, 1}, {0xA2, 0, 0xA1, 0},
        {0xA4, 1, 0xA6, 1}, {0xA5, 1, 0xA6, 0}, {0xE3, 0, 0xE4, 1}, {0xE2, 0, 0xE4, 0}, {0x81, 0, 0x81, 55},
    };
    // clang-format on
    pmu.SetTemperatureBytes(55, 25);
    for (const auto &effect : effects) {
        Ask(pmu, effect.command, effect.parameter);
        EXPECT_EQ(Ask(pmu, effect.query, 0)[2], effect.data) << std::hex << int(effect.command);
    }
    // Observers see each request (carried out or not, and the state it left) and each log line.
    std::string heard, logged;
    pmu.SetRequestObserver([&](const sim::Pmu::Request &request) {
        heard += request.carriedOut ? "+" : "-";
        heard += request.bytes[1] == 0xC3 && request.state.uhfPower ? "on" : "";
    });
    pmu.Log().SetObserver([&](const std::string &name, const std::string &line) { logged = name + ": " + line; });
    Ask(pmu, 0xC2, 0), Ask(pmu, 0xC3, 0);
    // A bad checksum, a bad header, a level that is neither 0 nor 1.
    const Message malformed[] = {{0x02, 0xC3, 0x00, 0x00}, {0x03, 0xC3, 0x00, 0xC0}, {0x02, 0x92, 0x02, 0x92}};
    for (const Message &request : malformed) {
        Message reply{};
        EXPECT_EQ((Counts{pmu.Write(request.data(), 4), pmu.Read(reply.data(), 4)}), (Counts{4, 4}));
        EXPECT_EQ(reply, failure);
    }
    EXPECT_EQ(heard, "++on-on-on-");  // the refused ones left the radio on
    EXPECT_EQ(logged, "pmu: 02 92 02 92 (refused: parameter)");
    EXPECT_EQ(pmu.Refusals(), refused + 5);
    Message reply{};
    EXPECT_EQ(pmu.Write(reply.data(), 3), -1);  // whole messages only
    EXPECT_EQ(pmu.Read(reply.data(), 4), -1);   // and a reply only after a request
}

TEST(PeripheralModels, ExtenderDisplayAndButtonsRefuseWhatTheirDriversRefuse)
{
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
    // No driver writes through a null argument.
    EXPECT_EQ((Counts{buttons.Ioctl(sim::PushButtons::kReadRecord, nullptr), errno,
                      panel.Ioctl(sim::Display::kModeIoctl, nullptr), errno}),
              (Counts{-1, EFAULT, -1, EFAULT}));
}

// The NOR flash is one erased partition with one position, short at its end;
// the GPIO driver answers its own requests only (their numbers carry the
// direction and size: a mix-up is unknown), and its query clears the event
// word; the PPS device is read-only.
TEST(FrameModels, NorGpioAndPpsAnswerAsTheirDriversDo)
{
    sim::NorFlash nor;
    char back[3];
    EXPECT_EQ((Counts{nor.Lseek(0x39000, SEEK_SET), nor.Write("ab", 2), nor.Lseek(-2, SEEK_CUR), nor.Read(back, 3),
                      nor.Lseek(1, SEEK_END), nor.Lseek(-1, SEEK_END), nor.Write("xy", 2), nor.Write("z", 1), errno}),
              (Counts{0x39000, 2, 0x39000, 3, -1, sim::NorFlash::kSize - 1, 1, -1, ENOSPC}));
    EXPECT_EQ(std::string(back, 3), "ab\xFF");
    EXPECT_EQ(nor.ProgrammedAddresses(), (std::vector<uint32_t>{0x39000, 0x39001, sim::NorFlash::kSize - 1}));

    sim::GpioDriver gpio;
    uint32_t word = 0;
    int32_t mode = 2;  // the radio line has two modes, 0 and 1
    gpio.SetPendingEvents(0x42);
    EXPECT_EQ((Counts{gpio.Ioctl(sim::GpioDriver::kGetEvents, &word), word, gpio.PendingEvents(),
                      gpio.Ioctl(sim::GpioDriver::kSetSerialMode, &mode), errno, gpio.Ioctl(0x4004FF16, &mode), errno,
                      gpio.Ioctl(sim::GpioDriver::kGetEvents, nullptr),
                      gpio.Ioctl(sim::GpioDriver::kGetSerialMode, nullptr)}),
              (Counts{0, 0x42, 0, -1, EINVAL, -1, ENOTTY, -1, -1}));

    sim::PpsDevice pps;
    EXPECT_EQ((Counts{pps.Open(O_RDWR), errno, pps.Open(O_RDONLY)}), (Counts{-1, EACCES, 0}));
}

TEST(FrameModels, WatchdogStopsOnlyOnACloseRightAfterTheMagicCharacter)
{
    sim::Watchdog dog(0.001);  // a receiver second lasts a millisecond
    int seconds = 0;
    // One opener at a time.  The magic character, then a feed: the close is
    // a crash's, and the watchdog runs on to its time-out.
    EXPECT_EQ((Counts{dog.Open(O_WRONLY), dog.Open(O_WRONLY), dog.Ioctl(sim::Watchdog::kSetTimeout, &seconds),
                      dog.Write("V", 1), dog.Write("", 1)}),
              (Counts{0, -1, -1, 1, 1}));
    EXPECT_EQ((Counts{dog.Ioctl(0x80045799, &seconds), errno, dog.Ioctl(sim::Watchdog::kGetTimeout, nullptr), errno,
                      dog.Ioctl(sim::Watchdog::kKeepAlive, nullptr)}),
              (Counts{-1, ENOTTY, -1, EFAULT, 0}));
    dog.Close();
    EXPECT_TRUE(simtest::Eventually([&] { return dog.WouldHaveRebooted(); }));
    EXPECT_EQ((Counts{dog.Open(O_WRONLY), dog.Write("xV", 2)}), (Counts{0, 2}));
    dog.Close();
    EXPECT_EQ(dog.MagicCloses(), 1);
    EXPECT_FALSE(dog.IsRunning());
}

// The sandbox keeps the tests off the host's /etc and /dev.  Its descriptor
// routing, listing, open faults and record of sleeps are checked by the tests
// that use them.
TEST(SimReceiver, RebasesBoardPathsAndMakesNodesAsFiles)
{
    sim::Receiver receiver;
    EXPECT_EQ(receiver.HostPath("/etc/ts9_api.cfg"), receiver.Root() + "/etc/ts9_api.cfg");
    receiver.CreateFile("/var/ts9.pid", "1\n");
    EXPECT_TRUE(Board_Exists("/var/ts9.pid"));
    EXPECT_EQ(Board_Unlink("/var/ts9.pid"), 0);
    EXPECT_FALSE(receiver.FileExists("/var/ts9.pid"));

    EXPECT_EQ((Counts{Board_Mknod("/dev/ttyS1", S_IFCHR | 0666, makedev(4, 65)),
                      Board_Mknod("/dev/ttyS1", S_IFCHR | 0666, makedev(4, 65)), errno}),
              (Counts{0, -1, EEXIST}));
    struct stat status;
    ASSERT_EQ(stat(receiver.HostPath("/dev/ttyS1").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(receiver.Mknods().size(), 1u);
}

}  // namespace
