#include <string.h>

#include "API_Uart.h"
#include "internal/API_Uart.h"
#include "unit_reset.h"

namespace unitreset {

void Uart()
{
    for (std::atomic<int> &fd : ai_fd)
        fd = 0;
    memset(ab_dbgEnabled, 0, sizeof ab_dbgEnabled);
    memset(ab_logEnabled, 0, sizeof ab_logEnabled);
    memset(ai_logFd, 0, sizeof ai_logFd);
    memset(a_uartSettings, 0, sizeof a_uartSettings);
    b_ttyS0open = 0;
}

}  // namespace unitreset
