// Circuit-switched calls: dialled, answered, redialled and hung up, with the
// payload checked end to end, and their stored options.
#include <future>

#include "services_fixture.h"

namespace {

using sim::CallOutcome;

int ReadCsd(char *destination, int wanted, int *received)
{
    return API_GSM_CSD_ReadData(destination, wanted, received);
}

class Call : public ServicesTest {
protected:
    Call() : ServicesTest(0.05) {}

    void Exchange(const std::string &payload)
    {
        int written = -1;
        ASSERT_EQ(API_GSM_CSD_WriteData(payload.data(), static_cast<int>(payload.size()), &written), API_ERR_NONE);
        EXPECT_EQ(written, static_cast<int>(payload.size()));
        EXPECT_EQ(ReadAll(ReadCsd, payload.size()), payload);
    }
};

using Dialling = ServicesTest;

TEST_F(Call, SessionCarriesPayloadAcrossAStatusQueryAndEndsWithTheHangUp)
{
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    // Every bearer type set reads back as itself.
    for (int index = 15; index >= 0; --index) {
        ASSERT_EQ(API_GSM_CSD_SetMode(static_cast<unsigned>(index)), API_ERR_NONE) << index;
        int mode = -1;
        ASSERT_EQ(API_GSM_CSD_GetMode(&mode), API_ERR_NONE) << index;
        EXPECT_EQ(mode, index);
    }
    ASSERT_EQ(API_GSM_CSD_SetMode(8), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+CBST=12,0,1"));

    services.SetNumber("0612345678", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_Dial("0612345678"), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATD0612345678"));
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
    const std::string first = AllBytes(2000);
    Exchange(first);
    int none = -1;
    EXPECT_EQ(API_GSM_CSD_WriteData("", 0, &none), API_ERR_NONE);
    EXPECT_EQ(none, 0);

    // The query escapes; "ATO" takes the call back to data mode.
    GsmStatus status;
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_GetStatus(&status), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "ATO\r");
    EXPECT_EQ(b_CommandMode, 0);
    const std::string second = AllBytes(2600).substr(100);
    Exchange(second);
    EXPECT_EQ(services.PeerReceived(), first + second);

    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATH"));
    char byte;
    int received = -1;
    EXPECT_EQ(API_GSM_CSD_ReadData(&byte, 1, &received), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    int written = -1;
    EXPECT_EQ(API_GSM_CSD_WriteData("x", 1, &written), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(API_GSM_CSD_ReadData(&byte, -1, &received), API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER);
}

TEST_F(Call, IncomingCallIsPickedUpAndEndsWhenTheRemotePartyHangsUp)
{
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    ASSERT_EQ(API_GSM_CSD_SetAutoPickup(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATS0=5"));
    int on = -1;
    ASSERT_EQ(API_GSM_CSD_GetAutoPickup(&on), API_ERR_NONE);
    EXPECT_EQ(on, 0);
    ASSERT_EQ(API_GSM_CSD_SetAutoPickup(1), API_ERR_NONE);
    ASSERT_EQ(API_GSM_CSD_GetAutoPickup(&on), API_ERR_NONE);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(Nor(API_GSM_NOR_AUTO_PICKUP, 1), "1");

    // While it rings, the status is not asked.
    modem.Ring();
    ASSERT_TRUE(Eventually([] { return bCheckStatus == 0; }));
    modem.ClearCommands();
    GsmStatus status;
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_CSD_NUMBER_BUSY);
    EXPECT_TRUE(modem.Commands().empty());

    services.IncomingCall();
    ASSERT_TRUE(Eventually([] { return b_CSD_ConnectionStatus == 1 && b_CommandMode == 0; }));
    EXPECT_EQ(bCheckStatus, 1);
    Exchange("from the field\n");

    auto pending = std::async(std::launch::async, [] {
        char byte;
        int received = -1;
        int result = API_GSM_CSD_ReadData(&byte, 1, &received);
        return received == 0 ? result : -1;
    });
    ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    services.RemoteHangUp();
    EXPECT_EQ(pending.get(), API_ERR_GSM_CONNEXION);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);
}

TEST_F(Call, AutomaticDialCallsTheFirstPhonebookEntryAsACallInEitherClass)
{
    services.SetPhonebookFirst("0699");
    services.SetNumber("0699", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_SetAutoDial(1), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATD>SM1"));
    EXPECT_EQ(Nor(API_GSM_NOR_AUTO_DIAL, 1), "1");
    // The modem class is packet, yet the stream is the call's.
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
    Exchange("dial-up");
    int on = -1;
    ASSERT_EQ(API_GSM_CSD_GetAutoDial(&on), API_ERR_NONE);
    EXPECT_EQ(on, 1);
}

TEST_F(Dialling, EveryOutcomeOfADialIsReported)
{
    services.SetNumber("100", CallOutcome::Busy);
    services.SetNumber("200", CallOutcome::NoAnswer);
    services.SetNumber("300", CallOutcome::NoCarrier);
    services.SetNumber("400", CallOutcome::Silent);
    EXPECT_EQ(API_GSM_CSD_Dial("100"), API_ERR_GSM_CSD_NUMBER_BUSY);
    EXPECT_EQ(API_GSM_CSD_Dial("200"), API_ERR_GSM_CSD_NO_ANSWER);
    EXPECT_EQ(API_GSM_CSD_Dial("300"), API_ERR_GSM_CSD_NO_CARRIER);
    EXPECT_FALSE(Sent("ATH"));

    // No answer, or one that is none of the results: given up after 30 looks.
    const int looks = SleepsOf(1000);
    EXPECT_EQ(API_GSM_CSD_Dial("400"), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(SleepsOf(1000) - looks, 30);
    EXPECT_EQ(CountSent("ATH"), 1);
    modem.Override("ATD500", sim::GsmOverride{"ERROR"});
    EXPECT_EQ(API_GSM_CSD_Dial("500"), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(CountSent("ATH"), 2);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);

    EXPECT_EQ(API_GSM_CSD_Dial(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_CSD_Dial(std::string(1020, '1').c_str()), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_CSD_SetMode(16), API_ERR_GSM_CSD_INVALID_CSD_MODE);
    EXPECT_FALSE(SentStartingWith("AT+CBST"));
}

TEST_F(Dialling, PolledDialIsLookedAtOnlyWhileItIsOnItsWay)
{
    // Whatever the buffer holds before a dial is no dial's answer.
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(0), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(b_CommandMode, 1);

    services.SetNumber("0612", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_DialWithoutCheckResult("0612"), API_ERR_NONE);
    // The dial gets no answer yet: the modem may hear it after the call returns.
    ASSERT_TRUE(Eventually([&] { return Sent("ATD0612"); }));
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(0), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_TRUE(modem.Commands().empty());
    EXPECT_TRUE(Eventually([] { return API_GSM_CSD_CheckDialResult(0) == API_ERR_NONE; }));
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(0), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);  // the "OK" to ATH is none

    services.SetNumber("0613", CallOutcome::Silent);
    ASSERT_EQ(API_GSM_CSD_DialWithoutCheckResult("0613"), API_ERR_NONE);
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(1), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(modem.Commands().back(), "ATH\r");
}

TEST_F(Dialling, RedialRepeatsTheLastNumberAndStoresItsCount)
{
    services.SetNumber("100", CallOutcome::Busy);
    ASSERT_EQ(API_GSM_CSD_Dial("100"), API_ERR_GSM_CSD_NUMBER_BUSY);
    EXPECT_EQ(API_GSM_CSD_SetReDial(3), API_ERR_GSM_CSD_NUMBER_BUSY);
    EXPECT_EQ(CountSent("ATDL"), 3);
    EXPECT_EQ(services.Dialled(), (std::vector<std::string>{"100", "100", "100", "100"}));
    int count = -1;
    ASSERT_EQ(API_GSM_CSD_GetReDial(&count), API_ERR_NONE);
    EXPECT_EQ(count, 3);

    // The count lives in one character.
    EXPECT_EQ(API_GSM_CSD_SetReDial(10), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_CSD_SetReDial(-1), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(Nor(API_GSM_NOR_REDIAL, 1), "3");

    board.nor->Poke(API_GSM_NOR_REDIAL, "x");
    board.nor->Poke(API_GSM_NOR_AUTO_DIAL, "x");
    int on = -1;
    ASSERT_EQ(API_GSM_CSD_GetReDial(&count), API_ERR_NONE);
    EXPECT_EQ(count, 0);
    ASSERT_EQ(API_GSM_CSD_GetAutoDial(&on), API_ERR_NONE);
    EXPECT_EQ(on, 1);
    ASSERT_EQ(API_GSM_CSD_SetAutoDial(0), API_ERR_NONE);
    ASSERT_EQ(API_GSM_CSD_GetAutoDial(&on), API_ERR_NONE);
    EXPECT_EQ(on, 0);
}

}  // namespace
