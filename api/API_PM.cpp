// Power management: the PMU device, its event task and its queries.
#include "API_PM.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>
#include <atomic>

#include "API_Errors.h"
#include "API_SPI.h"
#include "board.h"
#include "internal/API_Lock.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"
#include "internal/API_SYS.h"

std::atomic<int> ifd_pmu{0};

static sem_t sem_pm_id;
static pthread_t pm_thread_id;
// The task runs from the start-up to the shut-down; a restart starts a new one.
static std::atomic<bool> b_pm_task_started{false};
// The semaphore is made once and never destroyed: a power event may still
// post it from a signal handler while the shut-down ends the task.
static bool b_pm_sem_created = false;
// A task serves while its own generation is the current one; the shut-down
// moves the generation on, so a task it cannot wait for (the shut-down ran
// from the task's own callback) still ends and a later one is not disturbed.
static std::atomic<unsigned> s_pm_generation{0};
// One more than the last generation whose task has ended, for the shut-down
// to wait on.
static unsigned s_pm_ended = 0;
static pthread_mutex_t pm_end_mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t pm_task_ended = PTHREAD_COND_INITIALIZER;
std::atomic<void (*)(int)> p_FuncPtr_status{nullptr};

namespace {

constexpr int kPmTaskPriority = 65;
// How long the shut-down waits for the task.  The application's callback runs
// on it and may take its time, or wait for the very thread that shuts down:
// such a task is left behind, and ends without another step once its
// callback returns.
constexpr int kStopWaitS = 1;
constexpr unsigned kPausePmuUs = 1;

enum class Pause { None, BeforeReply };

// One exchange under the caller's hold of s_spi_mutex; `data` gets the reply's
// data byte on success.
int s_PmQuery(unsigned char command, Pause pause, unsigned char *data)
{
    int result = API_SPI_Sendmsg(ifd_pmu, command, 0);
    if (result != API_ERR_NONE)
        return result;
    if (pause == Pause::BeforeReply)
        API_SPI_PauseMicroseconds(kPausePmuUs);
    unsigned char reply[PMU_MSG_SIZE];
    result = API_SPI_Receivemsg(ifd_pmu, reply, command);
    if (result == API_ERR_NONE)
        *data = reply[2];
    return result;
}

// One exchange holding the lock for it alone.
int s_PmLockedQuery(unsigned char command, unsigned char *data)
{
    pthread_mutex_lock(&s_spi_mutex);
    int result = s_PmQuery(command, Pause::None, data);
    pthread_mutex_unlock(&s_spi_mutex);
    return result;
}

void *pm_task(void *argument)
{
    const unsigned generation = static_cast<unsigned>(reinterpret_cast<uintptr_t>(argument));
    while (s_pm_generation.load() == generation) {
        if (sem_wait(&sem_pm_id) != 0 && errno == EINTR)
            continue;
        // Woken to end: an event still pending is not served.
        if (s_pm_generation.load() != generation)
            break;
        API_PM_SignalHandler();
    }
    ScopedLock lock(pm_end_mutex);
    s_pm_ended = std::max(s_pm_ended, generation + 1);
    pthread_cond_broadcast(&pm_task_ended);
    return nullptr;
}

// Whether the task of `generation` ended within the bound.
bool s_PmTaskEnded(unsigned generation)
{
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += kStopWaitS;
    ScopedLock lock(pm_end_mutex);
    while (s_pm_ended <= generation && pthread_cond_timedwait(&pm_task_ended, &pm_end_mutex, &until) != ETIMEDOUT) {
    }
    return s_pm_ended > generation;
}

// A fresh semaphore for a new task: posts left over from the last run are
// events its task never saw, which the new one must not serve.
bool s_PmSemaphoreReady() { return s_SemaphoreFreshForTask(&sem_pm_id, &b_pm_sem_created); }

int s_PowerLevelSource0(float *level, float *voltage)
{
    unsigned char data;
    int result = s_PmQuery(PMU_CMD_SOURCE0_VOLTAGE, Pause::BeforeReply, &data);
    if (result != API_ERR_NONE)
        return result;
    if (data == PMU_DATA_ABSENT)
        return API_ERR_NO_BATTERY;
    if (data == PMU_DATA_INVALID)
        return API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY;
    *voltage = data;

    result = s_PmQuery(PMU_CMD_SOURCE0_VOLTAGE_FRACTION, Pause::None, &data);
    if (result != API_ERR_NONE)
        return result;
    *voltage += data / 100.0f;

    result = s_PmQuery(PMU_CMD_SOURCE0_LEVEL, Pause::BeforeReply, &data);
    if (result != API_ERR_NONE)
        return result;
    if (data == PMU_DATA_ABSENT)
        return API_ERR_NO_BATTERY;
    if (data == PMU_DATA_INVALID)
        return API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY;
    *level = data;
    return API_ERR_NONE;
}

int s_PowerLevelSource1(float *level, float *voltage)
{
    unsigned char data;
    int result = s_PmQuery(PMU_CMD_SOURCE1_VOLTAGE, Pause::BeforeReply, &data);
    if (result != API_ERR_NONE)
        return result;
    if (data == PMU_DATA_ABSENT) {
        *level = 0.0f;
        *voltage = 0.0f;
        return API_ERR_NO_BATTERY;
    }
    *voltage = data;

    result = s_PmQuery(PMU_CMD_SOURCE1_VOLTAGE_FRACTION, Pause::None, &data);
    if (result != API_ERR_NONE)
        return result;
    *voltage += data / 100.0f;

    result = s_PmQuery(PMU_CMD_SOURCE1_LEVEL, Pause::BeforeReply, &data);
    if (result != API_ERR_NONE)
        return result;
    *level = data;
    return API_ERR_NONE;
}

// The external supply: tenths of a volt above 3.0 V, always a full level.
int s_PowerLevelSource2(float *level, float *voltage)
{
    unsigned char data;
    int result = s_PmQuery(PMU_CMD_SOURCE2_VOLTAGE, Pause::BeforeReply, &data);
    if (result != API_ERR_NONE)
        return result;
    *level = 100.0f;
    if (data == 0) {
        *voltage = 0.0f;
        return API_ERR_NO_BATTERY;
    }
    *voltage = static_cast<float>(data / 10.0 + 3.0);
    return API_ERR_NONE;
}

}  // namespace

