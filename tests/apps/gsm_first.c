/* Starts the GSM unit without its task, as an application that has the
 * order wrong: the start-up's answers are never read. */
#include <stdio.h>

#include "API.h"

int main(void)
{
    int result;
    API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_SIGNALS | API_INIT_PM | API_INIT_NO_AUTOSTART);
    result = API_GSM_Initialize();
    printf("API_GSM_Initialize: %d\n", result);
    API_Finalize();
    return 0;
}
