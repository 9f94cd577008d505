/** @file
 * The data partition: a background task waits until the partition that
 * holds the user data image is mounted, exports the image through the
 * mass-storage gadget, mounts it on "/mnt/flashfs" and then signals. */
#ifndef API_PART_H
#define API_PART_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Starts the mount task (first-in-first-out priority 4; feature bit
 * ::API_INIT_DATA_PARTITION starts it with 0).  It may wait for ever if the
 * partition never shows as mounted.
 * @param selection low 8 bits: 0 the internal data partition, any other value
 *   the USB one.
 * @return 0; ::API_ERR_CREATING_MOUNT_SEMAPHORE;
 *   ::API_ERR_CREATING_MOUNT_TASK. */
int API_PART_Data_Mount(int selection);
/** Waits until the mount task has signalled; it signals once, so only one
 * caller gets through.
 * @return 0. */
int API_PART_Data_IsReady(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
