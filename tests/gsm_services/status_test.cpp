// Status queries parsed from the modem's answer texts, out-of-range digits
// included.
#include <string.h>

#include "services_fixture.h"

namespace {

using Status = ServicesTest;

sim::GsmOverride Answer(const std::string &lines)
{
    sim::GsmOverride change;
    change.answer = lines;
    return change;
}

GsmStatus Blank()
{
    GsmStatus status;
    memset(&status, 0xFF, sizeof status);
    return status;
}

TEST_F(Status, IndicatorsAndStatesAreReadAndRangeChecked)
{
    GsmStatus status = Blank();
    ASSERT_EQ(API_GSM_GetStatus(&status), API_ERR_NONE);
    EXPECT_EQ(status.battery_charge, 3);
    EXPECT_EQ(status.signal, 4);
    EXPECT_EQ(status.service, 1);
    EXPECT_EQ(status.message + status.call + status.roam + status.sms_full, 0);
    EXPECT_EQ(status.phone_activity, 0);
    EXPECT_EQ(status.init_sequence, 2);
    EXPECT_EQ(status.network, 1);
    float level = -1;
    ASSERT_EQ(API_GSM_GetLevel(&level), API_ERR_NONE);
    EXPECT_FLOAT_EQ(level, 80.0f);

    struct Case {
        const char *indicators;
        int code;
    };
    const Case kCases[] = {
        {"6,4,1,0,0,0,0", API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS},
        {"3,6,1,0,0,0,0", API_ERR_GSM_INVALID_SIGNAL_STATUS},
        {"3,4,2,0,0,0,0", API_ERR_GSM_INVALID_SERVICE_STATUS},
        {"3,4,1,2,0,0,0", API_ERR_GSM_INVALID_MESSAGE_STATUS},
        {"3,4,1,0,2,0,0", API_ERR_GSM_INVALID_CALL_STATUS},
        {"3,4,1,0,0,2,0", API_ERR_GSM_INVALID_ROAM_STATUS},
        {"3,4,1,0,0,0,3", API_ERR_GSM_INVALID_SMS_FULL_STATUS},
        {"3,x,1,0,0,0,0", API_ERR_CHAR_NOT_DIGIT},
        {"3,4", API_ERR_CHAR_NOT_DIGIT},
    };
    for (const Case &c : kCases) {
        services.SetIndicators(c.indicators);
        status = Blank();
        EXPECT_EQ(API_GSM_GetStatus(&status), c.code) << c.indicators;
        EXPECT_EQ(status.battery_charge, c.code == API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS ? -1 : 3) << c.indicators;
    }
    services.SetIndicators("1,6,1,0,0,0,0");
    EXPECT_EQ(API_GSM_GetLevel(&level), API_ERR_GSM_INVALID_SIGNAL_STATUS);

    services.SetIndicators("3,4,1,0,0,0,0");
    modem.Override("AT+CPAS", Answer("+CPAS: 6\nOK"));
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_INVALID_PHONE_ACTIVITY_STATUS);
    modem.ClearOverrides();
    modem.SetInitStatus({3});
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS);
    modem.SetInitStatus({2});
    services.SetNetworkStatus(2);
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_INVALID_NETWORK_STATUS);
    modem.Override("AT+WSTR=2", Answer("OK"));
    EXPECT_EQ(API_GSM_GetStatus(&status), API_ERR_GSM_OTHER);
}

TEST_F(Status, SignalQualityTakesUpToTwoCharactersBeforeTheComma)
{
    const std::pair<const char *, int> kAnswers[] = {{"99,99", 99}, {",99", 0}, {"7,0", 7}, {"1a,0", 1}};
    for (const auto &answer : kAnswers) {
        services.SetSignalQuality(answer.first);
        int quality = -1;
        ASSERT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_NONE) << answer.first;
        EXPECT_EQ(quality, answer.second) << answer.first;
    }
    int quality = -1;
    services.SetSignalQuality("100,99");
    EXPECT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_GSM_OTHER);
    services.SetSignalQuality("18");
    EXPECT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_GSM_OTHER);
    modem.Override("AT+CSQ", Answer("OK"));
    EXPECT_EQ(API_GSM_GetSignalStrength(&quality), API_ERR_GSM_OTHER);
    EXPECT_EQ(quality, -1);
}

