// The PMU device descriptor, opened by power management and used by every
// unit that sends PMU commands.
#ifndef API_INTERNAL_PM_H
#define API_INTERNAL_PM_H

#include <atomic>

// Atomic: the power-management task reads it (under s_spi_mutex) while the
// start-up and shut-down set it.
extern std::atomic<int> ifd_pmu;
// The application's power-event callback; null until one is registered.
extern std::atomic<void (*)(int)> p_FuncPtr_status;

// Ends the power-management task and waits a second at most for it (an event
// it is serving is finished first); nothing when none runs.  A task still in
// the application's callback then, or the caller itself, ends once the
// callback returns.  The device stays open.
void API_PM_StopTask(void);

#endif
