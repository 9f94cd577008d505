/* The data partition: a background task mounts the user data image and
 * exports it through the mass-storage gadget. */
#ifndef API_PART_H
#define API_PART_H

#ifdef __cplusplus
extern "C" {
#endif

/* 0 (low 8 bits): the internal data partition; anything else: the USB one. */
int API_PART_Data_Mount(int selection);
/* Waits until the mount task has signalled, then 0; 182 at once when no
 * mount is under way or the shut-down stopped it. */
int API_PART_Data_IsReady(void);

#ifdef __cplusplus
}
#endif

#endif
