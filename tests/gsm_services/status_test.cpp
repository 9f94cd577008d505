// Status queries parsed from the modem's answer texts, out-of-range digits
// included.
#include <tuple>

#include "gsm_fixture.h"

namespace {

using Status = ServicesTest;

TEST_F(Status, IndicatorsStatesAndDigitsAreReadAndRangeChecked)
{
    GsmStatus status;
    memset(&status, 0xFF, sizeof status);
    ASSERT_EQ(API_GSM_GetStatus(&status), API_ERR_NONE);
    EXPECT_EQ(
        (std::vector<int>{status.battery_charge, status.signal, status.service, status.message, status.call,
                          status.roam, status.sms_full, status.phone_activity, status.init_sequence, status.network}),
        (std::vector<int>{3, 4, 1, 0, 0, 0, 0, 0, 2, 1}));
    float level = -1;
    ASSERT_EQ(API_GSM_GetLevel(&level), API_ERR_NONE);
    EXPECT_FLOAT_EQ(level, 80.0f);
    const std::pair<const char *, int> kIndicators[] = {{"6,4,1,0,0,0,0", API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS},
                                                        {"3,6,1,0,0,0,0", API_ERR_GSM_INVALID_SIGNAL_STATUS},
                                                        {"3,4,1,0,0,0,3", API_ERR_GSM_INVALID_SMS_FULL_STATUS},
                                                        {"3,4", API_ERR_CHAR_NOT_DIGIT}};
    for (auto [indicators, code] : kIndicators) {
        services.SetIndicators(indicators);
        EXPECT_EQ(API_GSM_GetStatus(&status), code) << indicators;
    }
    EXPECT_EQ(API_GSM_GetLevel(nullptr), API_ERR_INVALID_PARAMETERS);
    services.SetIndicators("3,4,1,0,0,0,0");
    services.SetNetworkStatus(2);
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_INVALID_NETWORK_STATUS);
    const std::tuple<const char *, const char *, int (*)(int *), int, int> cases[] = {
        {"AT+CSQ", "+CSQ: ,99", API_GSM_GetSignalStrength, API_ERR_NONE, 0},
        {"AT+CSQ", "+CSQ: 100,99", API_GSM_GetSignalStrength, API_ERR_GSM_OTHER, -1},
        {"AT+CSQ", "+CSQ: 18", API_GSM_GetSignalStrength, API_ERR_GSM_OTHER, -1},
        {"AT+WWSM?", "+WWSM: 2", API_GSM_GetNetworkSelected, API_ERR_NONE, 2},
        {"AT+WMBS?", "+WMBS: 8,0", API_GSM_GetBand, API_ERR_GSM_INVALID_BAND_SETTINGS, -1},
        {"AT+CGCLASS?", "+CGCLASS: \"CG\"", API_GSM_GetProtocol, API_ERR_NONE, 1},
        {"AT+CGCLASS?", "+CGCLASS: \"B\"", API_GSM_GetProtocol, API_ERR_GSM_UNDEFINED_PROTOCOL, -1},
        {"AT+CGCLASS?", "", API_GSM_GetProtocol, API_ERR_GSM_OTHER, -1},
    };
    for (auto [command, answer, query, code, expected] : cases) {
        modem.Override(command, sim::GsmOverride{std::string(answer) + (*answer ? "\n" : "") + "OK"});
        int value = -1;
        EXPECT_EQ(query(&value), code) << answer;
        EXPECT_TRUE(code != API_ERR_NONE || value == expected) << answer;
        modem.ClearOverrides();
    }
    // Nowhere to put the answer: refused before anything is asked.
    modem.ClearCommands();
    for (auto [command, answer, query, code, expected] : cases)
        EXPECT_EQ(query(nullptr), API_ERR_INVALID_PARAMETERS) << command;
    EXPECT_TRUE(modem.Commands().empty());
    // A modem not started has no level, and is not asked.
    API_GSM_Cleanup();
    EXPECT_EQ(API_GSM_GetLevel(&level), API_ERR_NONE);
    EXPECT_EQ(level, 0.0f);
    EXPECT_TRUE(modem.Commands().empty());
}

