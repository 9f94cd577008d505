// The PMU device descriptor, opened by power management and used by every
// unit that sends PMU commands.
#ifndef API_INTERNAL_PM_H
#define API_INTERNAL_PM_H

extern int ifd_pmu;

#endif
