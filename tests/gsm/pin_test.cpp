// SIM PIN entry against the SIM states the modem reports.
#include "gsm_fixture.h"

namespace {

class Pin : public GsmTest {
protected:
    void SetUp() override
    {
        GsmTest::SetUp();
        StartModem();
    }

    bool PinWasSent() const
    {
        for (const std::string &command : modem.Commands()) {
            if (command.rfind("AT+CPIN=", 0) == 0)
                return true;
        }
        return false;
    }
};

TEST_F(Pin, ReadySimNeedsNoPinAndIsNotAskedTwice)
{
    EXPECT_EQ(API_GSM_EnterPIN(nullptr), API_ERR_NONE);
    EXPECT_EQ(b_GSM_PIN_Initialized, 1);
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+CPAS", "AT+CMEE=1", "AT+CPIN?", "AT+CMEE=0"}));
    EXPECT_FALSE(modem.ExtendedErrors());

    modem.ClearCommands();
    EXPECT_EQ(API_GSM_EnterPIN("0000"), API_ERR_NONE);
    EXPECT_TRUE(modem.Commands().empty());
}

TEST_F(Pin, LockedSimTakesOnlyAWellFormedRightPin)
{
    modem.SetSim(sim::SimCard::Pin);
    for (const char *malformed : {"123", "12a4", "123456789", ""}) {
        EXPECT_EQ(API_GSM_EnterPIN(malformed), API_ERR_GSM_PIN_CODE) << malformed;
    }
    EXPECT_EQ(API_GSM_EnterPIN(nullptr), API_ERR_GSM_PIN_CODE);
    EXPECT_FALSE(PinWasSent());

    EXPECT_EQ(API_GSM_EnterPIN("4321"), API_ERR_GSM_PIN_CODE);  // refused by the SIM
    EXPECT_EQ(b_GSM_PIN_Initialized, 0);
    EXPECT_FALSE(modem.ExtendedErrors());

    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(b_GSM_PIN_Initialized, 1);
    EXPECT_EQ(modem.Sim(), sim::SimCard::Ready);
}

TEST_F(Pin, BlockedMissingAndBusySims)
{
    modem.SetSim(sim::SimCard::Puk);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_GSM_PIN_CODE);
    EXPECT_FALSE(PinWasSent());

    modem.SetSim(sim::SimCard::Absent);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_SIM_CARD_NOT_INSERTED);

    modem.SetSim(sim::SimCard::Busy);
    int sleepsBefore = SleepsOf(1000);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_SIM_CARD_NOT_READY);
    EXPECT_EQ(SleepsOf(1000) - sleepsBefore, 4);  // between the five queries
    EXPECT_EQ(b_GSM_PIN_Initialized, 0);
    EXPECT_FALSE(modem.ExtendedErrors());

    // Busy for two queries, then ready.
    modem.SetSim(sim::SimCard::Ready);
    sim::GsmOverride busy;
    busy.cmeError = 515;
    busy.times = 2;
    modem.Override("AT+CPIN?", busy);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_NONE);
    EXPECT_EQ(b_GSM_PIN_Initialized, 1);
}

TEST_F(Pin, PhoneNotReadyOrSilentModem)
{
    modem.SetPhoneActivity(2);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_GSM_PIN_CODE);
    EXPECT_EQ(modem.Commands(), std::vector<std::string>{"AT+CPAS"});

    modem.SetPhoneActivity(0);
    sim::GsmOverride silent;
    silent.silent = true;
    modem.Override("AT+CPIN?", silent);
    EXPECT_EQ(API_GSM_EnterPIN("1234"), API_ERR_TIME_OUT);
    EXPECT_EQ(b_GSM_PIN_Initialized, 0);
}

}  // namespace