extern "C" int API_PM_Initialize(void)
{
    // A second start-up replaces the device it opened before; the old one is
    // taken away under the bus lock of the exchanges that may still use it.
    int fd = Board_Open("/dev/pmu", O_RDWR, 0);
    pthread_mutex_lock(&s_spi_mutex);
    int previous = ifd_pmu.exchange(fd);
    pthread_mutex_unlock(&s_spi_mutex);
    if (previous > 0)
        Board_Close(previous);
    if (fd < 0)
        return API_ERR_OPENING_PMU;
    // Started twice: the running task serves the reopened device too.
    if (b_pm_task_started.load())
        return API_ERR_NONE;
    if (!s_PmSemaphoreReady())
        return API_ERR_PMU_SEMAPHORE_CREATION;
    void *generation = reinterpret_cast<void *>(static_cast<uintptr_t>(s_pm_generation.load()));
    if (pthread_create(&pm_thread_id, nullptr, pm_task, generation) != 0)
        return API_ERR_PMU_THREAD_CREATION;
    b_pm_task_started.store(true);

    sched_param parameter{};
    parameter.sched_priority = kPmTaskPriority;
    if (pthread_setschedparam(pm_thread_id, SCHED_FIFO, &parameter) == 0)
        printf("Priority of PM task set to %d and policy FIFO\n", kPmTaskPriority);
    return API_ERR_NONE;
}

void API_PM_StopTask(void)
{
    if (!b_pm_task_started.exchange(false))
        return;
    const unsigned generation = s_pm_generation.fetch_add(1);
    sem_post(&sem_pm_id);
    if (pthread_equal(pthread_self(), pm_thread_id) || !s_PmTaskEnded(generation))
        pthread_detach(pm_thread_id);
    else
        pthread_join(pm_thread_id, nullptr);
}

