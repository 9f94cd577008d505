// Band, network mode and modem class: applied to the modem, stored in NOR,
// with the readiness poll after the modem's restart bounded.
#include <errno.h>

#include "services_fixture.h"

namespace {

using Settings = ServicesTest;

TEST_F(Settings, BandChangeRestartsTheModemWaitsForItAndIsStored)
{
    services.SetRestartStatuses({0, 1, 2});
    const int pauses = SleepsOf(1000);
    EXPECT_EQ(simtest::Stdout([] { ASSERT_EQ(API_GSM_SetBand(3, 1), API_ERR_NONE); }), "Modem ready\r");
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WMBS?\r", "AT+WMBS=3,1\r", "AT&W\r", "AT+CFUN=1\r", "AT+WSTR=1\r",
                                       "AT+WSTR=1\r", "AT+WSTR=1\r"}));
    EXPECT_EQ(SleepsOf(1000) - pauses, 2);  // a pause after each unfinished status
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
    // Nothing changes for the band already selected, or for one out of range.
    modem.ClearCommands();
    EXPECT_EQ(API_GSM_SetBand(3, 0), API_ERR_NONE);
    EXPECT_EQ(API_GSM_SetBand(7, 0), API_ERR_GSM_INVALID_BAND_SETTINGS);
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WMBS?\r", "AT+WMBS?\r"}));
    // A status out of range stops before anything is stored.
    services.SetRestartStatuses({3});
    EXPECT_EQ(API_GSM_SetBand(4, 0), API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS);
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
    // Fifty polls at most, answers without any status included.
    services.SetRestartStatuses({1});
    EXPECT_EQ(simtest::Stdout([] { ASSERT_EQ(API_GSM_SetBand(2, 0), API_ERR_NONE); }), "");
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "2");
    modem.ClearCommands();
    modem.Override("AT+WSTR=1", Answer("OK"));
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_EQ(CountSent("AT+WSTR=1"), 50);
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "0");
}

TEST_F(Settings, NetworkModeAndModemClassAreAppliedAndStored)
{
    EXPECT_EQ(API_GSM_SetNetwork(1), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    EXPECT_EQ(modem.Commands(), Lines{"AT+WWSM?\r"});
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+WWSM=0"));
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_SetNetwork(2), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WWSM?\r", "AT+WWSM=2,0\r", "AT+CFUN=1\r", "AT+WSTR=1\r"}));
    EXPECT_EQ(services.NetworkMode(), 2);
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "2");
    // A store failure after the modem changed is reported.
    board.nor->FailWrite(EIO);
    EXPECT_NE(API_GSM_SetBand(1, 0), API_ERR_NONE);
    EXPECT_EQ(services.Band(), 1);
    board.nor->ClearFaults();
    EXPECT_EQ(board.nor->Peek(API_GSM_NOR_BAND, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    EXPECT_EQ(API_GSM_SetProtocol(5), API_ERR_GSM_UNDEFINED_PROTOCOL);
    EXPECT_EQ(CountSent("AT+CGCLASS=", false), 0);
    ASSERT_EQ(API_GSM_SetProtocol(1), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+CGCLASS=\"CG\"\r");
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+CGCLASS=\"CC\""));
    EXPECT_EQ(Nor(API_GSM_NOR_PROTOCOL, 1), "0");
    modem.Connect();  // a connection now is a call
    ASSERT_TRUE(Eventually([] { return b_CSD_ConnectionStatus == 1; }));
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
    // A change made during a call takes the call up again.
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "ATO\r");
}

}  // namespace
