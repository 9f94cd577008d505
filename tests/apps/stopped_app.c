/* A receiver application that draws once and then runs until it is stopped. */
#include <stdio.h>
#include <unistd.h>

#include "API.h"

int main(void)
{
    API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_PM | API_INIT_DISPLAY | API_INIT_NO_AUTOSTART);
    API_Display_DrawRect(10, 10, 50, 30, 1);
    API_Display_Update();
    puts("drawn");
    fflush(stdout);
    for (;;)
        pause();
}
