/* A menu on the display, driven by the two push buttons: scroll moves the
 * selection down (round to the top), record chooses.  A press beeps; the
 * button acts when it is let go.
 * "Battery" and "Temperature" show a reading until the next press, "Beep"
 * plays a short tune, "Quit" ends the program (exit status 0); so does
 * SIGTERM or SIGINT.  Each change is printed too, for a scenario to follow.
 *
 * On the simulated receiver:
 *   orva-sim --at 2s click=scroll --at 3s click=record --at 4s click=record -- ./menu
 *   orva-sim --scenario examples/scenarios/menu.yaml -- ./menu */
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "API.h"

static const char *const items[] = {"Battery", "Temperature", "Beep", "Quit"};
#define ITEM_COUNT 4
#define FIRST_ROW 20
#define ROW_HEIGHT 11

static volatile sig_atomic_t stopping;

static void stop(int signal_number) { stopping = signal_number; }

static void draw_menu(int selected)
{
    int i;
    API_Display_Clear();
    API_Display_PrintText2(2, 0, "Menu");
    API_Display_DrawLine(0, 16, 127, 16);
    for (i = 0; i < ITEM_COUNT; i++) {
        int y = FIRST_ROW + i * ROW_HEIGHT;
        API_Display_PrintText(12, y + 2, 0, items[i]);
        if (i == selected) {
            API_Display_PrintText(2, y + 2, 0, ">");
            API_Display_DrawRect(0, y, 127, y + 8, 0);
        }
    }
    API_Display_Update();
    printf("selected: %s\n", items[selected]);
}

/* The chosen item's screen; 1 when the program should end. */
static int choose(int selected)
{
    char line[40];
    float level = 0, voltage = 0, temperature = 0;
    printf("chosen: %s\n", items[selected]);
    API_Display_Clear();
    API_Display_PrintText2(2, 0, items[selected]);
    API_Display_DrawLine(0, 16, 127, 16);
    switch (selected) {
    case 0:
        if (API_PM_GetPowerLevel(0, &level, &voltage) == 0)
            snprintf(line, sizeof line, "%.0f %% %.2f V", level, voltage);
        else
            snprintf(line, sizeof line, "no battery");
        break;
    case 1:
        API_PM_GetTemperature(&temperature);
        snprintf(line, sizeof line, "%.1f C", temperature);
        break;
    case 2:
        API_Buzzer_Beep(523, 10);
        API_Sleep(150);
        API_Buzzer_Beep(659, 10);
        API_Sleep(150);
        API_Buzzer_Beep(784, 20);
        snprintf(line, sizeof line, "C E G");
        break;
    default: snprintf(line, sizeof line, "Bye"); break;
    }
    API_Display_PrintText(2, 30, 1, line);
    API_Display_Update();
    printf("%s: %s\n", items[selected], line);
    return selected == ITEM_COUNT - 1;
}

int main(void)
{
    int record = 0, scroll = 0, selected = 0, showing = 0, done = 0;
    int result = API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_MMI |
                                API_INIT_BUZZER | API_INIT_DISPLAY | API_INIT_NO_AUTOSTART);
    if (result != 0) {
        fprintf(stderr, "menu: API_Initialize: %d\n", result);
        return 2;
    }
    signal(SIGTERM, stop);
    signal(SIGINT, stop);
    API_Display_SetPowerState(1);
    draw_menu(selected);
    while (!done && !stopping) {
        int now = 0, recordUp = 0, scrollUp = 0;
        if (API_MMI_IsRecordPressed(&now) == 0 && (now != 0) != record) {
            record = now != 0;
            recordUp = !record;
            if (record)
                API_Buzzer_Beep(880, 5);
        }
        if (API_MMI_IsScrollPressed(&now) == 0 && (now != 0) != scroll) {
            scroll = now != 0;
            scrollUp = !scroll;
            if (scroll)
                API_Buzzer_Beep(1760, 5);
        }
        if (showing && (recordUp || scrollUp)) {
            /* Either button leaves a reading for the menu. */
            showing = 0;
            draw_menu(selected);
        } else if (scrollUp) {
            selected = (selected + 1) % ITEM_COUNT;
            draw_menu(selected);
        } else if (recordUp) {
            done = choose(selected);
            showing = 1;
        }
        API_Sleep(20);
    }
    if (stopping)
        printf("stopped by signal %d\n", (int)stopping);
    API_Display_SetPowerState(0);
    API_Finalize();
    return 0;
}
