// State of the start-up unit that other units read.
#ifndef API_INTERNAL_INIT_H
#define API_INTERNAL_INIT_H

#include <stddef.h>
#include <stdint.h>

#define API_DEVNAME_COUNT 18
#define API_DEVNAME_FIELD 64
// The serial interfaces (rows 0 to 10) come first in the table.
#define API_DEVNAME_SERIAL_COUNT 11
// Longest name or path taken from the configuration file.
#define API_CONFIG_TOKEN_MAX 29

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

// Features requested since the last API_Finalize, and whether start-up ran to
// its end.
extern uint32_t i_API_Initialized;
extern int b_IsInitialized;

// create_config_file and make_device_descriptors: the public API_Init.h.
// Applies the configuration file's text to the table's paths.
void s_ParseConfig(const char *data, size_t size);

#endif
