#include "API_Serial_EXTUHF.h"

// Placeholder until the GPIO driver requests are built (issue B2).
extern "C" int API_EXTUHF_SetSerialMode(int) { return 0; }

// Placeholder until the GPIO driver requests are built (issue B2).
extern "C" int API_EXTUHF_GetSerialMode(int *mode)
{
    *mode = 0;
    return 0;
}
