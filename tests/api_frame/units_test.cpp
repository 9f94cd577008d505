// NOR parameter store: address and text checks, transfers and their faults,
// the default records; the error texts, part of the interface byte for byte;
// sleep, task creation and the driver signals, with real signals.
#include <fcntl.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "event_recorder.h"
#include "frame_fixture.h"
#include "internal/API_Signal.h"
#include "internal/API_USBDevice.h"
#include "threads.h"

namespace {

using Pair = std::pair<int, int>;

class Nor : public FrameTest {
protected:
    Nor() { EXPECT_EQ(API_NOR_Init(), 0); }
    ~Nor() override { API_NOR_Cleanup(); }
    // A transfer's result and the count it left, which is then forgotten.
    Pair Did(int result) { return {result, std::exchange(count, -1)}; }
    int count = -1;
    char buffer[8] = {};
};

// The unit's calls and the system calls beside them: sleeps, task creation.
TEST_F(Nor, CallsCheckTheirArgumentsAndTransferFaultsGiveTheirCodes)
{
    EXPECT_EQ((Codes{API_Sleep(2500), API_Sleep(0), int(receiver.Sleeps().size()), int(receiver.Sleeps()[0].tv_sec),
                     int(receiver.Sleeps()[0].tv_nsec)}),
              (Codes{0, 0, 2, 2, 500000000}));
    EXPECT_NE(API_Sleep(-5), 0);
    EXPECT_EQ((Codes{API_SYS_CreateTask(2, 50), API_SYS_CreateTask(0, 50), API_SYS_CreateTask(1, 1000)}),
              (Codes{API_ERR_INVALID_TASK_IDENTIFIER, API_ERR_INVALID_TASK_IDENTIFIER, API_ERR_TASK_SET_SCHEDULER}));

    EXPECT_EQ(Did(API_Flash_WriteData(0x38FFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_WriteData(0x7FFFFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_ReadData(0x38FFF, buffer, 1, &count)), Pair(API_ERR_INVALID_NOR_FLASH_ADDRESS, -1));
    EXPECT_EQ(Did(API_Flash_WriteData(0x39000, "login", 6, &count)), Pair(0, 6));
    EXPECT_EQ(board.nor->PeekText(0x39000, 7), std::string("login\0\xFF", 7));
    // A byte through each of the four transfers.
    auto each = [this] {
        return std::vector<int>{
            API_Flash_WriteData(0x39000, "1", 1, &count), API_Flash_ReadData(0x39000, buffer, 1, &count),
            API_Flash_APIWriteData(0x39000, "1", 1, &count), API_Flash_APIReadData(0x39000, buffer, 1, &count)};
    };
    board.nor->FailSeek(EIO);
    EXPECT_EQ(each(), std::vector<int>(4, API_ERR_NOR_FLASH_SEEK));
    board.nor->ClearFaults();

    board.nor->LimitWrite(3);
    EXPECT_EQ(Did(API_Flash_WriteData(0x39000, "12345", 5, &count)), Pair(API_ERR_NOR_FLASH_WRITE, -1))
        << "no count on a failed unit write";
    EXPECT_EQ(Did(API_Flash_APIWriteData(0x39000, "12345", 5, &count)), Pair(API_ERR_NOR_FLASH_WRITE, 3));
    board.nor->ClearFaults();

    board.nor->FailRead(EIO);
    EXPECT_EQ(Did(API_Flash_ReadData(0x39000, buffer, 4, &count)), Pair(API_ERR_NOR_FLASH_READ, 0));
    EXPECT_EQ(Did(API_Flash_APIReadData(0x39000, buffer, 4, &count)), Pair(API_ERR_NOR_FLASH_READ, 0));
    board.nor->ClearFaults();
    // A read that runs off the partition's end is short.
    EXPECT_EQ(Did(API_Flash_APIReadData(0x7FFFFC, buffer, 8, &count)), Pair(API_ERR_NOR_FLASH_READ, 4));
    EXPECT_EQ(Did(API_Flash_ReadData(0x7FFFFC, buffer, 8, &count)), Pair(API_ERR_NOR_FLASH_READ, 4));
    EXPECT_EQ(
        (Codes{API_Flash_WriteData(0x39000, "1", -1, &count), API_Flash_WriteData(0x39000, nullptr, 1, &count),
               API_Flash_ReadData(0x39000, nullptr, 1, &count), API_Flash_APIReadData(0x39000, nullptr, 1, &count),
               API_Flash_APIWriteData(0x39000, "1", -1, &count)}),
        Codes(5, API_ERR_INVALID_PARAMETERS));
    EXPECT_EQ(API_Flash_WriteData(0x39000, "", 0, &count) + API_Flash_ReadData(0x39000, buffer, 0, &count), 0);

    // Closed, every access fails; so does an open of a missing partition.
    EXPECT_EQ(API_NOR_Cleanup() + API_NOR_Cleanup(), 0);
    EXPECT_EQ(board.nor->OpenDescriptors(), 0);
    EXPECT_EQ(each(), std::vector<int>(4, API_ERR_NOR_FLASH_SEEK));
    receiver.FailOpen("/dev/mtd3", ENOENT);
    EXPECT_EQ(API_NOR_Init(), API_ERR_NOR_FLASH_INITIALIZATION);

    // Texts and blank records.
    const std::pair<std::string, int> texts[] = {
        {std::string("internet.provider.com\0\0\0", 24), 0},
        {std::string("user_1 @-x.\0\xFF\xFF", 14), 0},  // whatever follows the zero is free
        {std::string("\0abc", 4), 0},
        {"a/b", 180},
        {std::string(64, 'a'), 180},
        {std::string("caf\xE9\0", 5), 180},
        {"", 180},
    };
    for (const auto &text : texts)
        EXPECT_EQ(API_NOR_Check_String_Param(text.first.data(), int(text.first.size())), text.second) << text.first;
    std::string blank(64, '\xFF');
    EXPECT_EQ((Codes{API_NOR_Check_Blank_Param(blank.data(), 64), API_NOR_Check_Blank_Param(blank.data(), 0),
                     API_NOR_Check_Blank_Param((blank + '\0').data() + 1, 64)}),
              (Codes{179, 0, 0}));
}

TEST_F(Nor, DefaultsGoToTheirMapAddressesAndRevertRestoresThem)
{
    Started(API_INIT_NOR_DEFAULTS | API_INIT_NO_AUTOSTART);
    uint32_t total = 0;
    for (const sim::NorWrite &write : board.nor->Writes())
        total += write.address == API_SYS_AUTOSTART_ADDRESS ? 0 : write.length;
    EXPECT_EQ(total, 405u);
    // The 9 bytes after the access point name record keep their contents.
    EXPECT_EQ(board.nor->PeekText(0x390FD, 9), std::string(9, '\xFF'));
    EXPECT_EQ(board.nor->PeekText(0x39000, 20), std::string("050012UNDEFINED_APN\0", 20));
    EXPECT_EQ(board.nor->PeekText(0x39146, 19), std::string("UNDEFINED_PASSWORD\0", 19));
    EXPECT_EQ(board.nor->PeekText(0x39186, 24), "05820" + std::string(12, '\0') + "0" + std::string(6, '\0'));

    const std::vector<uint8_t> defaults = board.nor->Peek(0x39000, API_NOR_PARAM_SIZE);
    board.nor->Poke(0x39001, "7");
    board.nor->Poke(0x39187, std::string("1234\0", 5));
    EXPECT_EQ(API_RevertTS9ToDefault(), 0);
    EXPECT_EQ(board.nor->Peek(0x39000, API_NOR_PARAM_SIZE), defaults);
    board.nor->FailWrite(EIO);
    EXPECT_EQ(API_RevertTS9ToDefault(), API_ERR_NOR_FLASH_WRITE);
}


std::string Text(int code, int expectedResult = 0)
{
    char text[API_ERROR_TEXT_SIZE];
    EXPECT_EQ(API_Errors_GetErrorText(code, text), expectedResult) << code;
    return text;
}

// Unknown codes are written in hexadecimal in the caller's buffer: two
// threads asking at once each get the text of their own code.
TEST(ErrorTexts, EveryCodeHasItsOwnTextAndUnknownOnesAreWrittenInTheCallersBuffer)
{
    std::set<std::string> texts;
    for (int code = 0; code < API_ERR_COUNT; ++code)
        texts.insert(Text(code));
    EXPECT_EQ(texts.size(), static_cast<size_t>(API_ERR_COUNT));
    EXPECT_EQ((std::vector<std::string>{Text(0), Text(API_ERR_GSM_READ), Text(219)}),
              (std::vector<std::string>{"No Error", "GSm Read Failed ", "GSM Invalid Network Settings"}));
    auto ask = [](int code, const char *expected) {
        int wrong = 0;
        for (int i = 0; i < 100000; ++i)
            wrong += Text(code, 1) != expected;
        EXPECT_EQ(wrong, 0) << code;
    };
    std::thread first(ask, 220, "Unknown error code: 0xdc");
    ask(-1, "Unknown error code: 0xffffffff");
    first.join();
}


// What the unit callbacks saw, in order: the PPS its events, USB 2 + the
// device state, Ethernet 5.
simtest::EventRecorder g_seen;
int OnPps(void *, unsigned events) { return g_seen.Record(int(events)), 0; }
void OnUsb(int) { g_seen.Record(2 + device_state); }
int OnEthernet(int) { return g_seen.Record(5), 0; }

class Signals : public FrameTest {
protected:
    Signals() : FrameTest(1.0) {}
    ~Signals() override { unitreset::Usb(); }
};

TEST_F(Signals, PendingEventsAreServedInTableOrderAndOnlyFromTheDriver)
{
    API_USB_Init(OnUsb);
    ASSERT_EQ((Codes{API_GNSS_PPSCallback(OnPps), API_Signal_Initialize()}), Codes(2, 0));
    board.gpio->SetPendingEvents(API_EVENT_USB_CONNECTED);
    ASSERT_EQ(sim::SendSignalAs(SIGUSR2, 1), 0);
    ASSERT_EQ(sim::SendSignalAs(SIGIO, 1), 0);
    EXPECT_EQ(board.gpio->EventReads(), 0);

    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS | 0x08 | 0x80);
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3}));  // PPS, then connected
    board.gpio->RaiseEvents(API_EVENT_USB_DISCONNECTED);
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3, 2}));

    board.gpio->FailIoctl(sim::GpioDriver::kGetEvents, EIO);
    errno = EDOM;
    board.gpio->RaiseEvents(API_EVENT_GNSS_PPS);
    EXPECT_EQ(errno, EDOM) << "the handler must leave errno as it found it";
    EXPECT_EQ((Codes{int(g_seen.Values().size()), device_state}), (Codes{3, 0}));

    ASSERT_EQ(API_ETH_Init(OnEthernet), 0);
    receiver.CreateFile("/var/netlink");
    board.gpio->RaiseSigio();
    EXPECT_EQ(g_seen.Values(), (std::vector<int>{0x8B, 3, 2, 5}));

    // A sleep lasts its whole time through a signal, resumed for what was
    // left: signals from before the sleep until it is resumed, so one lands
    // inside it however late the raiser runs.
    const size_t sleeps = receiver.Sleeps().size();
    std::atomic<bool> slept{false};
    std::thread raiser([&] {
        while (!slept && receiver.Sleeps().size() < sleeps + 2)
            board.gpio->RaiseEvents(0), std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(API_Sleep(200), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    slept = true;
    raiser.join();
    EXPECT_GE(receiver.Sleeps().size(), sleeps + 2);

    // The clean-up restores both handlers and closes the device once;
    // without the device only SIGUSR2 is installed.
    EXPECT_EQ(API_Signal_Cleanup() + API_Signal_Cleanup(), 0);
    EXPECT_NE(fcntl(1, F_GETFD), -1) << "a second clean-up closed standard output";
    EXPECT_EQ(board.gpio->OpenDescriptors(), 0);
    struct sigaction usr2, io;
    sigaction(SIGUSR2, nullptr, &usr2);
    EXPECT_EQ(usr2.sa_handler, SIG_DFL);
    receiver.FailOpen("/dev/gpio", ENOENT);
    EXPECT_EQ(API_Signal_Initialize(), API_ERR_OPEN_FILE);
    sigaction(SIGUSR2, nullptr, &usr2);
    sigaction(SIGIO, nullptr, &io);
    EXPECT_EQ(usr2.sa_sigaction, SIGUSR2_handler);
    EXPECT_TRUE(usr2.sa_flags & SA_SIGINFO);
    EXPECT_EQ(io.sa_handler, SIG_DFL);
    API_Signal_Cleanup();
}

}  // namespace
