#include "API_PART.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <stdio.h>

#include <atomic>

#include "API_Errors.h"
#include "API_SYS.h"
#include "board.h"
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

// Guards the start of a task against one still running: two tasks would run
// the mount commands twice and share one semaphore.
pthread_mutex_t mount_mutex = PTHREAD_MUTEX_INITIALIZER;

// A plain pthread mutex, as elsewhere in the API: std::mutex reports a failed
// lock with an exception, which would take libstdc++ into the static tool.
class MountLock {
public:
    MountLock() { pthread_mutex_lock(&mount_mutex); }
    ~MountLock() { pthread_mutex_unlock(&mount_mutex); }
    MountLock(const MountLock &) = delete;
    MountLock &operator=(const MountLock &) = delete;
};

bool s_mount_running = false;
bool s_semaphore_created = false;
// A task that has not been joined yet, running or ended.
bool s_mount_joinable = false;
// Set by the shut-down: the task gives up at its next step, unsignalled.
std::atomic<bool> s_mount_stop{false};

bool s_CanBeRead(const char *path)
{
    int fd = Board_Open(path, O_RDONLY, 0);
    if (fd < 0)
        return false;
    Board_Close(fd);
    return true;
}

bool s_Stopped() { return s_mount_stop.load(); }

// Runs the check until its result file starts with "1" (true); for ever if it
// never does, unless the shut-down stops the task (false).
bool s_WaitForCheck(const MountCheck &check)
{
    while (!s_Stopped()) {
        Board_System(check.command);
        int fd;
        while ((fd = Board_Open(check.result_file, O_RDONLY, 0)) < 0) {
            if (s_Stopped())
                return false;
            puts(check.waiting_result_message);
            API_Sleep(s_RESULT_POLL_MS);
        }
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
    if (s_Stopped())
        return false;
    Board_System(plan.gadget_command);
    Board_System(plan.loop_command);
    Board_System(plan.mount_command);

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

void *mount_task(void *)
{
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
    MountLock lock;
    s_mount_running = false;
    if (mounted)
        sem_post(&sem_mountpart_id);
    return nullptr;
}

// A new mount starts unsignalled, even when an earlier one was never waited for.
bool s_ResetSemaphore() { return s_SemaphoreFreshForTask(&sem_mountpart_id, &s_semaphore_created); }

}  // namespace

void API_PART_StopTask(void)
{
    pthread_t task;
    {
        MountLock lock;
        if (!s_mount_joinable)
            return;
        s_mount_joinable = false;
        task = mountpart_thread_id;
    }
    // Not under the lock: the task takes it on its way out.
    s_mount_stop = true;
    if (pthread_equal(pthread_self(), task))
        pthread_detach(task);
    else
        pthread_join(task, nullptr);
}

extern "C" {

int API_PART_Data_Mount(int requested)
{
    MountLock lock;
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

    s_mount_stop = false;
    // Joinable: the shut-down waits for a task that is still checking.
    if (pthread_create(&mountpart_thread_id, nullptr, mount_task, nullptr) != 0)
        return API_ERR_CREATING_MOUNT_TASK;
    s_mount_running = true;
    s_mount_joinable = true;
    return API_ERR_NONE;
}

int API_PART_Data_IsReady(void)
{
    puts("Wait Semaphore Data Partition Mounted");
    fflush(stdout);
    while (sem_wait(&sem_mountpart_id) != 0 && errno == EINTR) {
    }
    puts("Received Data Partition Mounted semaphore");
    return API_ERR_NONE;
}

}  // extern "C"
