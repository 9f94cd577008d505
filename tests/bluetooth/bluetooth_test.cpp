// The Bluetooth unit against the simulated module: start-up, link data,
// commands that interrupt a live link, and the settings.
#include <errno.h>
#include <termios.h>

#include <atomic>
#include <future>

#include "API.h"
#include "internal/API_Bluetooth.h"
#include "sim/bluetooth_module.h"
#include "sim_test.h"
#include "threads.h"

namespace {

using namespace bt;
using simtest::Eventually;
using Lines = std::vector<std::string>;
using Codes = std::vector<int>;
using Bytes = std::vector<uint8_t>;
const Bytes kAddress = {0x00, 0x07, 0x80, 0x1A, 0x2B, 0x3C};

// Links the unit announced through its callback.
std::atomic<int> g_links{0};
void CountLink() { ++g_links; }
void CountLinkAfterReadingTheCache()
{
    char version[API_BLUETOOTH_VERSION_MAX + 1];
    int length = 0;
    g_links += API_Bluetooth_GetVersion(version, &length) == API_ERR_NONE;
}

// One read's result, its bytes dropped.
int ReadOnce()
{
    char buffer[8];
    int count = -1;
    return API_Bluetooth_ReadData(buffer, sizeof buffer, &count);
}

std::future<int> BlockedRead()
{
    auto reader = std::async(std::launch::async, ReadOnce);
    EXPECT_TRUE(Eventually([] { return b_BT_WaitForData.load() == 1; }));
    return reader;
}

// Bytes that differ from one position to the next, so that misplaced or
// repeated pieces show across the ring's end.
std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed * 13 + i / 251) & 0xFF);
    return bytes;
}

int Unread() { return (i_WPtr.load() - i_RPtr.load() + BT_RING_SIZE) % BT_RING_SIZE; }

// 5 % of real time: the escape's one-second guards become 50 ms, wide enough
// for a loaded machine, and a start-up takes about 150 ms.
class BluetoothTest : public simtest::SimTest {
protected:
    BluetoothTest() : SimTest(0.05) {}

    void SetUp() override
    {
        OpenPmu();
        ASSERT_EQ(API_NOR_Init(), API_ERR_NONE);
        g_links = 0;
        OnSleep();
    }

    // Each of the unit's waits starts once the module has caught up: on a
    // loaded machine the answers decide, and the guards are heard whole.
    void OnSleep(const std::function<void(long)> &also = nullptr)
    {
        receiver.SetSleepHook([this, also](long ms) {
            module.WaitCaughtUp(1000);
            if (also)
                also(ms);
        });
    }

    void TearDown() override
    {
        API_Bluetooth_Cleanup();
        API_NOR_Cleanup();
        unitreset::Bluetooth();
    }

    // Starts the unit, once the module has taken the start-up's two restarts;
    // their traffic is forgotten.
    void Start()
    {
        const int restarts = module.Restarts();
        ASSERT_EQ(API_Bluetooth_Init(), API_ERR_NONE);
        ASSERT_TRUE(module.WaitForRestarts(restarts + 2, 3000));
        heardAtStart = module.Commands().size();
    }

    Lines CommandsSinceStart() const
    {
        Lines all = module.Commands();
        return Lines(all.begin() + static_cast<long>(heardAtStart), all.end());
    }

    // The host returns once a line is written; the module takes it a moment later.
    bool Heard(size_t commands)
    {
        return Eventually([&] { return CommandsSinceStart().size() >= commands; });
    }

    void Connect(const std::string &firstData = "")
    {
        ASSERT_TRUE(module.Connect("00:11:22:33:44:55", firstData));
        ASSERT_TRUE(Eventually([] { return API_Bluetooth_CheckCnxStatus() == 1; }));
    }

    // Reads until `count` bytes came or the read reports the link's end.
    static std::string ReadAll(size_t count, int chunk = 512)
    {
        std::string got;
        std::vector<char> buffer(static_cast<size_t>(chunk));
        int n = -1;
        while (got.size() < count && API_Bluetooth_ReadData(buffer.data(), chunk, &n) == API_ERR_NONE)
            got.append(buffer.data(), static_cast<size_t>(n));
        return got;
    }

