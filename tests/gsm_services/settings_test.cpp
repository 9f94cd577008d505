// Band, network mode and modem class: applied to the modem, stored in NOR,
// with the readiness poll after the modem's restart bounded.
#include <errno.h>

#include "services_fixture.h"

namespace {

using Settings = ServicesTest;

TEST_F(Settings, BandChangeRestartsTheModemWaitsForItAndIsStored)
{
    services.SetRestartStatuses({0, 1, 2});
    testing::internal::CaptureStdout();
    ASSERT_EQ(API_GSM_SetBand(3, 1), API_ERR_NONE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Modem ready\r");
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+WMBS?\r", "AT+WMBS=3,1\r", "AT&W\r", "AT+CFUN=1\r", "AT+WSTR=1\r",
                                                          "AT+WSTR=1\r", "AT+WSTR=1\r"}));
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
    int band = -1;
    ASSERT_EQ(API_GSM_GetBand(&band), API_ERR_NONE);
    EXPECT_EQ(band, 3);

    // Nothing changes for the band already selected, or for one out of range.
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_SetBand(3, 0), API_ERR_NONE);
    EXPECT_EQ(API_GSM_SetBand(7, 0), API_ERR_GSM_INVALID_BAND_SETTINGS);
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+WMBS?\r", "AT+WMBS?\r"}));

    // A status out of range stops before anything is stored.
    services.SetRestartStatuses({3});
    EXPECT_EQ(API_GSM_SetBand(4, 0), API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS);
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
}

TEST_F(Settings, ReadinessPollAfterARestartEndsAfterFiftyPolls)
{
    services.SetRestartStatuses({1});
    testing::internal::CaptureStdout();
    ASSERT_EQ(API_GSM_SetBand(2, 0), API_ERR_NONE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(CountSent("AT+WSTR=1"), 50);
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "2");

    // Answers without any status count as polls too.
    modem.ClearCommands();
    sim::GsmOverride bare;
    bare.answer = "OK";
    modem.Override("AT+WSTR=1", bare);
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_EQ(CountSent("AT+WSTR=1"), 50);
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "0");
}

TEST_F(Settings, NetworkModeAndModemClassAreAppliedAndStored)
{
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_SetNetwork(1), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"AT+WWSM?\r"}));
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WWSM=0"));
    ASSERT_EQ(API_GSM_SetNetwork(2), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WWSM=2,0"));
    EXPECT_EQ(services.NetworkMode(), 2);
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "2");

    EXPECT_EQ(API_GSM_SetProtocol(5), API_ERR_GSM_UNDEFINED_PROTOCOL);
    EXPECT_FALSE(SentStartingWith("AT+CGCLASS="));
    ASSERT_EQ(API_GSM_SetProtocol(1), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+CGCLASS=\"CG\"\r");
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+CGCLASS=\"CC\""));
    EXPECT_EQ(Nor(API_GSM_NOR_PROTOCOL, 1), "0");
    // A connection now is a call.
    modem.Connect();
    ASSERT_TRUE(Eventually([] { return b_CSD_ConnectionStatus == 1; }));
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
}

TEST_F(Settings, StoreFailureAfterTheModemChangedIsReported)
{
    board.nor->FailWrite(EIO);
    EXPECT_NE(API_GSM_SetProtocol(0), API_ERR_NONE);
    EXPECT_EQ(services.ModemClass(), "CC");
    EXPECT_EQ(GSMprotocol, 0);
    EXPECT_NE(API_GSM_SetBand(1, 0), API_ERR_NONE);
    EXPECT_EQ(services.Band(), 1);
    board.nor->ClearFaults();
    EXPECT_EQ(board.nor->Peek(API_GSM_NOR_BAND, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

}  // namespace
