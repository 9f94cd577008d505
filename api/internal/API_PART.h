// The data partition's mount task, as the shut-down sees it.
#ifndef API_INTERNAL_PART_H
#define API_INTERNAL_PART_H

// Stops a mount task that is still checking (it ends at its next step,
// without signalling) and waits for it, a second at most: one stuck in a
// command is left behind.  Also reaps one that has ended.  Nothing when no
// task was started.
void API_PART_StopTask(void);

#endif
