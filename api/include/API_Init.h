/** @file
 * Start-up and shut-down of the device API, and the interface table's
 * configuration file "/etc/ts9_api.cfg". */
#ifndef API_INIT_H
#define API_INIT_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** @name Feature bits of API_Initialize
 * One per unit to start; API_Initialize starts them in a fixed order of its
 * own, whatever the order of the bits.  0x8 is not assigned; bits above
 * 0x80000 have no meaning but are recorded. */
/** @{ */
#define API_INIT_BLUETOOTH 0x1          /**< Bluetooth module and its task */
#define API_INIT_BUZZER 0x2             /**< buzzer */
#define API_INIT_DISPLAY 0x4            /**< display reset, then its start when the reset succeeded */
#define API_INIT_GSM 0x10               /**< GSM modem start-up (about 10 s) */
#define API_INIT_MMI 0x20               /**< push buttons */
#define API_INIT_NOR 0x40               /**< NOR parameter store */
#define API_INIT_PM 0x80                /**< power management and its task */
#define API_INIT_SIGNALS 0x100          /**< the drivers' SIGUSR2 and SIGIO handlers */
#define API_INIT_SPI 0x200              /**< PMU link */
#define API_INIT_USB 0x400              /**< USB disk detection, without callback */
#define API_INIT_WATCHDOG 0x800         /**< watchdog armed with a 20-second time-out */
#define API_INIT_CONFIG 0x1000          /**< read or create "/etc/ts9_api.cfg", create the device nodes */
#define API_INIT_NOR_DEFAULTS 0x2000    /**< write the default parameter records */
#define API_INIT_POWER_EVENTS 0x4000    /**< power events enabled at the PMU */
#define API_INIT_NO_AUTOSTART 0x8000    /**< auto-start flag cleared instead of set */
#define API_INIT_DATA_PARTITION 0x10000 /**< mount task for the internal data partition */
#define API_INIT_EXTENDER 0x20000       /**< GPIO extender */
#define API_INIT_USB_SERIAL 0x40000     /**< USB serial ports, without callback */
#define API_INIT_ETHERNET 0x80000       /**< Ethernet link state, without callback */
/** @} */

/** Version of the device API, printed in the start-up banner. */
#define API_VERSION "1.0.0"

/** Starts the API: prints the banner, applies the configuration file and
 * creates the device nodes, starts every unit whose bit is set, opens
 * "/dev/pps" and writes the lock file "/var/ts9.pid".  A failed unit is
 * reported on standard output and start-up goes on with the next.  Call it
 * once, from one thread, before other threads use the API.
 * @param flags feature bits (`API_INIT_*`), OR-ed into those already recorded.
 * @return 0; the code of the last step that failed, for example
 *   ::API_ERR_OPEN_PPS without "/dev/pps" or ::API_ERR_CREATE_FILE without the
 *   lock file; ::API_ERR_CREATE_FILE without starting anything when
 *   "/etc/ts9_api.cfg" is missing and cannot be created, ::API_ERR_OPEN_FILE
 *   when it is there but cannot be read. */
int API_Initialize(int flags);
/** Stops the units that were requested, closes the shared descriptors,
 * switches the serial logs off and removes the lock file.  The power and
 * mount tasks are waited for a second at most (a power callback that runs
 * longer finishes on its own, and nothing follows it); an armed watchdog
 * stays armed. */
void API_Finalize(void);
/** Whether features were requested, not whether they started.
 * @param mask feature bits.
 * @return 1 when every bit of `mask` was given to API_Initialize since the last
 *   API_Finalize (so 1 for 0), else 0. */
int API_IsInitialized(int mask);

/** Sets every interface path back to its compiled-in default, rewrites
 * "/etc/ts9_api.cfg" and creates the missing device nodes.
 * @return 0, or ::API_ERR_CREATE_FILE when the file cannot be written (the
 *   table and the nodes are the defaults all the same). */
int API_RevertAPIConfigToDefault(void);

/** Writes "/etc/ts9_api.cfg" from the interface table: one line
 * name = "path" per row.  The file is written aside and renamed over the old
 * one, which a failed write leaves as it was.
 * @return 1, or 0 when the file cannot be created or written whole. */
int create_config_file(void);
/** Creates every device node of the interface table that is missing, and
 * prints a line for each one that cannot be created.
 * @return 1. */
int make_device_descriptors(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
