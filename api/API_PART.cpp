#include "API_PART.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include <atomic>

#include "API_Errors.h"
#include "API_SYS.h"
#include "board.h"
#include "internal/API_Lock.h"
#include "internal/API_PART.h"
#include "internal/API_SYS.h"

unsigned char selection = 0;
sem_t sem_mountpart_id;
pthread_t mountpart_thread_id;

namespace {

// One check: a script that writes "1" to its result file once its mount is in place.
struct MountCheck {
    const char *script;
    const char *command;
    const char *result_file;
    const char *waiting_result_message;
    const char *waiting_message;
};

// Every text that reaches the shell is one of these fixed ones.
struct MountPlan {
    const char *check_message;
    MountCheck first_check;
    const char *gadget_command;
    const char *loop_command;
    const char *mount_command;
};

const MountPlan s_INTERNAL_PLAN = {
    "\r\nCheck if /mnt/datas is mount",
    {"/usr/local/bin/data_mounted_script1.sh",
     "/usr/local/bin/data_mounted_script1.sh > /usr/local/bin/mountDataResult1.txt",
     "/usr/local/bin/mountDataResult1.txt", "Waiting /mnt/datas Partition Mounted result",
     "Waiting /mnt/datas Partition Mounted"},
    "modprobe g_file_storage file=/root/datas/backing_file stall=0 removable=y",
    "losetup -o 4096 /dev/loop0 /root/datas/backing_file",
    "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop0 /mnt/flashfs",
};

const MountPlan s_USB_PLAN = {
    "\r\nCheck if /mnt/usbdatas is mount",
    {"/usr/local/bin/usb_data_mounted_script1.sh",
     "/usr/local/bin/usb_data_mounted_script1.sh > /usr/local/bin/mountDataResult1.txt",
     "/usr/local/bin/mountDataResult1.txt", "Waiting /mnt/usbdatas Partition Mounted result",
     "Waiting /mnt/usbdatas Partition Mounted"},
    "modprobe g_file_storage file=/mnt/usbdatas/backing_file stall=0 removable=y",
    "losetup -o 4096 /dev/loop1 /mnt/usbdatas/backing_file",
    "mount -t vfat -o shortname=winnt,noatime,nodiratime, /dev/loop1 /mnt/flashfs",
};

const MountCheck s_FLASHFS_CHECK = {
    "/usr/local/bin/data_mounted_script.sh",
    "/usr/local/bin/data_mounted_script.sh > /usr/local/bin/mountDataResult.txt",
    "/usr/local/bin/mountDataResult.txt",
    "Waiting Data Partition Mounted result",
    "Waiting Data Partition Mounted",
};

const int s_MOUNT_TASK_PRIORITY = 4;
const int s_RESULT_POLL_MS = 1000;
const int s_RETRY_MS = 2000;
// How long the shut-down waits for a task to end.  A check script or mount
// that never returns must not hold the shut-down for ever: such a task is left
// behind, and when its command does return it ends without another step.
const int s_STOP_WAIT_S = 1;

// Guards the start of a task against one still running: two tasks would run
// the mount commands twice and share one semaphore.
pthread_mutex_t mount_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t s_mount_ended = PTHREAD_COND_INITIALIZER;

bool s_mount_running = false;
bool s_semaphore_created = false;
// A task that has not been joined yet, running or ended.
bool s_mount_joinable = false;
// Each task has a serial number; it goes on only while it is the live one.
// The shut-down makes none live.
unsigned s_task_serial = 0;
std::atomic<unsigned> s_live_serial{0};
thread_local unsigned t_serial = 0;
// Set once the last task started has signalled.
std::atomic<bool> s_mounted{false};

bool s_CanBeRead(const char *path)
{
    int fd = Board_Open(path, O_RDONLY, 0);
    if (fd < 0)
        return false;
    Board_Close(fd);
    return true;
}

bool s_Stopped() { return s_live_serial.load() != t_serial; }

// Runs the check until its result file starts with "1" (true); for ever if it
// never does, unless the shut-down stops the task (false).
bool s_WaitForCheck(const MountCheck &check)
{
    while (!s_Stopped()) {
        Board_System(check.command);
        int fd = -1;
        while (!s_Stopped() && (fd = Board_Open(check.result_file, O_RDONLY, 0)) < 0) {
            puts(check.waiting_result_message);
            API_Sleep(s_RESULT_POLL_MS);
        }
        if (s_Stopped())
            return false;
        unsigned char answer = 0;
        ssize_t count = Board_Read(fd, &answer, 1);
        Board_Close(fd);
        if (count == 1 && answer == '1')
            return true;
        puts(check.waiting_message);
        API_Sleep(s_RETRY_MS);
    }
    return false;
}

// The task's steps up to its signal; false when it was stopped on the way.
bool s_Mount(const MountPlan &plan)
{
    if (s_CanBeRead(plan.first_check.script) && !s_WaitForCheck(plan.first_check))
        return false;
    const char *const commands[] = {plan.gadget_command, plan.loop_command, plan.mount_command};
    for (const char *command : commands) {
        if (s_Stopped())
            return false;
        Board_System(command);
    }
    if (s_Stopped())
        return false;
    puts("\r\nCheck if /mnt/flashfs is mount");
    return !s_CanBeRead(s_FLASHFS_CHECK.script) || s_WaitForCheck(s_FLASHFS_CHECK);
}

void s_RaisePriority()
{
    sched_param parameters{};
    parameters.sched_priority = s_MOUNT_TASK_PRIORITY;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &parameters) == 0)
        puts("Priority of of mount partition task set to 4 and policy FIFO");
}