    // What a getter hands out, as "text/length", or its error code.
    static std::string Got(int (*get)(char *, int *))
    {
        char text[API_BLUETOOTH_COMMAND_MAX] = "stale";
        int length = -1;
        int result = get(text, &length);
        return result ? "error " + std::to_string(result) : std::string(text) + "/" + std::to_string(length);
    }

    Bytes Nor(uint32_t address, uint32_t length) const { return board.nor->Peek(address, length); }

    sim::BluetoothModule &module = *board.bluetooth;
    size_t heardAtStart = 0;
};

using BluetoothStartUp = BluetoothTest;
using BluetoothData = BluetoothTest;
using BluetoothCommands = BluetoothTest;
using BluetoothSettings = BluetoothTest;

// The clean-up stops the task and forgets what the module is to be asked
// again; a new start-up works as the first.
TEST_F(BluetoothStartUp, ConfiguresTheLineRunsTheSetUpAndStartsAgainAfterCleanUp)
{
    Start();
    EXPECT_EQ(module.Commands(),
              (Lines{"INFO", "SET CONTROL ECHO 5", "SET BT PAGEMODE 3 2000 1", "SET BT ROLE 0 f 7d00", "RESET",
                     "SET PROFILE SPP Bluetooth Serial Port", "SET", "RESET"}));
    termios line = module.Line().HostSettings();
    EXPECT_EQ(module.Line().HostBitRate(), 115200u);
    EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK));
    EXPECT_EQ(line.c_oflag | line.c_lflag, tcflag_t(NOFLSH));
    EXPECT_EQ(line.c_cc[VMIN], 1);

    ASSERT_EQ((Codes{API_Bluetooth_SetDeviceName("Rover 2"), Heard(1)}), (Codes{0, true}));
    Connect("before");
    EXPECT_EQ((Codes{API_Bluetooth_Cleanup(), API_Bluetooth_CheckCnxStatus(), ReadOnce()}),
              (Codes{0, 0, API_ERR_BLUETOOTH_REMOTE_DISCONNECTED}));
    module.SendData("after");  // nobody reads the line any more
    ASSERT_TRUE(module.Disconnect());
    const std::set<std::string> stopped = ThreadIds();
    Start();
    std::set<std::string> task;  // what the start-up started
    for (const std::string &id : ThreadIds())
        if (stopped.count(id) == 0)
            task.insert(id);
    EXPECT_EQ(module.Commands().size(), 17u);
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Rover/5");
    Connect("again");
    EXPECT_EQ(ReadAll(5), "again");
    // A start-up without a clean-up ends the running task before it starts
    // one, also a task that waits for room in a full ring.
    ASSERT_TRUE(module.SendData(Pattern(5000, 1)));
    ASSERT_TRUE(Eventually([] { return Unread() == BT_RING_SIZE - 1; }));
    ASSERT_EQ(API_Bluetooth_Init(), API_ERR_NONE);
    const std::set<std::string> running = ThreadIds();
    EXPECT_EQ(task.size(), 1u);
    for (const std::string &id : task)
        EXPECT_EQ(running.count(id), 0u) << id;
}

TEST_F(BluetoothStartUp, ASilentModuleIsResetThroughThePmuAndTheApiStartUpGoesOn)
{
    module.SetSilent(true);
    simtest::Stdout([] { EXPECT_EQ(API_Initialize(API_INIT_BLUETOOTH), API_ERR_BLUETOOTH_MODULE_NOT_READY); });
    EXPECT_EQ(board.pmu->State().bluetoothResets, 1);
    EXPECT_TRUE(board.pmu->Log().Contains("02 D3 00 D1"));
    // Only the first "INFO" went out: the set-up is not tried again without an answer.
    EXPECT_EQ(module.Commands(), Lines{"INFO"});
    API_Finalize();
    unitreset::ClosePmu();
    EXPECT_EQ(API_Bluetooth_Reset(), API_ERR_WRITING_SPI);
}

