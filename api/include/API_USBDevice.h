/** @file
 * USB ports: the device port's gadget (serial or mass storage), its
 * connection to a computer, and USB disks on the host port ("/dev/sda1"). */
#ifndef API_USBDEVICE_H
#define API_USBDEVICE_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** @name Personalities of the device port */
/** @{ */
#define USB_Mode_None 0        /**< no gadget loaded */
#define USB_Mode_Serial 1      /**< serial gadget (API_Usbserial.h) */
#define USB_Mode_MassStorage 2 /**< mass-storage gadget */
/** @} */

/** @name What the USB callback is told */
/** @{ */
#define API_USB_EVENT_DISK_ADDED 0      /**< a disk appeared on the host port */
#define API_USB_EVENT_DISK_REMOVED (-1) /**< the disk went away */
#define API_USB_EVENT_DEVICE 1 /**< the device port was connected or disconnected: see API_USB_GetDeviceState */
/** @} */

/** Nothing to prepare; API_Initialize calls it at every start.
 * @return 0. */
int API_USB_Initialize(void);
/** Nothing to release.
 * @return 0. */
int API_USB_Cleanup(void);
/** Registers the callback and looks at the host port once (feature bit
 * ::API_INIT_USB, without callback).  The callback runs in signal context.
 * @param callback receives an `API_USB_EVENT_*`; null keeps the registered
 *   one.  Told ::API_USB_EVENT_DISK_ADDED at once when a disk is there.
 * @return 0. */
int API_USB_Init(void (*callback)(int));
/** Loads the gadget of a personality and stores the mode in the NOR parameter
 * area.  One gadget at a time: go through ::USB_Mode_None to change it.
 * @param mode ::USB_Mode_None, ::USB_Mode_Serial or ::USB_Mode_MassStorage.
 * @return 0; ::API_ERR_INVALID_MODE; ::API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE
 *   while the other gadget is loaded; the codes of API_Flash_WriteData. */
int API_USB_SetDeviceMode(unsigned mode);
/** The device port's personality.
 * @param[out] mode a `USB_Mode_*`.
 * @return 0. */
int API_USB_GetDeviceMode(int *mode);
/** Whether the device port is connected to a computer.
 * @param[out] state 1 connected, 0 not.
 * @return 0. */
int API_USB_GetDeviceState(int *state);
/** Whether a disk is on the host port.
 * @param[out] state 1 present, 0 not.
 * @return 0. */
int API_USB_GetHostState(int *state);
/** Tells the callback of a device-port change; called by the SIGUSR2
 * handler.
 * @return 0. */
int API_USB_DeviceSignalHandler(void);
/** Looks for a disk change on the host port and tells the callback; called by
 * the SIGIO handler.
 * @return 0. */
int API_USB_HostSignalHandler(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
