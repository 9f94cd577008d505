/* A C application whose own names are those the device API once leaked: it
 * must link against the archive (no "multiple definition") and, against the
 * shared library, must not take the library's state over. */
#include <stdio.h>

#include "API.h"

#define LEAKED_NAMES(X) \
    X(a_devnames) X(a_FlashBuf) X(a_uartSettings) X(ab_dbgEnabled) X(ab_logEnabled) X(ai_fd) \
    X(ai_logFd) X(b_CommandMode) X(b_CSD_ConnectionStatus) X(b_ExitDataMode) \
    X(b_GSM_API_Initialized) X(b_GSM_DCD_Enabled) X(b_GSM_DCD_Stable) X(b_GSM_PIN_Initialized) \
    X(b_GSM_Power_ON) X(b_IsInitialized) X(b_PowerState) X(b_PSD_BearerConnected) \
    X(b_PSD_ConnectionStatus) X(b_PSD_WaitForData) X(b_switchToCommandModeRequested) X(b_ttyS0open) \
    X(bCheckStatus) X(bCloseSocketRequested) X(Bluetooth_mutex) X(Board_Close) X(Board_Exists) \
    X(Board_Ioctl) X(Board_Lseek) X(Board_Mknod) X(Board_Nanosleep) X(Board_Open) X(Board_Poll) \
    X(Board_Read) X(Board_System) X(Board_Unlink) X(Board_Write) X(Buffer_Cmd) X(Buffer_Cmd_Length) \
    X(device_mode) X(device_state) X(display_mutex) X(fd_extender) X(FullttyUSB) X(gsm_mutex) \
    X(gsm_task) X(gsm_thread_id) X(GSMprotocol) X(host_state) X(i_API_Initialized) X(i_dfd) \
    X(i_RPtr) X(i_WPtr) X(ifd_pb) X(ifd_pmu) X(ifd_pps) X(l_user_chars) X(mountpart_thread_id) \
    X(new_bmp) X(norfd) X(p_gsmcallback) X(p_usbcallback) X(p_usbserialcallback) X(PSDprotocol) \
    X(s_display_mirror) X(s_page_update) X(s_spi_mutex) X(selection) X(sem_gsm_id) \
    X(sem_gsm_power_id) X(sem_gsm_write_id) X(sem_mountpart_id) X(sigiofd) X(size7_bmp) \
    X(UsbSerialState) X(WipSocket)

#define DEFINE(name) int name = -1;
LEAKED_NAMES(DEFINE)

int main(void)
{
    /* The library's own record of the started features is still empty. */
    if (API_IsInitialized(API_INIT_GSM) != 0) {
        puts("the device API reads the application's i_API_Initialized");
        return 1;
    }
    return 0;
}
