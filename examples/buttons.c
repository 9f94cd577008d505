/* The push buttons and the power events as an application sees them: polls
 * both buttons every 20 ms, prints each change and each power event, shows
 * the buttons on the display (a box each, filled while the button is down,
 * and how many times each went down), beeps when the record button goes
 * down, and ends once the scroll button has been pressed and released (exit
 * status 0), or after 30 s without (status 1).
 *
 * On the simulated receiver, press the buttons with actions:
 *   orva-sim --at 1s click=record --at 2s battery=40 --at 3s click=scroll -- ./buttons
 * or with the mouse on the live page: orva-sim --serve -- ./buttons */
#include <stdio.h>

#include "API.h"

static void power_event(int status)
{
    float level = 0, voltage = 0;
    API_PM_GetPowerLevel(0, &level, &voltage);
    printf("power event 0x%04X: battery %.0f %%\n", (unsigned)status, level);
}

static void show(int record, int scroll, int records, int scrolls)
{
    char line[24];
    API_Display_Clear();
    API_Display_PrintText(0, 0, 0, "PUSH BUTTONS");
    API_Display_DrawRect(4, 12, 60, 44, record);
    API_Display_DrawRect(68, 12, 124, 44, scroll);
    sprintf(line, "RECORD %d", records % 100);
    API_Display_PrintText(4, 50, 0, line);
    sprintf(line, "SCROLL %d", scrolls % 100);
    API_Display_PrintText(68, 50, 0, line);
    API_Display_Update();
}

int main(void)
{
    int record = 0, scroll = 0, records = 0, scrolls = 0, tick;
    int result = API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_MMI |
                                API_INIT_BUZZER | API_INIT_DISPLAY | API_INIT_POWER_EVENTS | API_INIT_NO_AUTOSTART);
    if (result != 0) {
        fprintf(stderr, "buttons: API_Initialize: %d\n", result);
        return 2;
    }
    API_PM_StatusCallback(power_event);
    API_Display_SetPowerState(1);
    show(record, scroll, records, scrolls);
    printf("waiting for the buttons\n");
    for (tick = 0; tick < 1500; tick++) {
        int now = 0;
        if (API_MMI_IsRecordPressed(&now) == 0 && (now != 0) != record) {
            record = now != 0;
            records += record;
            printf("record %s\n", record ? "pressed" : "released");
            show(record, scroll, records, scrolls);
            if (record)
                API_Buzzer_Beep(440, 10);
        }
        if (API_MMI_IsScrollPressed(&now) == 0 && (now != 0) != scroll) {
            scroll = now != 0;
            scrolls += scroll;
            printf("scroll %s\n", scroll ? "pressed" : "released");
            show(record, scroll, records, scrolls);
            if (!scroll)
                break;
        }
        API_Sleep(20);
    }
    API_Finalize();
    return tick < 1500 ? 0 : 1;
}
