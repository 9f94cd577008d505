#include "API_Extender.h"

// Placeholders until the extender unit is built (issue B2).
extern "C" int API_Extender_Init(void) { return 0; }
extern "C" int API_Extender_Cleanup(void) { return 0; }
extern "C" int API_Extender_GetStatusGpio(int, unsigned char, int *level)
{
    *level = 0;
    return 0;
}
extern "C" int API_Extender_SetStatusGpio(int, unsigned char, int) { return 0; }
extern "C" int API_Extender_SetConfigGpio(int, unsigned char, int) { return 0; }