TEST_F(BluetoothData, LinksCarryDataBothWaysAcrossTheRingsEndUntilTheyEnd)
{
    Start();
    int written = 77;
    EXPECT_EQ(
        (Codes{API_Bluetooth_ConnectedCallback(CountLink), API_Bluetooth_ConnectedCallback(nullptr),
               API_Bluetooth_WriteData("abc", 3, &written), written, API_Bluetooth_WriteData(nullptr, 1, &written)}),
        (Codes{0, API_ERR_BLUETOOTH_CALL_BACK_SET_NULL, API_ERR_BLUETOOTH_REMOTE_DISCONNECTED, 77,
               API_ERR_INVALID_PARAMETERS}));
    Connect("hello");
    EXPECT_TRUE(Eventually([] { return g_links == 1; }));  // the first callback was kept
    int count = -1;
    EXPECT_EQ((Codes{API_Bluetooth_ReadData(nullptr, 0, &count), count, API_Bluetooth_WriteData(nullptr, 0, &written),
                     written}),
              (Codes{API_ERR_NONE, 0, API_ERR_NONE, 0}));
    EXPECT_EQ(ReadAll(5, 3), "hello");
    // A full ring holds the remote back, and its hang-up behind the bytes,
    // until the reader makes room: the link is up until they are read.
    std::string sent = Pattern(20000, 3);
    ASSERT_TRUE(module.SendData(sent));
    ASSERT_TRUE(module.Disconnect("abc"));  // bytes in front of the end marker are data
    ASSERT_TRUE(Eventually([] { return Unread() == BT_RING_SIZE - 1; }));
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 1);
    EXPECT_TRUE(ReadAll(sent.size() + 100, 1000) == sent + "abc");
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);
    // A hang-up a chunk behind a full ring is seen while nobody reads: the
    // module is in command mode again, so a command goes to it unescaped.
    Connect();
    sent = Pattern(7000, 5);
    ASSERT_TRUE(module.SendData(sent));
    ASSERT_TRUE(module.Disconnect("xyz"));
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    EXPECT_EQ((Codes{API_Bluetooth_GetVersion(nullptr, &written), module.Escapes(), API_Bluetooth_CheckCnxStatus()}),
              (Codes{0, 0, 1}));
    EXPECT_TRUE(ReadAll(sent.size() + 100, 1000) == sent + "xyz");
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);
    // A new link starts afresh, whatever the last one left unread; a chunk
    // that begins with the end marker stores nothing.
    Connect("old");
    ASSERT_TRUE(module.Disconnect());
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    ASSERT_TRUE(module.Connect("00:11:22:33:44:55", "fresh"));
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 0; }));
    EXPECT_EQ(ReadAll(5), "fresh");
    auto reader = BlockedRead();
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    EXPECT_EQ(i_WPtr.load(), 0);
    // A hardware reset and the clean-up end the link without the module saying so.
    Connect();
    reader = BlockedRead();
    ASSERT_EQ(API_Bluetooth_Reset(), API_ERR_NONE);
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    ASSERT_TRUE(module.WaitForRestarts(3, 2000));
    Connect();
    reader = BlockedRead();
    API_Bluetooth_Cleanup();
    EXPECT_EQ(reader.get(), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    // A command escapes a link whose ring and held bytes are full: what the
    // reader had no room for is set aside.
    Start();
    Connect();
    ASSERT_TRUE(module.SendData(Pattern(20000, 7)));
    ASSERT_TRUE(Eventually([] { return Unread() == BT_RING_SIZE - 1; }));
    EXPECT_EQ(API_Bluetooth_GetVersion(nullptr, &written), API_ERR_NONE);
}