TEST_F(Status, OperatorNameIsAskedInLongFormAndCopiedWithinItsBuffer)
{
    services.Register("ORVANET", "ORVA", "20899", 2);
    services.SetNameFormat(2);
    char name[API_GSM_OPERATOR_NAME_SIZE + 4];
    int technology = -1;
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_STREQ(name, "\"ORVANET\"");
    EXPECT_EQ(technology, 2);
    EXPECT_TRUE(Sent("AT+COPS=3,0"));

    services.Register("ORVANET", "ORVA", "20899", -1);
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_STREQ(name, "\"ORVANET\"");
    EXPECT_EQ(technology, 0);
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, nullptr), API_ERR_NONE);

    const std::string longName(80, 'N');
    services.Register(longName, "N", "1", 0);
    memset(name, 'x', sizeof name);
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_EQ(std::string(name), ("\"" + longName).substr(0, API_GSM_OPERATOR_NAME_SIZE - 1));
    EXPECT_EQ(name[API_GSM_OPERATOR_NAME_SIZE], 'x');

    services.Register("ORVANET", "ORVA", "20899", 3);
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    modem.Override("AT+COPS?", Answer("+COPS: 0,0\nOK"));
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    EXPECT_FALSE(Sent("AT+CGATT=0"));
}

TEST_F(Status, OperatorQueryWaitsForRegistrationForABoundedTimeAndDetachesNothing)
{
    sim::GsmOverride unregistered = Answer("+COPS: 0\nOK");
    unregistered.times = 2;
    modem.Override("AT+COPS?", unregistered);
    char name[API_GSM_OPERATOR_NAME_SIZE];
    int technology = -1;
    ASSERT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_NONE);
    EXPECT_STREQ(name, "\"ORVANET\"");
    EXPECT_EQ(CountSent("AT+COPS?"), 3);

    services.Unregister();
    modem.ClearCommands();
    const int pauses = SleepsOf(1000);
    EXPECT_EQ(API_GSM_GetNetworkReceived(&technology, name), API_ERR_GSM_OTHER);
    EXPECT_EQ(SleepsOf(1000) - pauses, 10);  // a pause after each unregistered answer
    EXPECT_STREQ(name, "");
    EXPECT_EQ(CountSent("AT+COPS?"), 10);
    EXPECT_FALSE(SentStartingWith("AT+CGATT"));
}

TEST_F(Status, NetworkModeBandAndClassAreRangeChecked)
{
    int value = -1;
    ASSERT_EQ(API_GSM_GetNetworkSelected(&value), API_ERR_NONE);
    EXPECT_EQ(value, 2);
    ASSERT_EQ(API_GSM_GetBand(&value), API_ERR_NONE);
    EXPECT_EQ(value, 5);
    ASSERT_EQ(API_GSM_GetProtocol(&value), API_ERR_NONE);
    EXPECT_EQ(value, 1);

    modem.Override("AT+WWSM?", Answer("+WWSM: 3\nOK"));
    modem.Override("AT+WMBS?", Answer("+WMBS: 8,0\nOK"));
    modem.Override("AT+CGCLASS?", Answer("+CGCLASS: \"B\"\nOK"));
    EXPECT_EQ(API_GSM_GetNetworkSelected(&value), API_ERR_GSM_INVALID_NETWORK_SETTINGS);
    EXPECT_EQ(API_GSM_GetBand(&value), API_ERR_GSM_INVALID_BAND_SETTINGS);
    EXPECT_EQ(API_GSM_GetProtocol(&value), API_ERR_GSM_UNDEFINED_PROTOCOL);
    modem.ClearOverrides();
    modem.Override("AT+WMBS?", Answer("OK"));
    modem.Override("AT+CGCLASS?", Answer("OK"));
    EXPECT_EQ(API_GSM_GetBand(&value), API_ERR_GSM_OTHER);
    EXPECT_EQ(API_GSM_GetProtocol(&value), API_ERR_GSM_OTHER);
    modem.ClearOverrides();
    modem.Override("AT+CGCLASS?", Answer("+CGCLASS: \"CC\"\nOK"));
    ASSERT_EQ(API_GSM_GetProtocol(&value), API_ERR_NONE);
    EXPECT_EQ(value, 0);
}

