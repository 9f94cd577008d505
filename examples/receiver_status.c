/* The receiver's state at a glance: starts the device API, reads the power
 * management unit (temperature, power source, the level and voltage of each
 * source), the GNSS board's supply and control lines and the push buttons,
 * beeps, and shows it all on the display and on standard output.
 *
 * Exit status 0 when every reading succeeded (an absent battery is a
 * reading); otherwise the failed calls are listed on standard error. */
#include <stdio.h>

#include "API.h"

/* The PMU's answer for a power source that is not fitted. */
#define NO_BATTERY 37

static int failures;

static int check(int result, const char *call, int line)
{
    if (result != 0 && result != NO_BATTERY) {
        char text[API_ERROR_TEXT_SIZE] = "";
        API_Errors_GetErrorText(result, text);
        fprintf(stderr, "receiver_status: %s (line %d): %d %s\n", call, line, result, text);
        failures++;
    }
    return result;
}
#define CHECK(call) check((call), #call, __LINE__)

/* One line of the report, on the console and on the display (18 cells). */
static int row = 18;
static void report(const char *line)
{
    printf("%s\n", line);
    CHECK(API_Display_PrintText(2, row, 0, line));
    row += 6;
}

int main(void)
{
    char line[64];
    float temperature = 0, level = 0, voltage = 0;
    int source = 0, charge = 0, gnss = 0, wakeup = 0, boot = 0, reset = 0;
    int record = 0, scroll = 0, recordAtStart = 0, scrollAtStart = 0, i;

    CHECK(API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_MMI |
                         API_INIT_BUZZER | API_INIT_DISPLAY | API_INIT_NOR | API_INIT_NO_AUTOSTART));
    CHECK(API_Display_SetPowerState(1));
    CHECK(API_Display_Clear());
    CHECK(API_Display_PrintText2(2, 0, "Receiver status"));
    CHECK(API_Display_DrawLine(0, 16, 127, 16));

    CHECK(API_PM_GetTemperature(&temperature));
    CHECK(API_PM_GetPowerSource(&source));
    CHECK(API_PM_GetChargeStatus(2, &charge));
    snprintf(line, sizeof line, "%.1fC SRC %d CHG %d", temperature, source, charge);
    report(line);
    for (i = 0; i <= 2; i++) {
        level = voltage = 0;
        if (CHECK(API_PM_GetPowerLevel(i, &level, &voltage)) == NO_BATTERY)
            snprintf(line, sizeof line, "PWR%d NONE", i);
        else
            snprintf(line, sizeof line, "PWR%d %.2fV %.0f%%", i, voltage, level);
        report(line);
    }

    /* The GNSS board is switched on, as an application would before using it. */
    CHECK(API_GNSS_SetPowerState(1));
    CHECK(API_GNSS_GetPowerState(&gnss));
    CHECK(API_GNSS_GetWakeupPinLevel(&wakeup));
    CHECK(API_GNSS_GetBootPinLevel(&boot));
    CHECK(API_GNSS_GetResetPinLevel(&reset));
    snprintf(line, sizeof line, "GNSS %s W%d B%d R%d", gnss ? "ON" : "OFF", wakeup, boot, reset);
    report(line);

    CHECK(API_MMI_IsRecordPressed(&record));
    CHECK(API_MMI_IsScrollPressed(&scroll));
    CHECK(API_MMI_WasRecordPressedOnBoot(&recordAtStart));
    CHECK(API_MMI_WasScrollPressedOnBoot(&scrollAtStart));
    snprintf(line, sizeof line, "KEYS R%d/%d S%d/%d", record, recordAtStart, scroll, scrollAtStart);
    report(line);

    CHECK(API_Buzzer_Beep(2000, 20));
    CHECK(API_Display_Update());
    API_Finalize();
    if (failures)
        fprintf(stderr, "receiver_status: %d calls failed\n", failures);
    return failures ? 1 : 0;
}