// The resume to data mode holds the unit's lock: no other thread's exchange
// can start between its "SELECT 0" and its guards.
TEST_F(BluetoothCommands, ACommandDuringALinkEscapesWithGuardSilencesAndResumes)
{
    Start();
    ASSERT_EQ(API_Bluetooth_ConnectedCallback(CountLink), API_ERR_NONE);
    Connect("unread");
    int written = 0;
    ASSERT_EQ(API_Bluetooth_WriteData("ping", 4, &written), API_ERR_NONE);
    ASSERT_TRUE(module.WaitForRemoteBytes(4, 2000));
    // In the guard before the resume, the remote speaks and another thread
    // tries the lock.
    std::atomic<int> lockTaken{-1};
    OnSleep([&](long ms) {
        if (ms != 1000 || !module.LinkPaused() || lockTaken >= 0)
            return;
        module.SendData("during");
        lockTaken = std::async(std::launch::async, [] {
                        int busy = pthread_mutex_trylock(&Bluetooth_mutex);
                        return busy ? 0 : pthread_mutex_unlock(&Bluetooth_mutex) + 1;
                    }).get();
    });
    const int seconds = SleepsOf(1000);
    ASSERT_EQ(API_Bluetooth_SetDeviceName("Rover"), API_ERR_NONE);
    OnSleep();
    EXPECT_EQ(SleepsOf(1000) - seconds, 4);  // the guards around the escape and around the resume
    EXPECT_EQ(lockTaken, 0);
    EXPECT_EQ(module.Name(), "Rover");
    // What the remote sent during the pause arrives once the link resumes,
    // behind what the reader had not yet taken.
    EXPECT_EQ(ReadAll(12), "unreadduring");
    EXPECT_EQ(g_links.load(), 2);  // the link's start and its resumption
    // A resumed link is escaped for each command, idle or not: none reaches
    // the remote, each is answered.
    EXPECT_EQ((Codes{API_Bluetooth_GetVersion(nullptr, &written), API_Bluetooth_GetVersion(nullptr, &written),
                     module.Escapes(), API_Bluetooth_CheckCnxStatus()}),
              (Codes{0, 0, 3, 1}));
    EXPECT_EQ(module.RemoteReceived(), "ping");
    // The link ends before the module's first byte after the resume: the
    // reader waiting for that byte is told.
    auto reader = BlockedRead();
    ASSERT_TRUE(module.Disconnect());
    EXPECT_EQ(reader.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    API_Bluetooth_Cleanup();  // lets go of a reader left waiting
}

// Once the link has ended the module is in command mode, whatever the reader
// has still to drain: a command goes straight to it.  A command line must fit
// its buffer with the line feed.
TEST_F(BluetoothCommands, ACommandAfterTheLinksEndIsNotEscapedNorIsTheLinkResumed)
{
    Start();
    Connect();
    ASSERT_TRUE(module.Disconnect("abc"));
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    EXPECT_EQ((Codes{API_Bluetooth_SetDeviceName("Late"), module.WaitForCommand("SET BT NAME Late", 2000),
                     module.Escapes(), b_RestaureDataMode}),
              (Codes{0, true, 0, 0}));
    EXPECT_EQ(ReadAll(10), "abc");
    std::string longest(API_BLUETOOTH_COMMAND_MAX - 12, 'n');
    EXPECT_EQ((Codes{s_BluetoothSendCmd(("SET BT NAME " + longest).c_str()),
                     s_BluetoothSendCmd(("SET BT NAME " + longest + "x").c_str()), s_BluetoothSendCmd(nullptr),
                     s_BluetoothSendCmd("DEBUG"), b_BTDebug.exchange(0)}),
              (Codes{API_ERR_NONE, API_ERR_INVALID_PARAMETERS, API_ERR_INVALID_PARAMETERS, API_ERR_NONE, 1}));
    ASSERT_TRUE(module.WaitForCommand("SET BT NAME " + longest, 2000));
    // A link that ends during a command, or by a reset, is not resumed.
    for (bool reset : {false, true}) {
        Connect();
        ASSERT_EQ(s_BluetoothSendCmd("SET BT CLASS 001f00"), API_ERR_NONE);
        ASSERT_TRUE(module.LinkPaused());
        ASSERT_TRUE(reset ? API_Bluetooth_Reset() == API_ERR_NONE : module.Disconnect());
        ASSERT_TRUE(Eventually([] { return b_RestaureDataMode.load() == 0; }));
        EXPECT_EQ((Codes{s_BTDataMode(), API_Bluetooth_CheckCnxStatus()}), (Codes{API_ERR_NONE, 0}));
        EXPECT_EQ(module.Commands().back(), "SET BT CLASS 001f00");
        ASSERT_TRUE(module.WaitForRestarts(reset ? 3 : 2, 2000));
    }
    // Nor is one that ends in the silence before the escape: the escape fails
    // without "+++", which would start the module's next command line.
    ASSERT_EQ(API_Bluetooth_ConnectedCallback(CountLink), API_ERR_NONE);
    Connect();
    OnSleep([this](long ms) {
        if (ms == 1000 && b_switchToCommandModeRequested == 1 && module.Disconnect())
            Eventually([] { return b_ExitDataMode.load() == 1; });
    });
    EXPECT_EQ(s_BluetoothSendCmd("SET BT CLASS 001f00"), API_ERR_BLUETOOTH_MODULE_INVALID_MODE);
    int length = 0;
    EXPECT_EQ((Codes{b_RestaureDataMode + b_switchToCommandModeRequested, API_Bluetooth_GetVersion(nullptr, &length),
                     API_Bluetooth_CheckCnxStatus(), g_links, i_WPtr}),
              (Codes{0, 0, 0, 1, 0}));
    EXPECT_EQ(module.Commands().back(), "INFO");
}


TEST_F(BluetoothSettings, PinAndAuthenticationReachTheModuleAndTheStore)
{
    Start();
    ASSERT_EQ((Codes{API_Bluetooth_SetPIN("1234"), API_Bluetooth_EnablePINRequest(0), Heard(2)}), (Codes{0, 0, true}));
    const Bytes record = {'1', '2', '3', '4', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);
    EXPECT_EQ(Got(API_Bluetooth_GetPIN), "1234/4");
    for (int enable : {1, 0}) {
        ASSERT_EQ(API_Bluetooth_EnableEncryption(enable), API_ERR_NONE);
        EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ENCRYPTION, 1), Bytes{static_cast<uint8_t>('0' + enable)});
    }
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);  // one byte only, the PIN beside it kept
    ASSERT_TRUE(Heard(4));
    // The trailing space stays: it is what switches authentication off.
    EXPECT_EQ(CommandsSinceStart(),
              (Lines{"SET BT AUTH * 1234", "SET BT AUTH * ", "SET BT AUTH * 1234", "SET BT AUTH * "}));
    // A failed store write is reported after the module took the PIN.
    board.nor->FailWrite(EIO);
    ASSERT_EQ((Codes{API_Bluetooth_SetPIN("4321"), API_Bluetooth_EnableEncryption(1), Heard(6)}),
              (Codes{API_ERR_NOR_FLASH_WRITE, API_ERR_NOR_FLASH_WRITE, true}));
    board.nor->ClearFaults();
    // Too long, or able to end the command line and start another: refused
    // before anything is sent.
    const std::string tooLong(API_BLUETOOTH_NAME_MAX + 1, 'n');
    for (const char *forged : {"Rover\nRESET", "Rover\r", "\tRover", tooLong.c_str()})
        EXPECT_EQ((Codes{API_Bluetooth_SetDeviceName(forged), API_Bluetooth_SetPIN(forged)}),
                  Codes(2, API_ERR_INVALID_PARAMETERS))
            << forged;
    EXPECT_EQ((Codes{API_Bluetooth_SetPIN("0123456789abcdef"), API_Bluetooth_SetPIN(nullptr),
                     API_Bluetooth_SetDeviceName(nullptr), int(CommandsSinceStart().size())}),
              (Codes{API_ERR_INVALID_PARAMETERS, 0, 0, 6}));
    // The stored address is the module's own, zero byte included.
    unsigned char address[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(API_Bluetooth_SetMACAddress(address), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_ADDRESS, 6), kAddress);
    EXPECT_EQ(Bytes(address, address + 6), kAddress);
    ASSERT_EQ(API_Bluetooth_SetPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(Nor(API_BLUETOOTH_NOR_PIN, 16), record);  // nothing of the address behind the PIN
}

