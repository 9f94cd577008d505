/* Tasks, sleep and the auto-start flag. */
#ifndef API_SYS_H
#define API_SYS_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Task identifiers of API_SYS_CreateTask. */
#define API_TASK_GSM 1

/* Address of the auto-start flag in the NOR parameter area. */
#define API_SYS_AUTOSTART_ADDRESS 0x3927E

/* Sleeps `ms` milliseconds, the whole time even when signals arrive. */
int API_Sleep(int ms);
int API_SYS_CreateTask(int task, int priority);
int API_SYS_AutoStart(int on);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
