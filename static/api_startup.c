/* api_startup [MASK]: starts the device API with the feature bits MASK (the
 * loader's own set when none is given), shuts it down again and prints the
 * result: the first program to try on a receiver, before any application.
 *
 * It does what an application does around the start-up: creates its GSM task
 * before a start with the GSM bit, waits for the data partition when it asked
 * for the mount, and disarms a watchdog that the start-up armed, which would
 * otherwise reboot the board 20 s after this program has ended. */
#include <stdio.h>
#include <stdlib.h>

#include "API_Errors.h"
#include "API_Init.h"
#include "API_PART.h"
#include "API_SYS.h"
#include "API_Watchdog.h"

#define LOADER_FEATURES 0x2D7E7
#define GSM_TASK_PRIORITY 50

int main(int argc, char **argv)
{
    char *end = NULL;
    unsigned long mask = LOADER_FEATURES;
    char text[API_ERROR_TEXT_SIZE];
    int result;

    if (argc > 2 || (argc == 2 && ((mask = strtoul(argv[1], &end, 0)) > 0xFFFFFUL || *end != '\0'))) {
        fprintf(stderr, "usage: api_startup [MASK]   (feature bits, at most 0xFFFFF; default 0x%X)\n", LOADER_FEATURES);
        return 2;
    }
    if ((mask & API_INIT_GSM) && API_SYS_CreateTask(API_TASK_GSM, GSM_TASK_PRIORITY) != 0)
        fprintf(stderr, "api_startup: the GSM task did not start\n");

    result = API_Initialize((int)mask);
    API_Errors_GetErrorText(result, text);
    printf("API_Initialize(0x%lX): %d (%s)\n", mask, result, text);

    if (mask & API_INIT_DATA_PARTITION)
        API_PART_Data_IsReady();
    API_Finalize();
    if (mask & API_INIT_WATCHDOG) {
        API_Watchdog_Init(0, 0);
        API_Watchdog_Stop();
    }
    puts("API_Finalize done");
    return result == 0 ? 0 : 1;
}
