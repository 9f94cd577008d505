// The data partition's mount task, as the shut-down sees it.
#ifndef API_INTERNAL_PART_H
#define API_INTERNAL_PART_H

// Stops a mount task that is still checking (it ends at its next step,
// without signalling) and waits for it; also reaps one that has ended.
// Nothing when no task was started.
void API_PART_StopTask(void);

#endif
