// The bench's controls on the standard board, seen through the API an
// application calls: each family of actions reaches the application's poll,
// callback or read, and what cannot be done is refused with the reason; the
// table's parser; the timeline's delivery to listeners that come and go; the
// output tee.
#include <unistd.h>

#include <atomic>

#include "API.h"
#include "event_recorder.h"
#include "gsm_fixture.h"
#include "internal/API_PM.h"
#include "sim_control.h"
#include "sim_output.h"
#include "sim_timeline.h"

namespace {

using simsession::Control;
using simsession::Outcome;
using simsession::Timeline;

simtest::EventRecorder g_calls;

// The controls over a test's board: `Do` expects an action to be carried
// out, `Refusal` gives why one is not.
struct Controls {
    Controls(sim::StandardBoard &board, sim::GsmServices &gsm, double scale)
        : timeline(scale), control({board, gsm, timeline})
    {
        g_calls.count = 0;
    }
    std::string Do(const std::string &action)
    {
        Outcome outcome = control.Perform(action);
        EXPECT_TRUE(outcome.done) << outcome.Line();
        return outcome.text;
    }
    std::string Refusal(const std::string &action)
    {
        Outcome outcome = control.Perform(action);
        EXPECT_FALSE(outcome.done) << outcome.Line();
        return outcome.text;
    }
    // The times of the events whose text starts so.
    std::vector<simsession::ReceiverMs> Times(const std::string &start)
    {
        timeline.Flush();
        std::vector<simsession::ReceiverMs> times;
        for (const auto &event : timeline.Events())
            if (event.text.compare(0, start.size(), start) == 0)
                times.push_back(event.ms);
        return times;
    }
    Timeline timeline;
    Control control;
};

bool Calls(int count)
{
    return Eventually([count] { return g_calls.count >= count; });
}

// The units each test starts are cleaned up and reset after it.
class Boards : public simtest::SimTest {
protected:
    explicit Boards(double scale = 0.001) : SimTest(scale), gsm(*board.gsm), bench(board, gsm, scale) {}
    void TearDown() override
    {
        API_MMI_Cleanup();
        API_PM_StopTask();
        API_Usbserial_Cleanup();
        API_Bluetooth_Cleanup();
        API_Signal_Cleanup();
        API_NOR_Cleanup();
        unitreset::PushButtons();
        unitreset::PowerManagement();
        unitreset::Usb();
        unitreset::Ethernet();
        unitreset::Gnss();
        unitreset::Bluetooth();
    }
    std::string Do(const std::string &action) { return bench.Do(action); }
    std::string Refusal(const std::string &action) { return bench.Refusal(action); }

