// Start-up on the wire, the hardware reset, clean-up and restart.
#include <termios.h>

#include "API_Init.h"
#include "bluetooth_fixture.h"

namespace {

using BluetoothStartUp = BluetoothTest;

TEST_F(BluetoothStartUp, ConfiguresTheLineAndRunsTheSetUpSequenceInOrder)
{
    Start();
    EXPECT_EQ(module.Commands(),
              (Lines{"INFO", "SET CONTROL ECHO 5", "SET BT PAGEMODE 3 2000 1", "SET BT ROLE 0 f 7d00", "RESET",
                     "SET PROFILE SPP Bluetooth Serial Port", "SET", "RESET"}));
    termios line = module.Line().HostSettings();
    EXPECT_EQ(module.Line().HostBitRate(), 115200u);
    EXPECT_EQ(line.c_iflag, tcflag_t(IGNBRK));
    EXPECT_EQ(line.c_oflag | line.c_lflag, tcflag_t(NOFLSH));
    EXPECT_EQ(line.c_cflag & (CRTSCTS | CLOCAL | CREAD), tcflag_t(CRTSCTS | CLOCAL | CREAD));
    EXPECT_EQ(line.c_cc[VMIN], 1);
}

TEST_F(BluetoothStartUp, ASilentModuleIsResetThroughThePmuAndTheApiStartUpGoesOn)
{
    module.SetSilent(true);
    std::string out = simtest::Stdout(
        [] { EXPECT_EQ(API_Initialize(API_INIT_BLUETOOTH), API_ERR_BLUETOOTH_MODULE_NOT_READY); });
    EXPECT_NE(out.find("API_Bluetooth_init error (50)\n"), std::string::npos) << out;
    EXPECT_EQ(board.pmu->State().bluetoothResets, 1);
    EXPECT_TRUE(board.pmu->Log().Contains("02 D3 00 D1"));
    // Only the first "INFO" went out: the set-up is not tried again without an answer.
    EXPECT_EQ(module.Commands(), Lines{"INFO"});
    EXPECT_TRUE(receiver.FileExists("/var/ts9.pid"));
    API_Finalize();
    unitreset::ClosePmu();
    EXPECT_EQ(API_Bluetooth_Reset(), API_ERR_WRITING_SPI);
}

// The clean-up stops the task and forgets what the module is to be asked
// again; a new start-up works as the first.
TEST_F(BluetoothStartUp, CleanUpStopsTheTaskAndASecondStartUpAsksAgain)
{
    Start();
    ASSERT_EQ((Codes{API_Bluetooth_SetDeviceName("Rover 2"), Heard(1)}), (Codes{0, true}));
    Connect("before");
    EXPECT_EQ((Codes{API_Bluetooth_Cleanup(), API_Bluetooth_CheckCnxStatus(), ReadOnce()}),
              (Codes{0, 0, API_ERR_BLUETOOTH_REMOTE_DISCONNECTED}));
    module.SendData("after");  // nobody reads the line any more
    ASSERT_TRUE(module.Disconnect());
    Start();
    EXPECT_EQ(module.Commands().size(), 17u);
    EXPECT_EQ(Got(API_Bluetooth_GetDeviceName), "Rover/5");
    Connect("again");
    EXPECT_EQ(ReadAll(5), "again");
}

}  // namespace
