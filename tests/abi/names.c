/* A C application whose own names are those the device API once leaked: it
 * must link against the archive (no "multiple definition") and, against the
 * shared library, must not take the library's state over. */
#include <stdio.h>

#include "API.h"

/* All set, so that a library reading any of them as its own would see it. */
int a_devnames = -1, a_FlashBuf = -1, a_uartSettings = -1, ab_dbgEnabled = -1, ab_logEnabled = -1, ai_fd = -1,
    ai_logFd = -1, b_CommandMode = -1, b_CSD_ConnectionStatus = -1, b_ExitDataMode = -1, b_GSM_API_Initialized = -1,
    b_GSM_DCD_Enabled = -1, b_GSM_DCD_Stable = -1, b_GSM_PIN_Initialized = -1, b_GSM_Power_ON = -1,
    b_IsInitialized = -1, b_PowerState = -1, b_PSD_BearerConnected = -1, b_PSD_ConnectionStatus = -1,
    b_PSD_WaitForData = -1, b_switchToCommandModeRequested = -1, b_ttyS0open = -1, bCheckStatus = -1,
    bCloseSocketRequested = -1, Bluetooth_mutex = -1, Board_Close = -1, Board_Exists = -1, Board_Ioctl = -1,
    Board_Lseek = -1, Board_Mknod = -1, Board_Nanosleep = -1, Board_Open = -1, Board_Poll = -1, Board_Read = -1,
    Board_System = -1, Board_Unlink = -1, Board_Write = -1, Buffer_Cmd = -1, Buffer_Cmd_Length = -1, device_mode = -1,
    device_state = -1, display_mutex = -1, fd_extender = -1, FullttyUSB = -1, gsm_mutex = -1, gsm_task = -1,
    gsm_thread_id = -1, GSMprotocol = -1, host_state = -1, i_API_Initialized = -1, i_dfd = -1, i_RPtr = -1, i_WPtr = -1,
    ifd_pb = -1, ifd_pmu = -1, ifd_pps = -1, l_user_chars = -1, mountpart_thread_id = -1, new_bmp = -1, norfd = -1,
    p_gsmcallback = -1, p_usbcallback = -1, p_usbserialcallback = -1, PSDprotocol = -1, s_display_mirror = -1,
    s_page_update = -1, s_spi_mutex = -1, selection = -1, sem_gsm_id = -1, sem_gsm_power_id = -1, sem_gsm_write_id = -1,
    sem_mountpart_id = -1, sigiofd = -1, size7_bmp = -1, UsbSerialState = -1, WipSocket = -1;

int main(void)
{
    /* The library's own record of the started features is still empty. */
    if (API_IsInitialized(API_INIT_GSM) != 0) {
        puts("the device API reads the application's i_API_Initialized");
        return 1;
    }
    return 0;
}
