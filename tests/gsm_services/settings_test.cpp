// The stored access point name, login and password, and the store's bounds;
// band, network mode and modem class: applied to the modem, stored in NOR,
// with the readiness poll after the modem's restart bounded.
#include <tuple>

#include "gsm_fixture.h"

namespace {

using Parameters = ServicesTest;

TEST_F(Parameters, UnsetFieldsAreMarkedAndSetTextsRoundTripWithinTheirLimits)
{
    int length = 0;
    const std::tuple<int (*)(char *, int *), unsigned, const char *, int> cases[] = {
        {API_GSM_PSD_GetAPN, API_GSM_NOR_APN, "UNDEFINED_APN", API_ERR_GSM_PSD_APN_NOT_DEFINED},
        {API_GSM_PSD_GetLogin, API_GSM_NOR_LOGIN, "UNDEFINED_LOGIN", API_ERR_GSM_PSD_LOGIN_NAME_NOT_YET_DEFINED},
        {API_GSM_PSD_GetPassword, API_GSM_NOR_PASSWORD, "UNDEFINED_PASSWORD",
         API_ERR_GSM_PSD_PASSWORD_NOT_YET_DEFINED}};
    for (auto [get, address, marker, code] : cases) {
        board.nor->Poke(address, std::string("bad/name\0", 9));  // no valid text: unset too
        EXPECT_EQ(get(nullptr, &length), code) << marker;
        EXPECT_EQ(Nor(address, 20).c_str(), std::string(marker));
        // Once marked, the size query succeeds without a size; the copy does not.
        length = 77;
        EXPECT_EQ(get(nullptr, &length), API_ERR_NONE);
        EXPECT_EQ(length, 77);
        char text[300] = "untouched";
        EXPECT_EQ(get(text, &length), code);
        EXPECT_STREQ(text, "untouched");
    }
    EXPECT_EQ(API_GSM_PSD_GetPassword(nullptr, nullptr), API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH);
    // Set texts round-trip within their limits.
    EXPECT_EQ(API_GSM_PSD_SetLogin(std::string(63, 'l').c_str()), API_ERR_NONE);
    EXPECT_EQ(API_GSM_PSD_SetLogin(std::string(64, 'l').c_str()), API_ERR_GSM_PSD_INVALID_LOGIN_NAME);
    // The store's text check would turn these into "unset" when read back.
    EXPECT_EQ(API_GSM_PSD_SetPassword("pa$$word"), API_ERR_GSM_PSD_INVALID_PASSWORD);
    EXPECT_EQ(API_GSM_PSD_SetAPN("web/apn"), API_ERR_GSM_PSD_INVALID_ACCESS_POINT_NAME);
    ASSERT_EQ(API_GSM_PSD_SetAPN("internet.orva"), API_ERR_NONE);
    EXPECT_EQ(Nor(API_GSM_NOR_APN, 247), "internet.orva" + std::string(247 - 13, '\0'));
    ASSERT_EQ(API_GSM_PSD_GetAPN(nullptr, &length), API_ERR_NONE);
    EXPECT_EQ(length, 247);
    char text[300];
    memset(text, 'x', sizeof text);
    length = 5;  // a smaller buffer gets what fits, always terminated
    ASSERT_EQ(API_GSM_PSD_GetAPN(text, &length), API_ERR_NONE);
    EXPECT_STREQ(text, "inte");
    EXPECT_EQ(text[5], 'x');
    // The store takes at most its staging buffer, and one digit per setting.
    EXPECT_EQ(s_GsmFlashWrite(API_GSM_NOR_APN, text, GSM_FLASH_BUF_SIZE), API_ERR_NONE);
    EXPECT_EQ(s_GsmFlashWrite(API_GSM_NOR_APN, text, GSM_FLASH_BUF_SIZE + 1), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(s_GsmStoreDigit(API_GSM_NOR_BAND, 9), API_ERR_NONE);
    EXPECT_EQ(s_GsmStoreDigit(API_GSM_NOR_BAND, 10), API_ERR_INVALID_PARAMETERS);
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "9");
}

TEST_F(Parameters, BandChangeRestartsTheModemWaitsForItAndIsStored)
{
    services.SetRestartStatuses({0, 1, 2});
    const int pauses = SleepsOf(1000);
    EXPECT_EQ(simtest::Stdout([] { ASSERT_EQ(API_GSM_SetBand(3, 1), API_ERR_NONE); }), "Modem ready\r");
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WMBS?\r", "AT+WMBS=3,1\r", "AT&W\r", "AT+CFUN=1\r", "AT+WSTR=1\r",
                                       "AT+WSTR=1\r", "AT+WSTR=1\r"}));
    EXPECT_EQ(SleepsOf(1000) - pauses, 2);  // a pause after each unfinished status
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
    // A status out of range stops before anything is stored.
    services.SetRestartStatuses({3});
    EXPECT_EQ(API_GSM_SetBand(4, 0), API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS);
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "3");
    // Fifty polls at most, answers without any status included.
    services.SetRestartStatuses({1});
    EXPECT_EQ(simtest::Stdout([] { ASSERT_EQ(API_GSM_SetBand(2, 0), API_ERR_NONE); }), "");
    EXPECT_EQ(Nor(API_GSM_NOR_BAND, 1), "2");
    modem.ClearCommands();
    modem.Override("AT+WSTR=1", sim::GsmOverride{"OK"});
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_EQ(CountSent("AT+WSTR=1"), 50);
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "0");
}

TEST_F(Parameters, NetworkModeAndModemClassAreAppliedAndStored)
{
    EXPECT_EQ(API_GSM_SetNetwork(1), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    EXPECT_EQ(modem.Commands(), Lines{"AT+WWSM?\r"});
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_SetNetwork(0), API_ERR_NONE);
    EXPECT_EQ(modem.Commands(), (Lines{"AT+WWSM?\r", "AT+WWSM=0\r", "AT+CFUN=1\r", "AT+WSTR=1\r"}));
    EXPECT_EQ(Nor(API_GSM_NOR_NETWORK, 1), "0");
    EXPECT_EQ(API_GSM_SetProtocol(5), API_ERR_GSM_UNDEFINED_PROTOCOL);
    ASSERT_EQ(API_GSM_SetProtocol(1), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "AT+CGCLASS=\"CG\"\r");
    ASSERT_EQ(API_GSM_SetProtocol(0), API_ERR_NONE);
    EXPECT_TRUE(Sent("AT+CGCLASS=\"CC\""));
    EXPECT_EQ(Nor(API_GSM_NOR_PROTOCOL, 1), "0");
    modem.Connect();  // a connection now is a call
    ASSERT_TRUE(Eventually([] { return b_CSD_ConnectionStatus == 1; }));
    EXPECT_EQ(b_PSD_ConnectionStatus, 0);
    // A change made during a call takes the call up again.
    ASSERT_EQ(API_GSM_SetNetwork(2), API_ERR_NONE);
    EXPECT_EQ(modem.Commands().back(), "ATO\r");
}

}  // namespace