TEST_F(Status, OperatorNameIsAskedInLongFormWaitedForAndCopiedWithinItsBuffer)
{
    services.Register("ORVANET", "ORVA", "20899", 2);
    services.SetNameFormat(2);
    char name[API_GSM_OPERATOR_NAME_SIZE + 4];
    int technology = -1;
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_STREQ(name, "\"ORVANET\"");
    EXPECT_EQ(technology, 2);
    EXPECT_TRUE(Sent("AT+COPS=3,0"));
    services.Register(std::string(80, 'N'), "N", "1", -1);
    memset(name, 'x', sizeof name);
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_EQ(std::string(name), "\"" + std::string(API_GSM_OPERATOR_NAME_SIZE - 2, 'N'));
    EXPECT_EQ(name[API_GSM_OPERATOR_NAME_SIZE], 'x');
    EXPECT_EQ(technology, 0);
    services.Register("ORVANET", "ORVA", "20899", 3);
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    // Unregistered: asked again, a pause after each answer, ten times at most.
    sim::GsmOverride unregistered{"+COPS: 0\nOK"};
    unregistered.times = 2;
    modem.ClearOverrides();
    modem.Override("AT+COPS?", unregistered);
    services.Register("ORVANET", "ORVA", "20899", 0);
    modem.ClearCommands();
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, nullptr), API_ERR_NONE);
    EXPECT_EQ(CountSent("AT+COPS?"), 3);
    services.Unregister();
    modem.ClearCommands();
    const int pauses = SleepsOf(1000);
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_GSM_OTHER);
    EXPECT_EQ(SleepsOf(1000) - pauses, 10);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(CountSent("AT+COPS?"), 10);
    EXPECT_EQ(CountSent("AT+CGATT", false), 0);  // nothing detached
}

TEST_F(Status, ImeiAndVersionAreQueriedThenCopied)
{
    char imei[API_GSM_IMEI_SIZE];
    int length = 0;
    ASSERT_EQ(API_GSM_GetIMEI(nullptr, &length), API_ERR_NONE);
    EXPECT_EQ(length, 16);
    ASSERT_EQ(API_GSM_GetIMEI(imei, &length), API_ERR_NONE);
    EXPECT_STREQ(imei, "351234567890123");
    modem.Override("AT+WIMEI?", sim::GsmOverride{"OK"});
    ASSERT_EQ(API_GSM_GetIMEI(nullptr, &length), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetIMEI(imei, &length), API_ERR_NONE);
    EXPECT_EQ(length, 1);
    EXPECT_STREQ(imei, "");
    char version[API_GSM_VERSION_SIZE], module[API_GSM_MODULE_SIZE];
    int versionLength = 0, moduleLength = 0;
    EXPECT_EQ(API_GSM_GetVersion(version, &versionLength, nullptr, &moduleLength), API_ERR_INVALID_PARAMETERS);
    // With echo the answer starts after the command; long module names are
    // cut, and a name that is no module's leaves the default.
    const std::pair<const char *, const char *> kAnswers[] = {
        {"746a09gg.Q2687H 1566912 031209 17:40", "7.46a Q2687H"},
        {"812b01.Q2687H-EXTENDED-MODULE-NAME 2010", "8.12b Q2687H-EXTENDED-MOD"},
        {"R7.46", "R.7.4 Q2687H"},
        {"746a09gg.Q26 2010", "7.46a Q26"}};
    for (auto [answer, expected] : kAnswers) {
        modem.SetEcho(*answer == '8');
        modem.Override("AT+CGMR", sim::GsmOverride{std::string(answer) + "\nOK"});
        ASSERT_EQ(API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength), API_ERR_NONE);
        ASSERT_EQ(API_GSM_GetVersion(version, &versionLength, module, &moduleLength), API_ERR_NONE);
        EXPECT_EQ(std::string(version) + " " + module, expected);
        EXPECT_EQ(versionLength + moduleLength, static_cast<int>(strlen(expected)) + 1);
        modem.ClearOverrides();
    }
}

}  // namespace
