#include "internal/API_Watchdog.h"
#include "unit_reset.h"

namespace unitreset {

void Watchdog()
{
    i_wd_fd = 0;
    i_timeout = 60;
    b_Watch_Flag = 0;
    b_Watch_Disarmed = 0;
}

}  // namespace unitreset