TEST_F(BluetoothSettings, AListingInPiecesFillsTheCacheAndLaterReadsStayLocal)
{
    module.SetAnswerPieces(9);
    Start();
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Orva/4");  // the first word of "Orva GNSS"
    EXPECT_EQ(Got(API_Bluetooth_GetType), "001f00/6");
    EXPECT_EQ(Got(API_Bluetooth_GetPIN), "5820/4");  // authentication is off: the PIN as it stands
    ASSERT_EQ(API_Bluetooth_SetDeviceName("Rover 2"), API_ERR_NONE);
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Rover 2/7");
    ASSERT_TRUE(Heard(1));
    EXPECT_EQ(CommandsSinceStart(), Lines{"SET BT NAME Rover 2"});
    // A new listing is asked for (the items known need not wait for it), and
    // keeps the name it was given.
    ASSERT_EQ(s_BluetoothGetParameters(1), API_ERR_NONE);
    // Every item was cached, so that call ended at its first poll: the whole
    // listing must be in before the next command, or it lands in that one's answer.
    ASSERT_EQ(s_BluetoothGetAnswer("Serial Port\r\n", 10), API_ERR_NONE);
    EXPECT_EQ(CommandsSinceStart().back(), "SET");
    EXPECT_STREQ(a_DeviceName, "Rover 2");
    // With PIN requests on, the PIN comes from the listing; long words are cut.
    std::string longName(80, 'n');
    ASSERT_EQ(API_Bluetooth_EnablePINRequest(1), API_ERR_NONE);
    ASSERT_EQ(s_BluetoothSendCmd(("SET BT NAME " + longName).c_str()), API_ERR_NONE);
    ASSERT_EQ(s_BluetoothSendCmd("SET BT AUTH * 9876"), API_ERR_NONE);
    ASSERT_TRUE(module.WaitForCommand("SET BT AUTH * 9876", 2000));
    b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = b_GotBTParameters = 0;  // forget the cache
    unsigned char address[6] = {};
    ASSERT_EQ(API_Bluetooth_GetMACAddress(address), API_ERR_NONE);
    EXPECT_EQ(Bytes(address, address + 6), kAddress);
    EXPECT_EQ(Got(API_Bluetooth_GetPIN), "9876/4");
    EXPECT_EQ(std::string(a_DeviceName), longName.substr(0, API_BLUETOOTH_NAME_MAX));
    // A listing cut short inside the name gives up after its polls and
    // keeps only the complete address.
    b_GotDevName = b_GotDevType = b_GotMacAddress = b_GotPinCode = b_GotBTParameters = 0;
    module.SetListingLimit(strlen("SET BT BDADDR 00:07:80:1a:2b:3c\r\nSET BT NAME Or"));
    EXPECT_EQ(s_BluetoothGetParameters(1), API_ERR_TIME_OUT);
    EXPECT_EQ(b_GotMacAddress + b_GotDevName + b_GotDevType + b_GotBTParameters, 1);
    // A link callback reads the cache while another thread's exchange holds
    // the unit's lock: the receive task, which runs it, is not held up.
    ASSERT_EQ(API_Bluetooth_ConnectedCallback(CountLinkAfterReadingTheCache), API_ERR_NONE);
    pthread_mutex_lock(&Bluetooth_mutex);
    Connect();
    EXPECT_TRUE(Eventually([] { return g_links == 1; }));
    pthread_mutex_unlock(&Bluetooth_mutex);
}

