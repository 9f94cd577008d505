// Handles of the tasks created by API_SYS_CreateTask.
#ifndef API_INTERNAL_SYS_H
#define API_INTERNAL_SYS_H

#include <pthread.h>

extern pthread_t gsm_thread_id;

#endif
