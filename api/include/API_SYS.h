/** @file
 * Tasks, sleep and the auto-start flag. */
#ifndef API_SYS_H
#define API_SYS_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Task identifier of API_SYS_CreateTask: the GSM receive task. */
#define API_TASK_GSM 1

/** Address of the auto-start flag in the NOR parameter area. */
#define API_SYS_AUTOSTART_ADDRESS 0x3927E

/** Sleeps the whole time even when signals arrive.
 * @param ms milliseconds.
 * @return 0, or ::API_ERR_INVALID_PARAMETERS when the sleep fails for a
 *   reason other than a signal (a negative duration). */
int API_Sleep(int ms);
/** Creates a task at a first-in-first-out real-time priority, with a stack of
 * 50000 bytes.  When the priority cannot be set the task still runs, at the
 * policy it inherited.
 * @param task ::API_TASK_GSM, the only task there is.
 * @param priority real-time priority.
 * @return 0; ::API_ERR_INVALID_TASK_IDENTIFIER for another task;
 *   ::API_ERR_TASK_INIT_ATTRIBUTES to ::API_ERR_TASK_SET_SCHEDULER when the
 *   thread's attributes cannot be prepared; ::API_ERR_TASK_CREATION. */
int API_SYS_CreateTask(int task, int priority);
/** Stores the auto-start flag (API_Initialize sets it at every start, unless
 * given ::API_INIT_NO_AUTOSTART).
 * @param on 1 or 0; its low 8 bits are stored.
 * @return as API_Flash_WriteData. */
int API_SYS_AutoStart(int on);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
