// The receiver as it leaves the factory: every device model behind its path,
// in its power-up state.  Tests and orvaflash-sim start from this and then
// change states or inject faults through the members.
#ifndef SIM_STANDARD_BOARD_H
#define SIM_STANDARD_BOARD_H

#include <memory>

#include "sim/receiver.h"

namespace sim {

struct StandardBoard {
    explicit StandardBoard(Receiver &receiver);

    Receiver &receiver;
    // Device models are added here as members, one per driver.
};

}  // namespace sim

#endif