    sim::GsmServices gsm;
    Controls bench;
};

TEST_F(Boards, ButtonsReachThePollAndAClickLastsItsTime)
{
    ASSERT_EQ(API_NOR_Init() + API_MMI_Init(), 0);
    int record = -1, scroll = -1, boot = -1;
    Do("press=record");
    EXPECT_EQ((std::vector<int>{API_MMI_IsRecordPressed(&record), record, API_MMI_IsScrollPressed(&scroll), scroll}),
              (std::vector<int>{0, 1, 0, 0}));
    Do("release=record");
    EXPECT_EQ(API_MMI_IsRecordPressed(&record) + record, 0);
    EXPECT_EQ(Do("click=scroll,250"), "scroll button pressed, released in 250 ms");
    ASSERT_TRUE(Eventually([&] { return bench.Times("release=scroll").size() == 1; }));
    EXPECT_EQ(API_MMI_IsScrollPressed(&scroll) + scroll, 0);
    EXPECT_GE(bench.Times("release=scroll")[0] - bench.Times("click=scroll")[0], 250);
    Do("boot-buttons=scroll");
    EXPECT_EQ(API_MMI_WasScrollPressedOnBoot(&boot) + boot, 1);
    EXPECT_EQ(API_MMI_WasRecordPressedOnBoot(&boot) + boot, 0);
}

TEST_F(Boards, PowerChangesRaiseEventsOnceTheyAreEnabled)
{
    ASSERT_EQ(API_Signal_Initialize() + API_PM_Initialize(), 0);
    ASSERT_EQ(API_PM_StatusCallback([](int status) { g_calls.Record(status); }), 0);
    EXPECT_EQ(Refusal("power-event=0x12"), "the program has not enabled power events (PMU command 0x7E)");
    EXPECT_EQ(Do("battery=42"), "battery at 42 % (no power event: the program has not enabled them)");
    ASSERT_EQ(API_PM_EnablePowerEvents(), 0);
    EXPECT_EQ(Do("power-event=0x3412"), "status 0x3412, event 0x40 with SIGUSR2");
    ASSERT_TRUE(Calls(1));
    // One at a time: the driver's signal is not queued, two close ones merge.
    int calls = 1;
    for (const char *change :
         {"power-source=external", "charger=present", "temperature=-5.25", "battery-voltage=3.71"}) {
        Do(change);
        ASSERT_TRUE(Calls(++calls)) << change;
    }
    EXPECT_EQ(g_calls.Values(), (std::vector<int>{0x3412, 0x3412, 0x3412, 0x3412, 0x3412}));
    float level = 0, volts = 0, celsius = 0;
    int source = -1, charging = -1;
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &volts) + API_PM_GetPowerSource(&source) +
                  API_PM_GetChargeStatus(0, &charging) + API_PM_GetTemperature(&celsius),
              0);
    EXPECT_EQ((std::vector<float>{level, volts, float(source), float(charging), celsius}),
              (std::vector<float>{42, 3.71f, 2, 1, -5.25f}));
    Do("battery=absent");
    EXPECT_EQ(API_PM_GetPowerLevel(0, &level, &volts), API_ERR_NO_BATTERY);
}

TEST_F(Boards, UsbEthernetAndPpsSignalTheirUnitsAndNothingWithoutHandlers)
{
    EXPECT_EQ(Do("usb=plugged"), "device port connected (no event 0x02: nothing holds /dev/gpio open)");
    EXPECT_EQ(Refusal("usb=plugged"), "the cable is already plugged");
    ASSERT_EQ(API_Signal_Initialize(), 0);
    ASSERT_EQ(API_USB_Init([](int change) { g_calls.Record(10 + change); }), 0);
    ASSERT_EQ(API_ETH_Init([](int change) { return g_calls.Record(20 + change), 0; }), 0);
    ASSERT_EQ(API_GNSS_PPSCallback([](void *, unsigned events) { return g_calls.Record(30 + int(events)), 0; }), 0);
    EXPECT_EQ(Do("usb=unplugged"), "device port disconnected, event 0x04 with SIGUSR2");
    ASSERT_TRUE(Calls(1));
    EXPECT_EQ(Do("usb-disk=inserted"), "disk /dev/sda1 appeared, SIGIO");
    ASSERT_TRUE(Calls(2));
    Do("ethernet=up");
    ASSERT_TRUE(Calls(3));
    EXPECT_EQ(Refusal("ethernet=up"), "link marker /var/netlink is already there");
    Do("usb-disk=removed");
    ASSERT_TRUE(Calls(4));
    Do("ethernet=down");
    ASSERT_TRUE(Calls(5));
    Do("pps=pulse");
    ASSERT_TRUE(Calls(6));
    EXPECT_EQ(g_calls.Values(), (std::vector<int>{11, 10, 20, 9, 19, 31}));
    int state = -1;
    EXPECT_EQ(API_USB_GetDeviceState(&state) + state + API_ETH_GetCnxState(&state) + state, 0);
    ASSERT_EQ(API_Usbserial_Init([](int up) { return g_calls.Record(40 + up), 0; }), 0);
    Do("usb-serial=connected");
    ASSERT_TRUE(Calls(8));
    EXPECT_EQ(g_calls.Values().back(), 41);
    // The train: one pulse on each whole receiver second until stopped.
    Do("pps=on");
    ASSERT_TRUE(Calls(10));
    Do("pps=off");
    std::vector<simsession::ReceiverMs> pulses = bench.Times("PPS pulse");
    ASSERT_GE(pulses.size(), 2u);
    EXPECT_GE(pulses[1] / 1000, pulses[0] / 1000 + 1) << testing::PrintToString(pulses);
}

