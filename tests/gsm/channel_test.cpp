// The AT command channel: sending, the answer waits on the modem's own
// texts, fixed parsing positions, WIP error refinement, the readiness wait
// and the SIM PIN.
#include <algorithm>
#include <set>

#include "gsm_fixture.h"

namespace {

class Channel : public GsmTest {
protected:
    void SetUp() override
    {
        GsmTest::SetUp();
        StartModem();
        modem.SetHandler("AT+CSQ", [](sim::GsmModem &, const std::string &) {
            return sim::GsmReply{"+CSQ: 17,99\nOK", false};
        });
    }

    // The signal strength's two digits, read at fixed places after the prefix.
    unsigned SignalQuality()
    {
        const char *at = s_GsmFindInAnswer("+CSQ: ");
        unsigned tens = 99, units = 99;
        EXPECT_EQ(s_CharToInt(static_cast<char>(s_GsmAnswerByte(at, 6)), &tens), API_ERR_NONE);
        EXPECT_EQ(s_CharToInt(static_cast<char>(s_GsmAnswerByte(at, 7)), &units), API_ERR_NONE);
        return tens * 10 + units;
    }
};

TEST_F(Channel, AnswersAreFoundAndParsedWhateverTheirFraming)
{
    sim::GsmOverride split;
    split.splitAt = 5;  // "\r\n+CS" first, the rest a moment later
    split.times = 1;
    modem.Override("AT+CSQ", split);
    for (bool echo : {false, false, true}) {
        modem.SetEcho(echo);
        EXPECT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
        EXPECT_EQ(SignalQuality(), 17u);
    }
    EXPECT_NE(s_GsmFindInAnswer("AT+CSQ\r"), nullptr);  // the echo came first
    EXPECT_EQ(modem.Commands(), Lines(3, "AT+CSQ\r"));

    // A single look without sleeping, whether the text is there or not.
    size_t sleeps = receiver.Sleeps().size();
    EXPECT_EQ(s_GsmVerifyAnswer("OK", 0), API_ERR_NONE);
    EXPECT_EQ(s_GsmVerifyAnswer("+CPIN", 0), API_ERR_TIME_OUT);
    EXPECT_EQ(s_GsmVerifyAnswer("OK", -1), API_ERR_TIME_OUT);
    EXPECT_EQ(receiver.Sleeps().size(), sleeps);
    EXPECT_EQ(s_GsmVerifyAnswer("OK", 1), API_ERR_NONE);  // after a first sleep
    EXPECT_EQ(receiver.Sleeps().size(), sleeps + 1);
    EXPECT_EQ(Exchange("AT+NOSUCH\r", "OK"), API_ERR_GSM_ACK);

    // An expected text that itself holds "ERROR" is found first.
    modem.SetExtendedErrors(true);
    modem.Override("AT+CSQ", sim::GsmOverride{"", false, 515});
    EXPECT_EQ(Exchange("AT+CSQ\r", "+CME"), API_ERR_NONE);
    const char *at = s_GsmFindInAnswer("+CME ERROR: ");
    EXPECT_EQ(s_GsmAnswerByte(at, 12), '5');
    EXPECT_EQ(s_GsmAnswerByte(at, 4000), -1);
    EXPECT_EQ(s_GsmAnswerByte(Buffer_Cmd, Buffer_Cmd_Length), -1);  // just past the answer
    EXPECT_EQ(s_GsmAnswerByte(nullptr, 0), -1);
    unsigned value = 7;
    EXPECT_EQ(s_CharToInt(static_cast<char>(-1), &value), API_ERR_CHAR_NOT_DIGIT);
    EXPECT_EQ(s_CharToInt('\xB5', &value), API_ERR_CHAR_NOT_DIGIT);  // negative as a signed char
    EXPECT_EQ(s_CharToInt(':', &value), API_ERR_CHAR_NOT_DIGIT);
    EXPECT_EQ(value, 7u);

    // An answer longer than the buffer starts it afresh.
    modem.SetHandler("AT+BIG", [](sim::GsmModem &, const std::string &) {
        return sim::GsmReply{std::string(5000, 'x') + "\nOK", false};
    });
    EXPECT_EQ(Exchange("AT+BIG\r", "OK"), API_ERR_NONE);
    EXPECT_LE(Buffer_Cmd_Length, GSM_ANSWER_SIZE);
}

TEST_F(Channel, DataModeLetsOnlyTheEscapeWordsThrough)
{
    b_CommandMode = 0;
    EXPECT_EQ(s_GsmSendCmd("AT+CSQ\r"), API_ERR_GSM_INVALID_MODE);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_NONE);
    ASSERT_TRUE(Eventually([] { return i_WPtr == 6; }));  // its "OK", taken for payload in data mode
    EXPECT_EQ(s_GsmSendCmd("+++"), API_ERR_NONE);
    b_CommandMode = 1;
    // The raw operation, already in command mode, sends the text as it stands.
    EXPECT_EQ(API_GSM_SendCmd("AT+CSQ\r"), API_ERR_GSM_ACK);  // behind the stray "+++"
    EXPECT_EQ(API_GSM_SendCmd("AT+CSQ\r"), API_ERR_NONE);
    EXPECT_EQ(API_GSM_SendCmd(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(modem.Commands(), (Lines{"AT\r", "+++AT+CSQ\r", "AT+CSQ\r"}));

    s_GsmParkTask();
    API_UartClose(GSM_UART);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_GSM_WRITE);
}

TEST_F(Channel, WipErrorNumbersBecomeTheirCodes)
{
    modem.SetExtendedErrors(true);
    const std::pair<int, int> cases[] = {{812, API_ERR_WIP_BEARER_GPRS_NETWORK}, {800, API_ERR_WIP_INVALID_OPTION},
                                         {851, API_ERR_WIP_BAD_STATE},          {850, API_ERR_WIP_CONFIG_STACK_IP},
                                         {3, API_ERR_GSM_ACK},                  {825, API_ERR_GSM_ACK}};
    for (auto [modemError, code] : cases) {
        modem.Override("AT+WIPCFG", sim::GsmOverride{"", false, modemError, 0, 0, 20, 1});
        int waited = Exchange("AT+WIPCFG=1\r", "OK");
        EXPECT_EQ(waited, API_ERR_GSM_ACK) << modemError;
        EXPECT_EQ(s_GsmCheckErrorInfo(waited), code) << modemError;
    }
    // Every WIP number the modem reports has a code of its own (831 and 851
    // share theirs).
    std::set<int> codes;
    for (int number = 800; number <= 851; ++number) {
        modem.Override("AT+WIPCFG", sim::GsmOverride{"", false, number, 0, 0, 20, 1});
        int code = s_GsmCheckErrorInfo(Exchange("AT+WIPCFG=1\r", "OK"));
        bool listed = (number <= 821 || number >= 830) && number != 834 && (number <= 844 || number >= 850);
        EXPECT_EQ(code != API_ERR_GSM_ACK, listed) << number;
        EXPECT_TRUE(!listed || codes.insert(code).second || number == 851) << number;
    }
    // Other codes pass unchanged, whatever the answer holds.
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
    EXPECT_EQ(b_GSM_PIN_Initialized, 0);
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(),
              (Lines{"AT+CPAS\r", "AT+CMEE=1\r", "AT+CPIN?\r", "AT+CPIN=1234\r", "AT+CMEE=0\r"}));
    EXPECT_FALSE(modem.ExtendedErrors());
    EXPECT_EQ(b_GSM_PIN_Initialized, 1);
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
    };
    for (Case c : {Case{sim::SimCard::Puk, 0, API_ERR_GSM_PIN_CODE}, Case{sim::SimCard::Absent, 0, API_ERR_SIM_CARD_NOT_INSERTED},
                   Case{sim::SimCard::Busy, 0, API_ERR_SIM_CARD_NOT_READY}, Case{sim::SimCard::Ready, 2, API_ERR_GSM_PIN_CODE}}) {
        modem.SetSim(c.sim);
        modem.SetPhoneActivity(c.activity);
        modem.ClearCommands();
        int sleeps = SleepsOf(1000);
        EXPECT_EQ(API_GSM_EnterPIN("1234"), c.code);
        EXPECT_EQ(b_GSM_PIN_Initialized, 0);
        EXPECT_EQ(SleepsOf(1000) - sleeps, c.sim == sim::SimCard::Busy ? 4 : 0);  // between five queries
        Lines sent = modem.Commands();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), "AT+CPIN=1234\r"), 0);
    }
    EXPECT_EQ(modem.Commands(), Lines{"AT+CPAS\r"});  // a phone not ready is asked nothing more

    // Busy for two queries, then ready.
    modem.SetPhoneActivity(0);
    modem.Override("AT+CPIN?", sim::GsmOverride{"", false, 515, 0, 0, 20, 2});
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    modem.Override("AT+CPIN?", sim::GsmOverride{"", true});
    b_GSM_PIN_Initialized = 0;
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_TIME_OUT);
}

}  // namespace
