#include "internal/API_Ethernet.h"
#include "unit_reset.h"

namespace unitreset {

void Ethernet()
{
    EthernetCnxState = 0;
    p_ethcallback = nullptr;
}

}  // namespace unitreset
