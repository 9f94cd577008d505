#include "internal/API_Extender.h"
#include "unit_reset.h"

namespace unitreset {

void Extender() { fd_extender = 0; }

}  // namespace unitreset
