// One reset per unit: puts the unit's process-wide state back to how the
// process starts, for tests and fuzz targets alike.  A reset never touches
// the board; end a unit's tasks and close its devices with its own clean-up
// first.
#ifndef ORVA_TESTS_UNIT_RESET_H
#define ORVA_TESTS_UNIT_RESET_H

namespace unitreset {

// "/dev/pmu" opened into the power-management unit's descriptor, as its
// start-up leaves it, and closed again.
bool OpenPmu();
void ClosePmu();

void Bluetooth();

// The frame units.  Init: the interface table's paths back to their defaults
// and the start-up's record cleared.  Uart: every dump and log switch off and
// nothing recorded as open (close the interfaces first).  Watchdog: unarmed,
// closed, the 60-second default.  Usb: no gadget, nothing connected, no
// callbacks, the USB serial link up as at power-on.
void Init();
void Uart();
void Watchdog();
void Usb();

// The GSM unit's flags as the process starts them; end its task and close
// its line with API_GSM_Cleanup first.
void Gsm();

// Board peripherals and display.  PowerManagement expects API_PM_StopTask
// and leaves the device to ClosePmu; Display frees the mirror and the user
// characters and forgets the device (closed by API_Display_Close first).
void PowerManagement();
void Extender();
void PushButtons();
void Gnss();
void Ethernet();
void Display();

}  // namespace unitreset

#endif
