#include "internal/API_MMI.h"
#include "unit_reset.h"

namespace unitreset {

void PushButtons()
{
    ifd_pb = 0;
    s_bt_read = 0;
    s_bt_state[0] = s_bt_state[1] = 0;
}

}  // namespace unitreset