// Bluetooth at 5 % of real time, as its own tests run it.
class BluetoothBench : public Boards {
protected:
    BluetoothBench() : Boards(0.05) {}
};

TEST_F(BluetoothBench, ARemoteLinkIsSeenAndReadUntilItHangsUp)
{
    OpenPmu();
    ASSERT_EQ(API_NOR_Init(), 0);
    EXPECT_EQ(Refusal("bt-link=open"), "no application has opened the Bluetooth server");
    ASSERT_EQ(API_Bluetooth_Init(), 0);
    ASSERT_EQ(API_Bluetooth_ConnectedCallback([] { g_calls.Record(1); }), 0);
    EXPECT_EQ(Do("bt-link=open,00:07:80:AA:BB:CC"), "link opened from 00:07:80:AA:BB:CC");
    ASSERT_TRUE(Calls(1));
    EXPECT_EQ(API_Bluetooth_CheckCnxStatus(), 1);
    EXPECT_EQ(Refusal("bt-link=open"), "a link is already up");
    Do("bt-data=hi\\r\\n\\x00!");
    char text[16];
    int count = 0;
    std::string got;
    while (got.size() < 6 && API_Bluetooth_ReadData(text, sizeof text, &count) == 0)
        got.append(text, static_cast<size_t>(count));
    EXPECT_EQ(got, std::string("hi\r\n\0!", 6));
    Do("bt-link=close");
    EXPECT_EQ(API_Bluetooth_ReadData(text, sizeof text, &count), API_ERR_BLUETOOTH_REMOTE_DISCONNECTED);
    EXPECT_EQ(Refusal("bt-data=late"), "no link is up");
}

sim::GsmServicesOptions AnyPeer()
{
    sim::GsmServicesOptions options;
    options.anyPeer = true;
    return options;
}

class GsmBench : public ServicesTest {
protected:
    GsmBench() : ServicesTest(AnyPeer()), bench(board, services, 0.05) {}
    std::string Do(const std::string &action) { return bench.Do(action); }
    std::string Refusal(const std::string &action) { return bench.Refusal(action); }
    Controls bench;
};

TEST_F(GsmBench, SimNetworkAndSignalAreWhatTheQueriesReport)
{
    Do("gsm-sim=absent");
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_SIM_CARD_NOT_INSERTED);
    EXPECT_EQ(Do("gsm-sim=pin:4321"), "SIM asks for PIN 4321");
    EXPECT_NE(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(API_GSM_EnterPIN("4321"), API_ERR_NONE);
    EXPECT_EQ(Do("gsm-signal=25,3"), "signal 25,3 (5 bars)");
    int quality = -1, technology = -1;
    float percent = -1;
    char name[64] = "";
    EXPECT_EQ(API_GSM_GetSignalStrength(&quality) + API_GSM_GetLevel(&percent), 0);
    EXPECT_EQ(quality, 25);
    EXPECT_EQ(percent, 100.0f);
    Do("gsm-operator=Orva Test");
    Do("gsm-network=roaming");
    GsmStatus status{};
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name) + API_GSM_GetStatus(&status), 0);
    EXPECT_STREQ(name, "\"Orva Test\"");
    EXPECT_EQ((std::vector<int>{status.network, status.service, status.roam}), (std::vector<int>{1, 1, 1}));
    Do("gsm-network=searching");
    EXPECT_EQ(API_GSM_GetStatus(&status), 0);
    EXPECT_EQ((std::vector<int>{status.network, status.service, status.roam}), (std::vector<int>{0, 0, 0}));
}

