#include "internal/API_GNSS.h"
#include "unit_reset.h"

namespace unitreset {

void Gnss() { p_FuncPtr = nullptr; }

}  // namespace unitreset
