/** @file
 * Push buttons on "/dev/pushbuttons": the present state of the record and
 * scroll buttons, and whether either was held while the receiver started. */
#ifndef API_MMI_H
#define API_MMI_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** @name Requests of "/dev/pushbuttons"; each fills a 4-byte int */
/** @{ */
#define API_MMI_IOCTL_RECORD 0x8004FF01u /**< state of the record button */
#define API_MMI_IOCTL_SCROLL 0x8004FF02u /**< state of the scroll button */
/** @} */
/** Two bytes left by the boot sequence in the NOR parameter area: record
 * held, scroll held. */
#define API_MMI_NOR_BOOT_BUTTONS 0x3919E

/** Opens "/dev/pushbuttons" (feature bit ::API_INIT_MMI).
 * @return 0, or ::API_ERR_PUSHBUTTON_INITIALIZAION. */
int API_MMI_Init(void);
/** Closes "/dev/pushbuttons".
 * @return 0, or ::API_ERR_PUSHBUTTON_CLEANUP when the close fails. */
int API_MMI_Cleanup(void);
/** The record button's present state.
 * @param[out] pressed the driver's value for the button.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_OPEN_DEV_PUSHBUTTON
 *   when the device is not open; ::API_ERR_IOCTL_DEV_PUSHBUTTON. */
int API_MMI_IsRecordPressed(int *pressed);
/** The scroll button's present state.
 * @param[out] pressed the driver's value for the button.
 * @return as API_MMI_IsRecordPressed. */
int API_MMI_IsScrollPressed(int *pressed);
/** Whether the record button was held at start.  The boot record is read and
 * cleared in the NOR parameter area by the first of these calls in a run.
 * @param[out] pressed 1 held, 0 not.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_READING_NOR_FLASH;
 *   ::API_ERR_NOR_FLASH_WRITE (the next call tries again). */
int API_MMI_WasRecordPressedOnBoot(int *pressed);
/** Whether the scroll button was held at start, as
 * API_MMI_WasRecordPressedOnBoot.
 * @param[out] pressed 1 held, 0 not.
 * @return as API_MMI_WasRecordPressedOnBoot. */
int API_MMI_WasScrollPressedOnBoot(int *pressed);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
