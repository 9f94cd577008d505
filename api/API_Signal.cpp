// Driver signals.  The handlers do no work of their own: they find out which
// events are pending and hand each one to the unit it concerns.  Everything
// here and in the unit handlers runs in signal context: no locks, no
// allocation, no stdio.
#include "API_Signal.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>

#include "API_Errors.h"
#include "API_Ethernet.h"
#include "API_GNSS.h"
#include "API_PM.h"
#include "API_USBDevice.h"
#include "API_Usbserial.h"
#include "board.h"
#include "internal/API_GSM.h"
#include "internal/API_Signal.h"
#include "internal/API_USBDevice.h"

std::atomic<int> sigiofd{0};

namespace {

// The drivers raise their signals as root; anything else comes from a user
// process and must not be taken for a driver event.
bool s_FromUserProcess(const siginfo_t *info) { return info != nullptr && info->si_uid > 0; }

int s_Install(int signal, void (*handler)(int, siginfo_t *, void *))
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO;
    return sigaction(signal, &action, nullptr);
}

void s_Restore(int signal)
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

extern "C" void SIGUSR2_handler(int, siginfo_t *info, void *context)
{
    if (s_FromUserProcess(info))
        return;
    // The interrupted thread may be between a failing call and its errno test.
    int saved_errno = errno;
    uint32_t events = 0;
    // Before "/dev/gpio" is open (the handler is installed first) there is
    // nobody to ask; descriptor 0 is someone else's.
    const int fd = sigiofd.load();
    if (fd <= 0 || Board_Ioctl(fd, API_GPIO_GET_EVENTS, &events) < 0) {
        errno = saved_errno;
        return;
    }
    // Served in this order, one unit after the other.
    if (events & API_EVENT_GNSS_PPS)
        API_GNSS_PPSSignalHandler(context, events);
    if (events & API_EVENT_USB_CONNECTED) {
        device_state = 1;
        API_USB_DeviceSignalHandler();
    }
    if (events & API_EVENT_USB_DISCONNECTED) {
        device_state = 0;
        API_USB_DeviceSignalHandler();
    }
    if (events & API_EVENT_GSM_DCD) {
        if (b_GSM_DCD_Stable != 0 && b_GSM_DCD_Enabled != 0)
            API_GSM_DSCSignalHandler();
    }
    if (events & API_EVENT_POWER)
        API_PM_NotifyUser();
    errno = saved_errno;
}

extern "C" void SIGIO_handler(int, siginfo_t *info, void *)
{
    if (s_FromUserProcess(info))
        return;
    int saved_errno = errno;
    // Each unit finds out by itself whether its state changed.
    API_USB_HostSignalHandler();
    API_ETH_SignalHandler();
    API_Usbserial_SignalHandler();
    errno = saved_errno;
}

extern "C" int API_Signal_Initialize(void)
{
    s_Install(SIGUSR2, SIGUSR2_handler);
    int fd = Board_Open("/dev/gpio", O_RDWR, 0);
    if (fd < 0)
        return API_ERR_OPEN_FILE;
    // A second start-up replaces the descriptor rather than leaking it.
    int previous = sigiofd.exchange(fd);
    if (previous > 0)
        Board_Close(previous);
    s_Install(SIGIO, SIGIO_handler);
    return API_ERR_NONE;
}

extern "C" int API_Signal_Cleanup(void)
{
    s_Restore(SIGUSR2);
    s_Restore(SIGIO);
    int fd = sigiofd.exchange(0);
    if (fd == 0)
        return 0;
    return Board_Close(fd);
}
