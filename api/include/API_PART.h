/* The data partition: a background task mounts the user data image and
 * exports it through the mass-storage gadget. */
#ifndef API_PART_H
#define API_PART_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* 0 (low 8 bits): the internal data partition; anything else: the USB one. */
int API_PART_Data_Mount(int selection);
/* Waits until the mount task has finished. */
int API_PART_Data_IsReady(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
