// The channel core on its own (the answer buffer's bounds, the ring's end)
// and the AT command channel: the answer waits' lengths, the digit check,
// the readiness wait and the PIN.
#include <errno.h>
#include <semaphore.h>

#include <future>
#include <tuple>

#include "gsm_fixture.h"
#include "internal/API_Channel.h"

namespace {

TEST(ChannelAnswers, AChunkThatDoesNotFitStartsAfreshAndReadsStayInside)
{
    static char data[channel::kSize];
    std::atomic<int32_t> length{0};
    channel::Answers answers(data, length);
    answers.Append(std::string(4000, 'x').c_str(), 4000);
    answers.Append("OK\r\n", 4);
    EXPECT_EQ(answers.ByteAt(answers.Find("OK"), 1), 'K');
    answers.Append(std::string(100, 'z').c_str(), 100);  // behind 4004 it would not fit
    char copy[8];
    EXPECT_EQ(answers.Copy(copy, sizeof copy), 7);
    EXPECT_STREQ(copy, "zzzzzzz");
    EXPECT_EQ(length, 100);
    for (int outside : {100, -1})
        EXPECT_EQ(answers.ByteAt(data, outside), -1);
    EXPECT_EQ(answers.ByteAt(nullptr, 0), -1);
}

std::atomic<bool> g_ended;  // read by a plain function

// The unit's task played by this thread, its reader by another.
TEST(ChannelRing, AReaderWaitsForBytesAndLearnsOfTheEnd)
{
    std::atomic<int32_t> write{0}, read{0}, waits{0};
    g_ended = false;
    sem_t wake;
    ASSERT_EQ(sem_init(&wake, 0, 0), 0);
    channel::Ring ring{write, read, waits, wake, "overflow"};
    ASSERT_TRUE(ring.Allocate());
    auto take = [&](int wanted) {
        std::string taken(static_cast<size_t>(wanted), '\0');
        int count = ring.Take(&taken[0], wanted, [] { return g_ended.load(); });
        return count < 0 ? std::string("end") : taken.substr(0, static_cast<size_t>(count));
    };
    auto reader = std::async(std::launch::async, [&] {
        errno = EINTR;  // left over from an earlier call: a woken wait must not take it for an interruption
        return take(10);
    });
    ASSERT_TRUE(Eventually([&] { return waits == 1; }));
    ring.Put("abc", 3);
    EXPECT_EQ(reader.get(), "abc");
    // An ended stream: what is left comes first, then the end, the ring at 0;
    // a read of nothing ends it at once.
    ring.Put("fg", 2);
    g_ended = true;
    EXPECT_FALSE(ring.EndOfStream());
    EXPECT_EQ(take(1), "f");
    EXPECT_EQ(take(1), "g");
    EXPECT_EQ(read + write, 0);
    EXPECT_EQ(take(1), "end");
    ring.Put("de", 2);
    EXPECT_EQ(take(0), "end");
    EXPECT_TRUE(ring.EndOfStream());
    ring.Release();
}

using Channel = GsmTest;

TEST_F(Channel, WaitsLastTheirLooksAndDigitsAreChecked)
{
    // A single look without sleeping; otherwise one look each 100 ms and one more.
    int sleeps = SleepsOf(100);
    EXPECT_EQ(s_GsmVerifyAnswer("+CPIN", 0), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100), sleeps);
    modem.Override("AT+MUTE", sim::GsmOverride{"", true});
    EXPECT_EQ(API_GSM_SendCmd("AT+MUTE\r"), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100) - sleeps, 101);
    unsigned value = 7;
    for (char notDigit : {'\xFF', '\xB5', ':', '/'})
        EXPECT_EQ(s_CharToInt(notDigit, &value), API_ERR_CHAR_NOT_DIGIT);
    EXPECT_EQ(value, 7u);
    // The readiness wait ends when the modem reports its start finished.
    modem.SetInitStatus({0, 1, 2});
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_NONE);
    EXPECT_EQ(CountSent("AT+WSTR=1"), 3);
    EXPECT_EQ(SleepsOf(250), 2);
}

TEST_F(Channel, PinIsEnteredOnlyWhenTheSimAsksForAWellFormedOne)
{
    modem.SetSim(sim::SimCard::Pin);
    for (const char *malformed : {"123", "12a4", "123456789", "", static_cast<const char *>(nullptr)})
        EXPECT_EQ(API_GSM_EnterPIN(malformed), API_ERR_GSM_PIN_CODE) << (malformed ? malformed : "null");
    EXPECT_EQ(API_GSM_EnterPIN("4321"), API_ERR_GSM_PIN_CODE);  // refused by the SIM
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_EnterPIN("12345678"), API_ERR_GSM_PIN_CODE);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().size(), 10u);
    EXPECT_EQ(modem.Commands().back(), "AT+CMEE=0\r");
    EXPECT_FALSE(modem.ExtendedErrors());
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_EnterPIN("0000"), API_ERR_NONE);  // not asked twice
    EXPECT_TRUE(modem.Commands().empty());
}

TEST_F(Channel, BlockedMissingBusyAndUnreadySims)
{
    const std::tuple<sim::SimCard, int, int, int> cases[] = {
        {sim::SimCard::Puk, 0, API_ERR_GSM_PIN_CODE, 0},
        {sim::SimCard::Absent, 0, API_ERR_SIM_CARD_NOT_INSERTED, 0},
        {sim::SimCard::Busy, 0, API_ERR_SIM_CARD_NOT_READY, 4},  // between five queries
        {sim::SimCard::Ready, 2, API_ERR_GSM_PIN_CODE, 0}};
    for (auto [card, activity, code, pauses] : cases) {
        modem.SetSim(card);
        modem.SetPhoneActivity(activity);
        modem.ClearCommands();
        int before = SleepsOf(1000);
        EXPECT_EQ(API_GSM_EnterPIN("1234"), code);
        EXPECT_EQ(SleepsOf(1000) - before, pauses) << code;
        Lines sent = modem.Commands();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "AT+CPIN=1234\r"), 0);
    }
    EXPECT_EQ(modem.Commands(), Lines{"AT+CPAS\r"});  // a phone not ready is asked nothing more
    EXPECT_EQ(b_GSM_PIN_Initialized, 0);

    // Busy for two queries, then ready.
    modem.SetPhoneActivity(0);
    modem.Override("AT+CPIN?", sim::GsmOverride{"", false, 515, 0, 0, 20, 2});
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    modem.Override("AT+CPIN?", sim::GsmOverride{"", true});
    b_GSM_PIN_Initialized = 0;
    const int looks = SleepsOf(100);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_TIME_OUT);
    EXPECT_GE(SleepsOf(100) - looks, 2 * 101);  // 10 s for "+CPIN:", 10 s for "+CME"
}

}  // namespace
