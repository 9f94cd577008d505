// The AT command channel: sending, answer waits on the modem's real answer
// texts, parsing positions, WIP error refinement and the readiness wait.
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

    int Exchange(const char *command, const char *expected, int seconds = 10)
    {
        int result = s_GsmSendCmd(command);
        return result != API_ERR_NONE ? result : s_GsmVerifyAnswer(expected, seconds);
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

TEST_F(Channel, AnswersAreFoundWhateverTheirFraming)
{
    EXPECT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
    EXPECT_EQ(SignalQuality(), 17u);

    sim::GsmOverride split;
    split.splitAt = 5;  // "\r\n+CS" first, the rest a moment later
    split.times = 1;
    modem.Override("AT+CSQ", split);
    EXPECT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
    EXPECT_EQ(SignalQuality(), 17u);

    // With echo on, the command comes back before its answer.
    modem.SetEcho(true);
    EXPECT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
    EXPECT_NE(s_GsmFindInAnswer("AT+CSQ\r"), nullptr);
    EXPECT_EQ(SignalQuality(), 17u);

    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+CSQ", "AT+CSQ", "AT+CSQ"}));
}

TEST_F(Channel, ErrorsTimeOutsAndPositionsOutsideTheAnswer)
{
    // A single look without sleeping, whether the text is there or not.
    ASSERT_EQ(Exchange("AT+CSQ\r", "OK"), API_ERR_NONE);
    size_t sleepsBefore = receiver.Sleeps().size();
    EXPECT_EQ(s_GsmVerifyAnswer("OK", 0), API_ERR_NONE);
    EXPECT_EQ(s_GsmVerifyAnswer("+CPIN", 0), API_ERR_TIME_OUT);
    EXPECT_EQ(receiver.Sleeps().size(), sleepsBefore);
    EXPECT_EQ(s_GsmVerifyAnswer("OK", -1), API_ERR_TIME_OUT);

    EXPECT_EQ(Exchange("AT+NOSUCH\r", "OK"), API_ERR_GSM_ACK);

    // An expected text that itself holds "ERROR" is found first.
    modem.SetExtendedErrors(true);
    sim::GsmOverride busy;
    busy.cmeError = 515;
    modem.Override("AT+CSQ", busy);
    EXPECT_EQ(Exchange("AT+CSQ\r", "+CME"), API_ERR_NONE);


    const char *at = s_GsmFindInAnswer("+CME ERROR: ");
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(s_GsmAnswerByte(at, 12), '5');
    EXPECT_EQ(s_GsmAnswerByte(at, 4000), -1);
    EXPECT_EQ(s_GsmAnswerByte(nullptr, 0), -1);
    unsigned value = 7;
    EXPECT_EQ(s_CharToInt(static_cast<char>(-1), &value), API_ERR_CHAR_NOT_DIGIT);
    EXPECT_EQ(s_CharToInt('\xB5', &value), API_ERR_CHAR_NOT_DIGIT);  // negative as a signed char
    EXPECT_EQ(value, 7u);
}

TEST_F(Channel, AnAnswerLongerThanTheBufferStartsItAfresh)
{
    std::string table(5000, 'x');
    modem.SetHandler("AT+BIG", [table](sim::GsmModem &, const std::string &) {
        return sim::GsmReply{table + "\nOK", false};
    });
    EXPECT_EQ(Exchange("AT+BIG\r", "OK"), API_ERR_NONE);
    EXPECT_LE(Buffer_Cmd_Length, GSM_ANSWER_SIZE);
}

TEST_F(Channel, DataModeLetsOnlyTheEscapeWordsThrough)
{
    b_CommandMode = 0;
    EXPECT_EQ(s_GsmSendCmd("AT+CSQ\r"), API_ERR_GSM_INVALID_MODE);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_NONE);
    EXPECT_EQ(s_GsmSendCmd("+++"), API_ERR_NONE);
    b_CommandMode = 1;
    ASSERT_TRUE(modem.WaitForCommands(1, 2000));
    EXPECT_EQ(modem.Commands(), std::vector<std::string>{"AT"});

    // The raw operation, already in command mode, sends the text as it stands.
    EXPECT_EQ(API_GSM_SendCmd("AT+CSQ\r"), API_ERR_NONE);
    EXPECT_EQ(API_GSM_SendCmd("AT+NOSUCH\r"), API_ERR_GSM_ACK);
    EXPECT_EQ(API_GSM_SendCmd(nullptr), API_ERR_INVALID_PARAMETERS);

    s_GsmParkTask();
    API_UartClose(GSM_UART);
    EXPECT_EQ(s_GsmSendCmd("AT\r"), API_ERR_GSM_WRITE);
}

TEST_F(Channel, WipErrorNumbersBecomeTheirCodes)
{
    modem.SetExtendedErrors(true);
    struct Case {
        int modemError;
        int code;
    };
    for (Case c : {Case{812, API_ERR_WIP_BEARER_GPRS_NETWORK}, Case{800, API_ERR_WIP_INVALID_OPTION},
                   Case{851, API_ERR_WIP_BAD_STATE}, Case{850, API_ERR_WIP_CONFIG_STACK_IP}, Case{3, API_ERR_GSM_ACK},
                   Case{825, API_ERR_GSM_ACK}}) {
        sim::GsmOverride failure;
        failure.cmeError = c.modemError;
        failure.times = 1;
        modem.Override("AT+WIPCFG", failure);
        int waited = Exchange("AT+WIPCFG=1\r", "OK");
        EXPECT_EQ(waited, API_ERR_GSM_ACK) << c.modemError;
        EXPECT_EQ(s_GsmCheckErrorInfo(waited), c.code) << c.modemError;
    }
    // Other codes pass unchanged, whatever the answer holds.
    EXPECT_EQ(s_GsmCheckErrorInfo(API_ERR_TIME_OUT), API_ERR_TIME_OUT);
    EXPECT_EQ(s_GsmCheckErrorInfo(API_ERR_NONE), API_ERR_NONE);
}

class Readiness : public GsmTest {
protected:
    Readiness() : GsmTest(0.05) {}
    void SetUp() override
    {
        GsmTest::SetUp();
        StartModem();
    }
};

TEST_F(Readiness, WaitEndsWhenTheModemReportsItsStartFinished)
{
    modem.SetInitStatus({0, 1, 2});
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().size(), 3u);

    sim::GsmOverride silent;
    silent.silent = true;
    modem.Override("AT+WSTR", silent);
    EXPECT_EQ(s_GsmWaitForReady(), API_ERR_TIME_OUT);
}

}  // namespace
