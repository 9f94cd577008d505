#include <stdlib.h>

#include "API_Display.h"
#include "internal/API_Display.h"
#include "unit_reset.h"

namespace unitreset {

void Display()
{
    API_Display_Cleanup();
    free(s_display_mirror);
    s_display_mirror = nullptr;
    s_page_update = 0;
    b_PowerState = 0;
    i_dfd = 0;
}

}  // namespace unitreset
