/* The push buttons and the power events as an application sees them: polls
 * both buttons every 20 ms, prints each change and each power event, beeps
 * when the record button goes down, and ends once the scroll button has been
 * pressed and released (exit status 0), or after 30 s without (status 1).
 *
 * On the simulated receiver, press the buttons with actions:
 *   orva-sim --at 1s click=record --at 2s battery=40 --at 3s click=scroll -- ./buttons */
#include <stdio.h>

#include "API.h"

static void power_event(int status)
{
    float level = 0, voltage = 0;
    API_PM_GetPowerLevel(0, &level, &voltage);
    printf("power event 0x%04X: battery %.0f %%\n", (unsigned)status, level);
}

int main(void)
{
    int record = 0, scroll = 0, tick;
    int result = API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_MMI |
                                API_INIT_BUZZER | API_INIT_POWER_EVENTS | API_INIT_NO_AUTOSTART);
    if (result != 0) {
        fprintf(stderr, "buttons: API_Initialize: %d\n", result);
        return 2;
    }
    API_PM_StatusCallback(power_event);
    printf("waiting for the buttons\n");
    for (tick = 0; tick < 1500; tick++) {
        int now = 0;
        if (API_MMI_IsRecordPressed(&now) == 0 && (now != 0) != record) {
            record = now != 0;
            printf("record %s\n", record ? "pressed" : "released");
            if (record)
                API_Buzzer_Beep(440, 10);
        }
        if (API_MMI_IsScrollPressed(&now) == 0 && (now != 0) != scroll) {
            scroll = now != 0;
            printf("scroll %s\n", scroll ? "pressed" : "released");
            if (!scroll)
                break;
        }
        API_Sleep(20);
    }
    API_Finalize();
    return tick < 1500 ? 0 : 1;
}
