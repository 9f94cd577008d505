// The receiver as it leaves the factory: every device model behind its path,
// in its power-up state.  Tests and orvaflash-sim start from this and then
// change states or inject faults through the members.
#ifndef SIM_STANDARD_BOARD_H
#define SIM_STANDARD_BOARD_H

#include <memory>

#include "sim/bluetooth_module.h"
#include "sim/display.h"
#include "sim/extender.h"
#include "sim/gpio_driver.h"
#include "sim/gsm_modem.h"
#include "sim/nor_flash.h"
#include "sim/pmu.h"
#include "sim/pps.h"
#include "sim/pushbuttons.h"
#include "sim/receiver.h"
#include "sim/watchdog.h"

namespace sim {

struct StandardBoard {
    explicit StandardBoard(Receiver &receiver);

    Receiver &receiver;
    // Device models are added here as members, one per driver.
    std::shared_ptr<Pmu> pmu = std::make_shared<Pmu>();                          // "/dev/pmu"
    std::shared_ptr<Extender> extender = std::make_shared<Extender>();           // "/dev/extender"
    std::shared_ptr<GpioDriver> gpio = std::make_shared<GpioDriver>();           // "/dev/gpio"
    std::shared_ptr<NorFlash> nor = std::make_shared<NorFlash>();                // "/dev/mtd3"
    std::shared_ptr<PpsDevice> pps = std::make_shared<PpsDevice>();              // "/dev/pps"
    std::shared_ptr<PushButtons> pushbuttons = std::make_shared<PushButtons>();  // "/dev/pushbuttons"
    std::shared_ptr<Display> display = std::make_shared<Display>();              // "/dev/display"
    // Sandboxed: the host's own watchdog is never opened.
    std::shared_ptr<Watchdog> watchdog = std::make_shared<Watchdog>(receiver.TimeScale());  // "/dev/watchdog"
    // On a pseudo-terminal at "/dev/ttyS1"; powered by the PMU's GSM supply.
    std::shared_ptr<GsmModem> gsm = std::make_shared<GsmModem>(receiver);
    // On a pseudo-terminal at "/dev/ttyS3"; it sees the PMU's reset requests.
    std::shared_ptr<BluetoothModule> bluetooth = std::make_shared<BluetoothModule>(receiver, pmu);
};

}  // namespace sim

#endif
