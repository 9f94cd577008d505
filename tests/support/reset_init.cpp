#include "internal/API_Init.h"
#include "unit_reset.h"

namespace unitreset {

void Init()
{
    s_DefaultPaths();
    FullttyUSB = 0;
    ifd_pps = 0;
    i_API_Initialized = 0;
    b_IsInitialized = 0;
}

}  // namespace unitreset
