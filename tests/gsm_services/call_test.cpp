// Circuit-switched calls: dialled, polled, redialled and hung up, with the
// payload checked end to end, and their stored options.
#include <future>

#include "gsm_fixture.h"

namespace {

using sim::CallOutcome;

class Call : public ServicesTest {
protected:
    void Exchange(const std::string &payload)
    {
        int written = -1;
        ASSERT_EQ(API_GSM_CSD_WriteData(payload.data(), static_cast<int>(payload.size()), &written), API_ERR_NONE);
        EXPECT_EQ(written, static_cast<int>(payload.size()));
        EXPECT_EQ(Read(payload.size(), nullptr, API_GSM_CSD_ReadData), payload);
    }
};

TEST_F(Call, SessionCarriesPayloadAcrossAStatusQueryAndEndsWithTheHangUp)
{
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    for (int index = 15; index >= 0; --index) {  // every bearer type set reads back as itself
        ASSERT_EQ(API_GSM_CSD_SetMode(static_cast<unsigned>(index)), API_ERR_NONE) << index;
        int mode = -1;
        ASSERT_EQ(API_GSM_CSD_GetMode(&mode), API_ERR_NONE) << index;
        EXPECT_EQ(mode, index);
    }
    ASSERT_EQ(API_GSM_CSD_SetMode(8), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+CBST=12,0,1"));
    services.SetNumber("0612345678", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_Dial("0612345678"), API_ERR_NONE);
    const std::string first = AllBytes(2000);
    Exchange(first);
    int none = -1;
    EXPECT_EQ(API_GSM_CSD_WriteData("", 0, &none), API_ERR_NONE);
    char byte;
    EXPECT_EQ(API_GSM_CSD_ReadData(&byte, 0, &none), API_ERR_NONE);
    EXPECT_EQ(none, 0);
    // The query escapes; "ATO" takes the call back to data mode.
    GsmStatus status;
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_GetStatus(&status), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "ATO\r");
    const std::string second = AllBytes(2600, true);
    Exchange(second);
    EXPECT_EQ(services.PeerReceived(), first + second);
    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATH"));
    int received = -1;
    EXPECT_EQ(API_GSM_CSD_ReadData(&byte, 1, &received), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(received, 0);
    int written = -1;
    EXPECT_EQ(API_GSM_CSD_WriteData("x", 1, &written), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(API_GSM_CSD_ReadData(&byte, -1, &received), API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER);
    // A read waiting on a new call learns of the remote party's hang-up.
    ASSERT_EQ(API_GSM_CSD_Dial("0612345678"), API_ERR_NONE);
    auto pending = std::async(std::launch::async, [] {
        char one;
        int count = -1;
        return API_GSM_CSD_ReadData(&one, 1, &count);
    });
    ASSERT_TRUE(Eventually([] { return b_PSD_WaitForData == 1; }));
    services.RemoteHangUp();
    EXPECT_EQ(pending.get(), API_ERR_GSM_CONNEXION);
}

TEST_F(Call, EveryOutcomeOfADialIsReported)
{
    const std::pair<CallOutcome, int> kOutcomes[] = {{CallOutcome::Busy, API_ERR_GSM_CSD_NUMBER_BUSY},
                                                     {CallOutcome::NoAnswer, API_ERR_GSM_CSD_NO_ANSWER},
                                                     {CallOutcome::NoCarrier, API_ERR_GSM_CSD_NO_CARRIER}};
    for (auto [outcome, code] : kOutcomes) {
        services.SetNumber("100", outcome);
        EXPECT_EQ(API_GSM_CSD_Dial("100"), code);
    }
    EXPECT_FALSE(Sent("ATH"));
    // No answer, or one that is none of the results: given up after 30 looks.
    services.SetNumber("400", CallOutcome::Silent);
    const int looks = SleepsOf(1000);
    EXPECT_EQ(API_GSM_CSD_Dial("400"), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(SleepsOf(1000) - looks, 30);
    modem.Override("ATD500", sim::GsmOverride{"ERROR"});
    EXPECT_EQ(API_GSM_CSD_Dial("500"), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(CountSent("ATH"), 2);
    EXPECT_EQ(b_CSD_ConnectionStatus, 0);
    EXPECT_EQ(API_GSM_CSD_Dial(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_CSD_Dial(std::string(1020, '1').c_str()), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(API_GSM_CSD_SetMode(16), API_ERR_GSM_CSD_INVALID_CSD_MODE);
    // A redial repeats the last number and stores its count, one digit.
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_CSD_SetReDial(3), API_ERR_GSM_CSD_DIAL_TIMEOUT);
    EXPECT_EQ(CountSent("ATDL"), 3);
    int count = -1;
    ASSERT_EQ(API_GSM_CSD_GetReDial(&count), API_ERR_NONE);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(API_GSM_CSD_SetReDial(10), API_ERR_INVALID_PARAMETERS);
    for (int pickup : {10, 1}) {  // a flag outside the digit is stored as 0
        ASSERT_EQ(API_GSM_CSD_SetAutoPickup(pickup), API_ERR_NONE);
        EXPECT_EQ(Nor(API_GSM_NOR_AUTO_PICKUP, 1), pickup == 1 ? "1" : "0");
        ASSERT_EQ(API_GSM_CSD_GetAutoPickup(&count), API_ERR_NONE);
        EXPECT_EQ(count, pickup == 1);
    }
}

TEST_F(Call, PolledDialIsLookedAtOnlyWhileItIsOnItsWay)
{
    // Whatever the buffer holds before a dial is no dial's answer.
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(0), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);
    services.SetNumber("0612", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_DialWithoutCheckResult("0612"), API_ERR_NONE);
    ASSERT_TRUE(Eventually([&] { return Sent("ATD0612"); }));  // the modem may hear it after the call returns
    EXPECT_TRUE(Eventually([] { return API_GSM_CSD_CheckDialResult(0) == API_ERR_NONE; }));
    EXPECT_EQ(b_CSD_ConnectionStatus, 1);
    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);
    EXPECT_EQ(API_GSM_CSD_CheckDialResult(0), API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT);  // the "OK" to ATH is none
}

// Automatic dialling: the flag is stored, one digit, before the first
// phonebook entry is dialled; off, it only takes a call back to data mode.
// The getter asks the store alone.
TEST_F(Call, AutoDialStoresItsFlagAndDialsTheFirstPhonebookEntry)
{
    services.SetPhonebookFirst("0699");
    services.SetNumber("0699", CallOutcome::Connect);
    ASSERT_EQ(API_GSM_CSD_SetAutoDial(1), API_ERR_NONE);
    EXPECT_TRUE(Sent("ATD>SM1"));
    EXPECT_EQ((std::vector<int>{b_CSD_ConnectionStatus, b_CommandMode}), (std::vector<int>{1, 0}));
    ASSERT_EQ(s_GsmCmdMode(), API_ERR_NONE);
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_CSD_SetAutoDial(0), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), Lines{"ATO\r"});
    EXPECT_EQ(Nor(API_GSM_NOR_AUTO_DIAL, 1), "0");
    ASSERT_EQ(API_GSM_CSD_HangUp(), API_ERR_NONE);

    services.SetNumber("0699", CallOutcome::Busy);
    EXPECT_EQ(API_GSM_CSD_SetAutoDial(9), API_ERR_GSM_CSD_NUMBER_BUSY);
    EXPECT_EQ(Nor(API_GSM_NOR_AUTO_DIAL, 1), "9");
    board.nor->FailWrite(EIO);
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_CSD_SetAutoDial(1), API_ERR_NOR_FLASH_WRITE);
    EXPECT_EQ(CountSent("ATD", false), 0) << "nothing dialled without the flag stored";
    board.nor->ClearFaults();

    modem.ClearCommands();
    for (auto [stored, on] : {std::pair<char, int>{'0', 0}, {'9', 1}, {'x', 1}}) {
        board.nor->Poke(API_GSM_NOR_AUTO_DIAL, std::string(1, stored));
        int got = -1;
        ASSERT_EQ(API_GSM_CSD_GetAutoDial(&got), API_ERR_NONE);
        EXPECT_EQ(got, on) << stored;
    }
    int got = -1;
    board.nor->FailRead(EIO);
    EXPECT_EQ(API_GSM_CSD_GetAutoDial(&got), API_ERR_GSM_PSD_GET_AUTODIAL_STATUS);
    EXPECT_EQ((std::vector<int>{got, API_GSM_CSD_GetAutoDial(nullptr)}),
              (std::vector<int>{-1, API_ERR_INVALID_PARAMETERS}));
    EXPECT_EQ(modem.Commands(), Lines{}) << "the getter asked the modem";
    board.nor->ClearFaults();
}

}  // namespace