TEST_F(Status, ImeiAndVersionAreQueriedThenCopied)
{
    char imei[API_GSM_IMEI_SIZE];
    int length = 0;
    ASSERT_EQ(API_GSM_GetIMEI(nullptr, &length), API_ERR_NONE);
    EXPECT_EQ(length, 16);
    ASSERT_EQ(API_GSM_GetIMEI(imei, &length), API_ERR_NONE);
    EXPECT_STREQ(imei, "351234567890123");
    modem.Override("AT+WIMEI?", Answer("OK"));
    ASSERT_EQ(API_GSM_GetIMEI(nullptr, &length), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetIMEI(imei, &length), API_ERR_NONE);
    EXPECT_EQ(length, 1);
    EXPECT_STREQ(imei, "");

    char version[API_GSM_VERSION_SIZE], module[API_GSM_MODULE_SIZE];
    int versionLength = 0, moduleLength = 0;
    ASSERT_EQ(API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetVersion(version, &versionLength, module, &moduleLength), API_ERR_NONE);
    EXPECT_STREQ(version, "7.46a");
    EXPECT_STREQ(module, "Q2687H");
    EXPECT_EQ(versionLength, 6);
    EXPECT_EQ(moduleLength, 7);
    EXPECT_EQ(API_GSM_GetVersion(version, &versionLength, nullptr, &moduleLength), API_ERR_INVALID_PARAMETERS);

    // With echo the answer starts after the command; long module names are cut.
    modem.SetEcho(true);
    modem.Override("AT+CGMR", Answer("812b01.Q2687H-EXTENDED-MODULE-NAME 2010\nOK"));
    ASSERT_EQ(API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetVersion(version, &versionLength, module, &moduleLength), API_ERR_NONE);
    EXPECT_STREQ(version, "8.12b");
    EXPECT_STREQ(module, "Q2687H-EXTENDED-MOD");
    modem.SetEcho(false);
    modem.ClearOverrides();
    modem.Override("AT+CGMR", Answer("R7.46\nOK"));
    ASSERT_EQ(API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetVersion(version, &versionLength, module, &moduleLength), API_ERR_NONE);
    EXPECT_STREQ(module, "Q2687H");
    modem.ClearOverrides();
    modem.Override("AT+CGMR", Answer("746a09gg.Q26 2010\nOK"));  // a name shorter than the default
    ASSERT_EQ(API_GSM_GetVersion(nullptr, &versionLength, nullptr, &moduleLength), API_ERR_NONE);
    ASSERT_EQ(API_GSM_GetVersion(version, &versionLength, module, &moduleLength), API_ERR_NONE);
    EXPECT_STREQ(module, "Q26");

    // Nowhere to put the answer: refused before anything is asked.
    modem.ClearCommands();
    for (int (*query)(int *) : {API_GSM_GetNetworkSelected, API_GSM_GetBand, API_GSM_GetProtocol,
                                API_GSM_GetSignalStrength})
        EXPECT_EQ(query(nullptr), API_ERR_INVALID_PARAMETERS);
    EXPECT_TRUE(modem.Commands().empty());
}

TEST_F(Status, LevelOfAModemNotStartedIsZeroWithoutAsking)
{
    API_GSM_Cleanup();
    float level = -1;
    EXPECT_EQ(API_GSM_GetLevel(&level), API_ERR_NONE);
    EXPECT_EQ(level, 0.0f);
    EXPECT_TRUE(modem.Commands().empty());
}

}  // namespace
