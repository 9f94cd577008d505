#include "sim/standard_board.h"

namespace sim {

StandardBoard::StandardBoard(Receiver &receiver_) : receiver(receiver_)
{
    receiver.AddDevice("/dev/pmu", pmu);
    receiver.AddDevice("/dev/extender", extender);
    receiver.AddDevice("/dev/gpio", gpio);
    receiver.AddDevice("/dev/mtd3", nor);
    receiver.AddDevice("/dev/pps", pps);
    receiver.AddDevice("/dev/pushbuttons", pushbuttons);
    receiver.AddDevice("/dev/display", display);
    receiver.AddDevice("/dev/watchdog", watchdog);
    gsm->SetPowerProbe([pmu = pmu] {
        sim::PmuState state = pmu->State();
        return GsmModem::Supply{state.gsmPower, state.gsmSwitchOffs};
    });
}

}  // namespace sim
