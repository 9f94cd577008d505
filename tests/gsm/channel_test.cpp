// The AT command channel: sending, the answer waits on the modem's own texts,
// fixed parsing positions, WIP error numbers, the readiness wait and the PIN.
#include <set>

#include "gsm_fixture.h"

namespace {

class Channel : public GsmTest {
protected:
    void SetUp() override
    {
        GsmTest::SetUp();
        StartModem();
    }
};

TEST_F(Channel, AnswersAreFoundWhateverTheirFramingAndWaitsLastTheirLooks)
{
    modem.SetHandler("AT+CSQ", [](sim::GsmModem &, const std::string &) {
        return sim::GsmReply{"+CSQ: 17,99\nOK", false};
    });
    sim::GsmOverride split;
    split.splitAt = 5;  // "\r\n+CS" first, the rest a moment later
    split.times = 1;
    modem.Override("AT+CSQ", split);
    for (bool echo : {false, false, true}) {
        modem.SetEcho(echo);
        EXPECT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
        const char *at = s_GsmFindInAnswer("+CSQ: ");
        EXPECT_EQ(s_GsmAnswerByte(at, 6), '1');
        EXPECT_EQ(s_GsmAnswerByte(at, 7), '7');
    }
    EXPECT_NE(s_GsmFindInAnswer("AT+CSQ\r"), nullptr);  // the echo came first
    EXPECT_EQ(modem.Commands(), Lines(3, "AT+CSQ\r"));

    // A single look without sleeping; otherwise one look each 100 ms and one more.
    int sleeps = SleepsOf(100);
    EXPECT_EQ(s_GsmVerifyAnswer("OK", 0), API_ERR_NONE);
    EXPECT_EQ(s_GsmVerifyAnswer("+CPIN", 0), API_ERR_TIME_OUT);
    EXPECT_EQ(s_GsmVerifyAnswer("OK", -1), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100), sleeps);
    modem.Override("AT+MUTE", sim::GsmOverride{"", true});
    EXPECT_EQ(API_GSM_SendCmd("AT+MUTE\r"), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100) - sleeps, 101);
    EXPECT_EQ(Exchange("AT+NOSUCH\r", "OK"), API_ERR_GSM_ACK);
    unsigned value = 7;
    for (char notDigit : {'\xFF', '\xB5', ':', '/'})
        EXPECT_EQ(s_CharToInt(notDigit, &value), API_ERR_CHAR_NOT_DIGIT);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(s_CharToInt('9', &value), API_ERR_NONE);
    EXPECT_EQ(value, 9u);
}

TEST_F(Channel, DataModeLetsOnlyTheEscapeWordsThrough)
{
    b_CommandMode = 0;
    EXPECT_EQ(s_GsmSendCmd("AT+CSQ\r"), API_ERR_GSM_INVALID_MODE);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_NONE);
    ASSERT_TRUE(Eventually([] { return i_WPtr == 6; }));  // its "OK", taken for payload in data mode
    EXPECT_EQ(s_GsmSendCmd("+++"), API_ERR_NONE);
    b_CommandMode = 1;
    EXPECT_EQ(API_GSM_SendCmd("AT+CPIN?\r"), API_ERR_GSM_ACK);  // behind the stray "+++"
    EXPECT_EQ(API_GSM_SendCmd("AT+CPIN?\r"), API_ERR_NONE);
    EXPECT_EQ(API_GSM_SendCmd(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(modem.Commands(), (Lines{"AT\r", "+++AT+CPIN?\r", "AT+CPIN?\r"}));
    s_GsmParkTask();
    API_UartClose(GSM_UART);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_GSM_WRITE);
}

TEST_F(Channel, EveryWipNumberHasItsOwnCode)
{
    modem.SetExtendedErrors(true);
    const std::pair<int, int> samples[] = {
        {800, API_ERR_WIP_INVALID_OPTION},  {821, API_ERR_WIP_READING_CONFIGURATION_FLASH},
        {830, API_ERR_WIP_BAD_INDEX},       {842, API_ERR_DESTINATION_UNREACHABLE},
        {850, API_ERR_WIP_CONFIG_STACK_IP}, {851, API_ERR_WIP_BAD_STATE}};
    std::set<int> codes;
    for (int number = 799; number <= 852; ++number) {
        modem.Override("AT+WIPCFG", sim::GsmOverride{"", false, number, 0, 0, 20, 1});
        int waited = Exchange("AT+WIPCFG=1\r", "OK");
        ASSERT_EQ(waited, API_ERR_GSM_ACK) << number;
        int code = s_GsmCheckErrorInfo(waited);
        bool listed = (number >= 800 && number <= 821) || (number >= 830 && number <= 844 && number != 834) ||
                      number == 850 || number == 851;
        EXPECT_EQ(code != API_ERR_GSM_ACK, listed) << number;
        EXPECT_TRUE(!listed || codes.insert(code).second || number == 851) << number;  // 831 and 851 share
        for (auto [sample, sampleCode] : samples)
            EXPECT_TRUE(number != sample || code == sampleCode) << number;
    }
    EXPECT_EQ(s_GsmCheckErrorInfo(API_ERR_TIME_OUT), API_ERR_TIME_OUT);
}

TEST_F(Channel, ReadinessWaitEndsWhenTheModemReportsItsStartFinished)
{
    modem.SetInitStatus({0, 1, 2});
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), Lines(3, "AT+WSTR=1\r"));
    EXPECT_EQ(SleepsOf(250), 2);
    modem.Override("AT+WSTR", sim::GsmOverride{"", true});
    const int polls = SleepsOf(100);
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_TIME_OUT);
    EXPECT_EQ(SleepsOf(100) - polls, 11);  // one second for each answer
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
    struct Case {
        sim::SimCard sim;
        int activity;
        int code;
        int pauses;
    };
    for (Case c : {Case{sim::SimCard::Puk, 0, API_ERR_GSM_PIN_CODE, 0},
                   Case{sim::SimCard::Absent, 0, API_ERR_SIM_CARD_NOT_INSERTED, 0},
                   Case{sim::SimCard::Busy, 0, API_ERR_SIM_CARD_NOT_READY, 4},  // between five queries
                   Case{sim::SimCard::Ready, 2, API_ERR_GSM_PIN_CODE, 0}}) {
        modem.SetSim(c.sim);
        modem.SetPhoneActivity(c.activity);
        modem.ClearCommands();
        int pauses = SleepsOf(1000);
        EXPECT_EQ(API_GSM_EnterPIN("1234"), c.code);
        EXPECT_EQ(SleepsOf(1000) - pauses, c.pauses);
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
