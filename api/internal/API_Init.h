// State of the start-up unit that other units read.
#ifndef API_INTERNAL_INIT_H
#define API_INTERNAL_INIT_H

#define API_DEVNAME_COUNT 18
#define API_DEVNAME_FIELD 64

// One row of the interface table; the row index is the interface's identity.
struct API_DevName {
    int number;  // interface number for rows 0 to 10, -1 for the driver rows
    char name[API_DEVNAME_FIELD];
    char path[API_DEVNAME_FIELD];
    int major;
    int minor;
};

extern API_DevName a_devnames[API_DEVNAME_COUNT];
// Set once "/sys/class/tty/ttyUSB4" was seen at start-up: five USB serial ports.
extern int FullttyUSB;
extern int ifd_pps;

#endif