TEST_F(GsmBench, CallsAndSocketsCarryTheFarEndsData)
{
    EXPECT_EQ(Refusal("gsm-call=hangup"), "no call is up");
    EXPECT_EQ(Do("gsm-call=ring"), "3 rings, unanswered (automatic pick-up is off)");
    ASSERT_EQ(API_GSM_SetProtocol(0) + API_GSM_CSD_SetAutoPickup(1), 0);
    ASSERT_EQ(API_GSM_DSCCallback([] { g_calls.Record(1); }), 0);
    EXPECT_EQ(Do("gsm-call=ring"), "1 ring, answered (CONNECT)");
    ASSERT_TRUE(Calls(1));
    EXPECT_EQ(Refusal("gsm-call=ring"), "the modem is busy with a call or a socket");
    Do("gsm-data=call\\x01");
    EXPECT_EQ(Read(5, nullptr, API_GSM_CSD_ReadData), "call\x01");
    Do("gsm-call=hangup");
    int result = -1;
    EXPECT_EQ(Read(1, &result, API_GSM_CSD_ReadData), "");
    EXPECT_NE(result, API_ERR_NONE);
    // A socket to any host; the far end speaks, then closes it.
    ASSERT_EQ(API_GSM_SetProtocol(1), 0);
    SetAccess();
    ASSERT_EQ(API_GSM_PSD_OpenSocketByIP(0, "192.0.2.7", 7000), 0);
    Do("gsm-data=pushed");
    EXPECT_EQ(Read(6, nullptr, API_GSM_PSD_ReadData), "pushed");
    EXPECT_EQ(Do("gsm-socket=close"), "the peer closed socket 1");
    // The stream's end, or no socket at all once the task has seen it drained.
    EXPECT_EQ(Read(1, &result, API_GSM_PSD_ReadData), "");
    EXPECT_TRUE(result == API_ERR_GSM_CONNEXION || result == API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT) << result;
    EXPECT_EQ(Refusal("gsm-socket=close"), "no socket is open");
}

TEST(BenchActions, ValuesAreCheckedAndTheErrorNamesWhatIsAccepted)
{
    const struct {
        const char *text, *error;
    } kBad[] = {
        {"jump=high", "unknown action \"jump\" (orva-sim --list-actions lists them)"},
        {"press", "\"press\" needs a value: press=record|scroll"},
        {"press=middle", "bad value \"middle\" for press (accepted: record|scroll)"},
        {"click=record,0", "the time is a whole number of ms from 1 to 600000"},
        {"click=record,5,6", "(accepted: record|scroll[,MS])"},
        {"battery=101", "a level is a whole percentage from 0 to 100"},
        {"battery=4.5", "a level is a whole percentage"},
        {"temperature=-31", "a temperature from -30 to 225"},
        {"power-event=0x10000", "a status word from 0 to 0xFFFF"},
        {"bt-link=open,00:11:22", "an address is six hex bytes"},
        {"bt-link=close,00:11:22:33:44:55", "(accepted: open[,ADDRESS]|close)"},
        {"bt-data=\\q", "unknown escape \"\\q\""},
        {"bt-data=\\x4", "unknown escape \"\\x\""},
        {"gsm-data=", "no bytes to send"},
        {"gsm-sim=pin:12a4", "a PIN is 4 to 8 digits"},
        {"gsm-sim=pin", "(accepted: ready|pin:NNNN|puk|absent|busy)"},
        {"gsm-signal=32", "RSSI 0 to 31 or 99, BER 0 to 7 or 99"},
        {"gsm-signal=20,8", "RSSI 0 to 31 or 99"},
        {"gsm-indicators=5,5,1,1,1,1,3", "seven numbers within 5,5,1,1,1,1,2"},
        {"gsm-indicators=1,2,3", "seven numbers"},
        {"gsm-operator=a,b", "without quote or comma"},
        {"gsm-operator=", "a name of 1 to 16"},
    };
    for (const auto &bad : kBad) {
        simsession::Action action;
        std::string error;
        EXPECT_FALSE(simsession::Parse(bad.text, &action, &error)) << bad.text;
        EXPECT_NE(error.find(bad.error), std::string::npos) << bad.text << ": " << error;
    }
    simsession::Action action;
    std::string error;
    ASSERT_TRUE(simsession::Parse("click=scroll", &action, &error));
    EXPECT_EQ((std::vector<double>{double(action.choice), action.number}), (std::vector<double>{1, 100}));
    ASSERT_TRUE(simsession::Parse("bt-data=a\\tb\\\\\\xfF", &action, &error));
    EXPECT_EQ(action.text, "a\tb\\\xff");
    ASSERT_TRUE(simsession::Parse("power-event=4660", &action, &error));
    EXPECT_EQ(action.number, 0x1234);
    // Every row parses the first value its syntax shows.
    for (const simsession::ActionInfo &info : simsession::Actions()) {
        std::string value = info.values;
        value = value.substr(0, value.find_first_of("|["));
        const std::map<std::string, std::string> kSamples = {
            {"MS", "5"},      {"PERCENT", "5"}, {"VOLTS", "5"},
            {"CELSIUS", "5"}, {"STATUS", "5"},  {"TEXT", "x"},
            {"NAME", "x"},    {"RSSI", "5"},    {"B,S,V,M,C,R,F", "0,0,0,0,0,0,0"}};
        auto sample = kSamples.find(value);
        std::string text = std::string(info.name) + "=" + (sample == kSamples.end() ? value : sample->second);
        EXPECT_TRUE(simsession::Parse(text, &action, &error)) << text << ": " << error;
    }
    simsession::ReceiverMs ms = -1;
    for (const char *time : {"2x", "s", "1.", ".5s", "1..2s", "-1s", "2", "400000000s"})
        EXPECT_FALSE(simsession::ParseReceiverTime(time, &ms)) << time;
    for (auto [time, expected] : std::vector<std::pair<const char *, simsession::ReceiverMs>>{
             {"0", 0}, {"2s", 2000}, {"1.5s", 1500}, {"1500ms", 1500}, {"0.0004s", 0}}) {
        ASSERT_TRUE(simsession::ParseReceiverTime(time, &ms)) << time;
        EXPECT_EQ(ms, expected) << time;
    }
}

