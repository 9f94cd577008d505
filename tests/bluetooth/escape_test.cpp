// The command channel: local pseudo-commands, answer polling, and commands
// that interrupt a live link and resume it afterwards.
#include <algorithm>

#include "bluetooth_fixture.h"

namespace {

class BluetoothCommands : public BluetoothStarted {
protected:
    // Host time of the first event with this text, in ms; -1 when absent.
    double When(const std::string &text) const
    {
        for (const sim::BluetoothHostEvent &event : module.HostEvents())
            if (event.text == text)
                return event.ms;
        return -1;
    }
    // One second of the receiver's time, less the host's scheduling jitter.
    const double guardMs = 1000 * receiver.TimeScale() * 0.9;
};

TEST_F(BluetoothCommands, LocalWordsAnswerPollingAndCommandLines)
{
    std::string out = simtest::Stdout([this] {
        EXPECT_EQ(s_BluetoothSendCmd("DEBUG"), API_ERR_NONE);
        EXPECT_EQ(s_BluetoothSendCmd("END"), API_ERR_NONE);
        module.SendRaw("noise\r\n");
        EXPECT_EQ(s_BluetoothGetAnswer("noise", 10), API_ERR_NONE);
    });
    EXPECT_NE(out.find("BT task in command mode receive data\n"), std::string::npos) << out;
    const int looks = SleepsOf(100);
    // A wait of 0 seconds takes one look, after its 100 ms.
    EXPECT_EQ((Codes{s_BluetoothGetAnswer("absent", -1), s_BluetoothGetAnswer("absent", 0),
                     s_BluetoothGetAnswer(nullptr, 1), SleepsOf(100) - looks}),
              (Codes{API_ERR_TIME_OUT, API_ERR_TIME_OUT, API_ERR_TIME_OUT, 1}));
    std::string longest(API_BLUETOOTH_COMMAND_MAX - 12, 'n');
    EXPECT_EQ(s_BluetoothSendCmd(("SET BT NAME " + longest).c_str()), API_ERR_NONE);
    EXPECT_EQ(s_BluetoothSendCmd(("SET BT NAME " + longest + "x").c_str()), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(s_BluetoothSendCmd(nullptr), API_ERR_INVALID_PARAMETERS);
    ASSERT_TRUE(module.WaitForCommand("SET BT NAME " + longest, 2000));
    EXPECT_EQ(CommandsSinceStart().size(), 1u);
}

TEST_F(BluetoothCommands, ACommandDuringALinkEscapesWithGuardSilencesAndResumes)
{
    ASSERT_EQ(API_Bluetooth_ConnectedCallback(CountLink), API_ERR_NONE);
    Connect("unread");
    int written = 0;
    ASSERT_EQ(API_Bluetooth_WriteData("ping", 4, &written), API_ERR_NONE);
    ASSERT_TRUE(module.WaitForRemoteBytes(4, 2000));
    std::thread remote([this] {
        if (Eventually([this] { return module.LinkPaused(); }))
            module.SendData("during");
    });
    const int seconds = SleepsOf(1000);
    ASSERT_EQ(API_Bluetooth_SetDeviceName("Rover"), API_ERR_NONE);
    remote.join();
    EXPECT_EQ(SleepsOf(1000) - seconds, 4);  // around the escape and around the resume
    double data = When("data 4"), escape = When("+++"), command = When("SET BT NAME Rover"), resume = When("SELECT 0");
    EXPECT_GE(std::min({escape - data, command - escape, resume - command}), guardMs);
    EXPECT_EQ(module.RemoteReceived(), "ping");  // the escape and the command stayed off the link
    EXPECT_EQ(module.Name(), "Rover");
    // What the remote sent during the pause arrives once the link resumes,
    // behind what the reader had not yet taken.
    EXPECT_EQ(ReadAll(12), "unreadduring");
    EXPECT_EQ(g_links.load(), 2);  // the link's start and its resumption
    EXPECT_FALSE(module.LinkPaused());
    module.SetSilent(true);
    EXPECT_EQ(s_BluetoothSendCmd("INFO"), API_ERR_BLUETOOTH_MODULE_INVALID_MODE);
    EXPECT_EQ(b_RestaureDataMode + b_switchToCommandModeRequested, 2);
}

// Once the link has ended the module is in command mode, whatever the reader
// has still to drain: a command goes straight to it.
TEST_F(BluetoothCommands, ACommandAfterTheLinksEndIsNotEscaped)
{
    Connect("abc");
    ASSERT_TRUE(module.Disconnect());
    ASSERT_TRUE(Eventually([] { return b_ExitDataMode.load() == 1; }));
    EXPECT_EQ((Codes{API_Bluetooth_SetDeviceName("Late"), module.WaitForCommand("SET BT NAME Late", 2000),
                     module.Escapes(), b_RestaureDataMode}),
              (Codes{0, true, 0, 0}));
    EXPECT_EQ(ReadAll(10), "abc");
}

// The resume to data mode waits for another thread's exchange to end.
TEST_F(BluetoothCommands, TheResumeNeverCutsIntoAnotherExchange)
{
    Connect();
    std::thread operation([] { API_Bluetooth_SetDeviceName("First"); });
    ASSERT_TRUE(module.WaitForCommand("SET BT NAME First", 3000));
    pthread_mutex_lock(&Bluetooth_mutex);  // another thread's exchange, once the operation let go
    const size_t heard = module.Commands().size();
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(3000 * receiver.TimeScale())));
    EXPECT_EQ(module.Commands().size(), heard) << "the resume cut in";
    pthread_mutex_unlock(&Bluetooth_mutex);
    operation.join();
    EXPECT_EQ(module.Commands().back(), "SELECT 0");
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 1);
}

TEST_F(BluetoothCommands, ALinkThatEndsDuringACommandIsNotResumed)
{
    Connect();
    ASSERT_EQ(s_BluetoothSendCmd("SET BT CLASS 001f00"), API_ERR_NONE);
    ASSERT_TRUE(module.LinkPaused());
    ASSERT_TRUE(module.Disconnect());
    ASSERT_TRUE(Eventually([] { return b_RestaureDataMode.load() == 0; }));
    EXPECT_EQ(s_BTDataMode(), API_ERR_NONE);
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 0);
    EXPECT_EQ(CommandsSinceStart(), Lines{"SET BT CLASS 001f00"});
}

}  // namespace
