/* Push buttons: the present state of the record and scroll buttons, and
 * whether either was held while the receiver started (answered once per boot). */
#ifndef API_MMI_H
#define API_MMI_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Requests of "/dev/pushbuttons"; each fills a 4-byte int. */
#define API_MMI_IOCTL_RECORD 0x8004FF01u
#define API_MMI_IOCTL_SCROLL 0x8004FF02u
/* Two bytes left by the boot sequence: record held, scroll held. */
#define API_MMI_NOR_BOOT_BUTTONS 0x3919E

int API_MMI_Init(void);
int API_MMI_Cleanup(void);
/* `pressed` receives the driver's value for the button; written only on success. */
int API_MMI_IsRecordPressed(int *pressed);
int API_MMI_IsScrollPressed(int *pressed);
/* `pressed` receives 1 when the button was held at start, else 0. */
int API_MMI_WasRecordPressedOnBoot(int *pressed);
int API_MMI_WasScrollPressedOnBoot(int *pressed);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