// A listener that joins late with a replay gets every event once, in order,
// however the publishing runs beside it; a removed one gets nothing more.
TEST(BenchTimeline, LateListenersMissNothingAndRemovedOnesGetNothing)
{
    Timeline timeline(0.001);
    std::atomic<bool> half{false};
    std::thread publisher([&] {
        for (int i = 0; i < 2000; ++i) {
            timeline.Publish("test", std::to_string(i));
            if (i == 1000)
                half = true;
        }
    });
    ASSERT_TRUE(Eventually([&] { return half.load(); }));
    std::vector<std::string> seen;
    std::atomic<int> afterRemoval{0};
    bool removed = false;
    simsession::TimelineListener late;
    late.event = [&](const simsession::TimelineEvent &event) { seen.push_back(event.text); };
    int id = timeline.AddListener(late, true);
    simsession::TimelineListener gone;
    gone.event = [&](const simsession::TimelineEvent &) { afterRemoval += removed; };
    int goneId = timeline.AddListener(gone);
    timeline.RemoveListener(goneId);
    removed = true;
    publisher.join();
    timeline.End();
    timeline.Flush();
    timeline.RemoveListener(id);
    ASSERT_EQ(seen.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(seen[i], std::to_string(i));
    EXPECT_EQ(afterRemoval, 0);
    EXPECT_TRUE(timeline.Ended());
}

// The program's lines reach the timeline and still the file they went to.
TEST(BenchOutput, LinesGoThroughToTheirFileAndTheTimeline)
{
    char path[] = "/tmp/orva-bench-out-XXXXXX";
    int file = mkstemp(path);
    ASSERT_GE(file, 0);
    fflush(stdout);
    int saved = dup(1);
    dup2(file, 1);
    Timeline timeline(1);
    {
        simsession::OutputTee tee;
        tee.Start(timeline);
        printf("first\nsecond line\nno newline");
        tee.Stop();
        printf(" after\n");
        fflush(stdout);
    }
    dup2(saved, 1);
    close(saved);
    timeline.Flush();
    std::vector<std::string> lines;
    for (const auto &line : timeline.Output())
        lines.push_back(line.text);
    EXPECT_EQ(lines, (std::vector<std::string>{"first", "second line", "no newline"}));
    char text[64] = "";
    EXPECT_GT(pread(file, text, sizeof text - 1, 0), 0);
    EXPECT_STREQ(text, "first\nsecond line\nno newline after\n");
    close(file);
    unlink(path);
}

}  // namespace