extern "C" int API_PM_StatusCallback(void (*callback)(int status))
{
    if (!callback)
        return API_ERR_PMU_CALL_BACK_SET_NULL;
    p_FuncPtr_status.store(callback);
    return API_ERR_NONE;
}

extern "C" int API_PM_EnablePowerEvents(void) { return API_SPI_PmuSendRecv(PMU_CMD_ENABLE_POWER_EVENTS, 0); }

extern "C" int API_PM_RemoteShutdown(void) { return API_SPI_PmuSendRecv(PMU_CMD_REMOTE_SHUTDOWN, 0); }

extern "C" int API_PM_NotifyUser(void)
{
    // Runs in the SIGUSR2 handler; without a task there is no one to wake.
    if (b_pm_task_started.load())
        sem_post(&sem_pm_id);
    return API_ERR_NONE;
}

extern "C" void API_PM_SignalHandler(void)
{
    // The lock is let go between the two bytes so other PMU users can come in.
    unsigned char low;
    if (s_PmLockedQuery(PMU_CMD_EVENT_STATUS_LOW, &low) != API_ERR_NONE)
        return;
    unsigned char high;
    if (s_PmLockedQuery(PMU_CMD_EVENT_STATUS_HIGH, &high) != API_ERR_NONE)
        return;
    if (void (*callback)(int) = p_FuncPtr_status.load())
        callback(high * 256 + low);
}

extern "C" int API_PM_GetTemperature(float *temperature)
{
    if (!temperature)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_spi_mutex);
    unsigned char data;
    int result = s_PmQuery(PMU_CMD_TEMPERATURE_INTEGER, Pause::BeforeReply, &data);
    if (result == API_ERR_NONE) {
        *temperature = static_cast<float>(static_cast<int>(data) - 30);
        API_SPI_PauseMicroseconds(kPausePmuUs);
        result = s_PmQuery(PMU_CMD_TEMPERATURE_FRACTION, Pause::BeforeReply, &data);
        if (result == API_ERR_NONE)
            *temperature += data / 100.0f;
    }
    pthread_mutex_unlock(&s_spi_mutex);
    return result;
}

extern "C" int API_PM_GetChargeStatus(int type, int *status)
{
    if (!status)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_spi_mutex);
    unsigned char first = 0;
    unsigned char second = 0;
    int result = s_PmQuery(PMU_CMD_CHARGE_INDICATOR_1, Pause::BeforeReply, &first);
    if (result == API_ERR_NONE)
        result = s_PmQuery(PMU_CMD_CHARGE_INDICATOR_2, Pause::BeforeReply, &second);
    pthread_mutex_unlock(&s_spi_mutex);
    if (result != API_ERR_NONE)
        return result;

    bool firstSet = first == 1;
    bool secondSet = second == 1;
    switch (static_cast<unsigned>(type)) {
    case 0:
        if (!firstSet)
            return API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY;
        *status = 1;
        return API_ERR_NONE;
    case 1:
        if (!secondSet)
            return API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY;
        *status = 1;
        return API_ERR_NONE;
    case 2: *status = firstSet ? 0 : secondSet ? 2 : 3; return API_ERR_NONE;
    default: *status = 4; return API_ERR_NONE;
    }
}

extern "C" int API_PM_GetPowerLevel(int source, float *level, float *voltage)
{
    if (!level || !voltage)
        return API_ERR_INVALID_PARAMETERS;
    if (source < 0 || source > 2)
        return API_ERR_NONE;
    pthread_mutex_lock(&s_spi_mutex);
    int result = source == 0   ? s_PowerLevelSource0(level, voltage)
                 : source == 1 ? s_PowerLevelSource1(level, voltage)
                               : s_PowerLevelSource2(level, voltage);
    pthread_mutex_unlock(&s_spi_mutex);
    return result;
}

extern "C" int API_PM_GetPowerSource(int *source)
{
    if (!source)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_spi_mutex);
    unsigned char data;
    int result = s_PmQuery(PMU_CMD_POWER_SOURCE, Pause::BeforeReply, &data);
    pthread_mutex_unlock(&s_spi_mutex);
    if (result == API_ERR_NONE)
        *source = data <= 2 ? data : 9;
    return result;
}