// The version is asked of the module with a null buffer and read from the
// cache with one, without a word to the module; a module that never names
// it is given 101 looks.
TEST_F(BluetoothSettings, TheVersionIsAskedForOnceThenReadFromTheCache)
{
    Start();
    // The start-up's last reset is not waited for: its banner must not be
    // taken for the answer.
    ASSERT_TRUE(module.WaitForRestarts(2, 3000));
    const size_t heard = module.Commands().size();
    EXPECT_EQ(Got(API_Bluetooth_GetVersion), "/0");  // before any query
    int length = -1;
    ASSERT_EQ(API_Bluetooth_GetVersion(nullptr, &length), API_ERR_NONE);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(Got(API_Bluetooth_GetVersion), "3.2.1/5");
    const Lines all = module.Commands();
    EXPECT_EQ(Lines(all.begin() + long(heard), all.end()), Lines{"INFO"});
    module.SetSilent(true);
    const int looks = SleepsOf(100);
    EXPECT_EQ((Codes{API_Bluetooth_GetVersion(nullptr, &length), length, SleepsOf(100) - looks}),
              (Codes{API_ERR_TIME_OUT, 5, 101}));
    EXPECT_EQ(Got(API_Bluetooth_GetVersion), "3.2.1/5");
}

}  // namespace
