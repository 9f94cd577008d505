/* USB ports: the device port's gadget (serial or mass storage), its connection
 * to a computer, and USB disks on the host port. */
#ifndef API_USBDEVICE_H
#define API_USBDEVICE_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Personalities of the device port. */
#define USB_Mode_None 0
#define USB_Mode_Serial 1
#define USB_Mode_MassStorage 2

/* What the callback is told: a disk appeared or went away on the host port,
 * or the device port was connected or disconnected (read the new state with
 * API_USB_GetDeviceState). */
#define API_USB_EVENT_DISK_ADDED 0
#define API_USB_EVENT_DISK_REMOVED (-1)
#define API_USB_EVENT_DEVICE 1

int API_USB_Initialize(void);
int API_USB_Cleanup(void);
/* A null callback keeps the one registered before.  The callback may run in
 * signal context. */
int API_USB_Init(void (*callback)(int));
/* A gadget must be unloaded (USB_Mode_None) before the other one is loaded. */
int API_USB_SetDeviceMode(unsigned mode);
int API_USB_GetDeviceMode(int *mode);
int API_USB_GetDeviceState(int *state);
int API_USB_GetHostState(int *state);

/* Called by the signal handlers. */
int API_USB_DeviceSignalHandler(void);
int API_USB_HostSignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