void *mount_task(void *argument)
{
    t_serial = static_cast<unsigned>(reinterpret_cast<uintptr_t>(argument));
    const MountPlan &plan = selection == 0 ? s_INTERNAL_PLAN : s_USB_PLAN;
    puts("Starting Data Partition Mount Task");
    printf("mount_task Selection = %d\r\n\n", selection);
    s_RaisePriority();
    puts("\r\nLoad Drive mass storage begin");
    puts(plan.check_message);

    bool mounted = s_Mount(plan);
    if (mounted) {
        puts("Signaling Data Partition Mounted");
        fflush(stdout);
    }
    ScopedLock lock(mount_mutex);
    // A task the shut-down left behind has no state of its own any more.
    if (t_serial == s_task_serial) {
        s_mount_running = false;
        if (mounted) {
            s_mounted = true;
            sem_post(&sem_mountpart_id);
        }
        pthread_cond_broadcast(&s_mount_ended);
    }
    return nullptr;
}

// A new mount starts unsignalled, even when an earlier one was never waited for.
bool s_ResetSemaphore() { return s_SemaphoreFreshForTask(&sem_mountpart_id, &s_semaphore_created); }

}  // namespace

void API_PART_StopTask(void)
{
    pthread_mutex_lock(&mount_mutex);
    if (!s_mount_joinable) {
        pthread_mutex_unlock(&mount_mutex);
        return;
    }
    s_mount_joinable = false;
    const pthread_t task = mountpart_thread_id;
    s_live_serial = 0;
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += s_STOP_WAIT_S;
    while (s_mount_running && pthread_cond_timedwait(&s_mount_ended, &mount_mutex, &until) != ETIMEDOUT) {
    }
    const bool ended = !s_mount_running;
    s_mount_running = false;
    // A caller waiting for the mount learns at once that it will not come.
    if (!s_mounted)
        sem_post(&sem_mountpart_id);
    pthread_mutex_unlock(&mount_mutex);
    if (ended && !pthread_equal(pthread_self(), task))
        pthread_join(task, nullptr);
    else
        pthread_detach(task);
}

extern "C" {

int API_PART_Data_Mount(int requested)
{
    ScopedLock lock(mount_mutex);
    if (s_mount_running)
        return API_ERR_CREATING_MOUNT_TASK;
    // The last task has signalled and only has its return left.
    if (s_mount_joinable) {
        pthread_join(mountpart_thread_id, nullptr);
        s_mount_joinable = false;
    }
    selection = static_cast<unsigned char>(requested & 0xFF);
    if (!s_ResetSemaphore())
        return API_ERR_CREATING_MOUNT_SEMAPHORE;
    s_mounted = false;

    if (++s_task_serial == 0)
        ++s_task_serial;
    s_live_serial = s_task_serial;
    // Joinable: the shut-down waits for a task that is still checking.
    if (pthread_create(&mountpart_thread_id, nullptr, mount_task,
                       reinterpret_cast<void *>(static_cast<uintptr_t>(s_task_serial))) != 0) {
        s_live_serial = 0;
        return API_ERR_CREATING_MOUNT_TASK;
    }
    s_mount_running = true;
    s_mount_joinable = true;
    return API_ERR_NONE;
}

int API_PART_Data_IsReady(void)
{
    puts("Wait Semaphore Data Partition Mounted");
    fflush(stdout);
    {
        // Without a mount ever started nothing will signal.
        ScopedLock lock(mount_mutex);
        if (!s_semaphore_created)
            return API_ERR_CREATING_MOUNT_TASK;
    }
    while (sem_wait(&sem_mountpart_id) != 0 && errno == EINTR) {
    }
    // Signalled for good: every later caller learns the state at once.
    sem_post(&sem_mountpart_id);
    if (!s_mounted)
        return API_ERR_CREATING_MOUNT_TASK;
    puts("Received Data Partition Mounted semaphore");
    return API_ERR_NONE;
}

}  // extern "C"
