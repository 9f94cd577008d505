// Handles of the tasks created by API_SYS_CreateTask.
#ifndef API_INTERNAL_SYS_H
#define API_INTERNAL_SYS_H

#include <pthread.h>
#include <semaphore.h>

extern pthread_t gsm_thread_id;

// The semaphore a newly started task waits on, unsignalled: created on first
// use, afterwards drained of the posts its previous task never took.
bool s_SemaphoreFreshForTask(sem_t *semaphore, bool *created);

#endif
