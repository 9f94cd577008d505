#include "API_Watchdog.h"

#include <fcntl.h>
#include <pthread.h>

#include "API_Errors.h"
#include "board.h"
#include "internal/API_Watchdog.h"

int i_wd_fd = 0;
int i_timeout = 60;
int b_Watch_Flag = 0;
int b_Watch_Disarmed = 0;

namespace {

// The magic character: a close right after it stops the watchdog.  It is
// written only to disarm; a keep-alive uses any other byte, so a close by
// the kernel after a crash leaves the watchdog running and the board reboots.
const char a_stop[] = "V";
const char a_feed[] = "\0";

// Arming, feeding and closing may come from different threads; a feed must
// never write to a descriptor that a concurrent stop has just closed.
pthread_mutex_t watchdog_mutex = PTHREAD_MUTEX_INITIALIZER;

int s_Arm(int timeout)
{
    // A second arm keeps the open descriptor: opening again would fail on a
    // single-opener driver and lose the only way to feed or stop it.
    if (i_wd_fd <= 0) {
        int fd = Board_Open("/dev/watchdog", O_WRONLY, 0);
        if (fd < 0)
            return API_ERR_OPENING_WATCHDOG;
        i_wd_fd = fd;
    }
    b_Watch_Disarmed = 0;
    // Armed from here: the open started the watchdog, and a time-out the
    // driver refuses leaves it running on its own one, to be disarmed all
    // the same.
    b_Watch_Flag = 1;
    if (timeout != 0)
        i_timeout = timeout;
    if (Board_Ioctl(i_wd_fd, API_WATCHDOG_IOCTL_SETTIMEOUT, &i_timeout) != 0)
        return API_ERR_SETTING_WATCHDOG_TIMEOUT;
    return API_ERR_NONE;
}

int s_Disarm()
{
    if (!b_Watch_Flag || i_wd_fd <= 0)
        return API_ERR_NONE;
    if (Board_Write(i_wd_fd, a_stop, 1) != 1)
        return API_ERR_WATCHDOG_WRITE;
    b_Watch_Flag = 0;
    b_Watch_Disarmed = 1;
    return API_ERR_NONE;
}

}  // namespace

extern "C" int API_Watchdog_Init(int timeout, int enable)
{
    if (enable != 0 && enable != 1)
        return API_ERR_NONE;
    pthread_mutex_lock(&watchdog_mutex);
    int result = enable == 1 ? s_Arm(timeout) : s_Disarm();
    pthread_mutex_unlock(&watchdog_mutex);
    return result;
}

extern "C" int API_Watchdog_Restart(void)
{
    int result = API_ERR_NONE;
    pthread_mutex_lock(&watchdog_mutex);
    if (i_wd_fd > 0 && !b_Watch_Disarmed && Board_Write(i_wd_fd, a_feed, 1) != 1)
        result = API_ERR_KEEP_WATCHDOG_TIME_ALIVE;
    pthread_mutex_unlock(&watchdog_mutex);
    return result;
}

extern "C" int API_Watchdog_Stop(void)
{
    pthread_mutex_lock(&watchdog_mutex);
    if (i_wd_fd > 0)
        Board_Close(i_wd_fd);
    // Closed means not open and no longer armed by us, whatever the driver
    // does about a close without the magic character.
    i_wd_fd = 0;
    b_Watch_Flag = 0;
    b_Watch_Disarmed = 0;
    pthread_mutex_unlock(&watchdog_mutex);
    return API_ERR_NONE;
}
