// Tasks, the signal-proof sleep and the auto-start flag.
#include "API_SYS.h"

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <time.h>

#include "API_Errors.h"
#include "API_NOR.h"
#include "board.h"
#include "internal/API_GSM.h"
#include "internal/API_SYS.h"

pthread_t gsm_thread_id;

namespace {

constexpr size_t kGsmTaskStack = 50000;

// The GSM unit defines gsm_task.
#define API_SYS_GSM_TASK_BUILT 1

int s_StartGsmTask(pthread_attr_t *attributes, int priority)
{
#if API_SYS_GSM_TASK_BUILT
    if (s_GsmCreateTask(attributes) != 0)
        return API_ERR_TASK_CREATION;
    // The attributes inherit the creator's policy; the task is raised here.
    // Without the privilege it runs at the inherited policy, which is fine.
    struct sched_param parameters = {};
    parameters.sched_priority = priority;
    if (pthread_setschedparam(gsm_thread_id, SCHED_FIFO, &parameters) == 0)
        printf("Priority of GSM task set to %d and policy FIFO\n", priority);
    return API_ERR_NONE;
#else
    (void)attributes;
    (void)priority;
    return API_ERR_TASK_CREATION;
#endif
}

int s_CreateTask(pthread_attr_t *attributes, int task, int priority)
{
    if (pthread_attr_setstacksize(attributes, kGsmTaskStack) != 0)
        return API_ERR_TASK_SET_STACK;
    if (pthread_attr_setschedpolicy(attributes, SCHED_FIFO) != 0)
        return API_ERR_TASK_SET_SCHEDULING;
    struct sched_param parameters;
    if (pthread_attr_getschedparam(attributes, &parameters) != 0)
        return API_ERR_TASK_GET_SCHEDULING;
    parameters.sched_priority = priority;
    if (pthread_attr_setschedparam(attributes, &parameters) != 0)
        return API_ERR_TASK_SET_SCHEDULER;
    if (task != API_TASK_GSM)
        return API_ERR_INVALID_TASK_IDENTIFIER;
    return s_StartGsmTask(attributes, priority);
}

}  // namespace

extern "C" int API_Sleep(int ms)
{
    struct timespec request;
    request.tv_sec = ms / 1000;
    request.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    struct timespec remaining;
    while (Board_Nanosleep(&request, &remaining) != 0) {
        if (errno != EINTR)
            return API_ERR_INVALID_PARAMETERS;
        request = remaining;
    }
    return API_ERR_NONE;
}

extern "C" int API_SYS_CreateTask(int task, int priority)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return API_ERR_TASK_INIT_ATTRIBUTES;
    int result = s_CreateTask(&attributes, task, priority);
    pthread_attr_destroy(&attributes);
    return result;
}

extern "C" int API_SYS_AutoStart(int on)
{
    char flag = static_cast<char>(on & 0xFF);
    int written = 0;
    return API_Flash_WriteData(API_SYS_AUTOSTART_ADDRESS, &flag, 1, &written);
}

bool s_SemaphoreFreshForTask(sem_t *semaphore, bool *created)
{
    if (!*created) {
        if (sem_init(semaphore, 0, 0) != 0)
            return false;
        *created = true;
        return true;
    }
    while (sem_trywait(semaphore) == 0) {
    }
    return true;
}
