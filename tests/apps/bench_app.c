/* A receiver application for the runner's report: "panel CONTRAST on|off|never"
 * draws a box on a panel powered as told, beeps and sets the contrast;
 * "gsm task|none" starts the modem with or without its task. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "API.h"

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    if (strcmp(argv[1], "gsm") == 0) {
        API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_PM | API_INIT_NO_AUTOSTART);
        if (strcmp(argv[2], "task") == 0)
            API_SYS_CreateTask(API_TASK_GSM, 10);
        printf("GSM start-up: %d\n", API_GSM_Initialize());
        API_GSM_Cleanup();
        API_GSM_SetPowerState(0);
        API_Finalize();
        return 0;
    }
    API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_PM | API_INIT_BUZZER | API_INIT_DISPLAY |
                   API_INIT_NO_AUTOSTART);
    if (strcmp(argv[2], "never") != 0)
        API_Display_SetPowerState(1);
    API_Sleep(100);
    API_Display_DrawRect(10, 10, 60, 40, 1);
    API_Display_Update();
    API_Buzzer_Beep(440, 10);
    API_Sleep(1000);
    API_Display_SetBrightness(atoi(argv[1]));
    if (strcmp(argv[2], "off") == 0)
        API_Display_SetPowerState(0);
    API_Sleep(500);
    API_Finalize();
    return 0;
}
