#include <fcntl.h>

#include "board.h"
#include "internal/API_PM.h"
#include "unit_reset.h"

namespace unitreset {

bool OpenPmu()
{
    ClosePmu();
    ifd_pmu = Board_Open("/dev/pmu", O_RDWR, 0);
    return ifd_pmu > 0;
}

void ClosePmu()
{
    if (ifd_pmu > 0)
        Board_Close(ifd_pmu);
    ifd_pmu = 0;
}

void PowerManagement() { p_FuncPtr_status = nullptr; }

}  // namespace unitreset
