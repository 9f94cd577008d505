/* Start-up and shut-down of the device API. */
#ifndef API_INIT_H
#define API_INIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Feature bits of API_Initialize: one per unit to start. */
#define API_INIT_BLUETOOTH 0x1
#define API_INIT_BUZZER 0x2
#define API_INIT_DISPLAY 0x4
#define API_INIT_GSM 0x10
#define API_INIT_MMI 0x20
#define API_INIT_NOR 0x40
#define API_INIT_PM 0x80
#define API_INIT_SIGNALS 0x100
#define API_INIT_SPI 0x200
#define API_INIT_USB 0x400
#define API_INIT_WATCHDOG 0x800
#define API_INIT_CONFIG 0x1000
#define API_INIT_NOR_DEFAULTS 0x2000
#define API_INIT_POWER_EVENTS 0x4000
#define API_INIT_NO_AUTOSTART 0x8000
#define API_INIT_DATA_PARTITION 0x10000
#define API_INIT_EXTENDER 0x20000
#define API_INIT_USB_SERIAL 0x40000
#define API_INIT_ETHERNET 0x80000

/* Version of the device API, printed in the start-up banner. */
#define API_VERSION "1.0.0"

int API_Initialize(int flags);
void API_Finalize(void);
int API_IsInitialized(int mask);

/* Sets every interface path back to its compiled-in default, rewrites
 * "/etc/ts9_api.cfg" and creates missing device nodes.  0, or 5 when the
 * file cannot be written. */
int API_RevertAPIConfigToDefault(void);

#ifdef __cplusplus
}
#endif

#endif
