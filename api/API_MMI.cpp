#include "API_MMI.h"

#include <fcntl.h>
#include <pthread.h>
#include <string.h>

#include "API_Errors.h"
#include "API_NOR.h"
#include "board.h"
#include "internal/API_MMI.h"

int ifd_pb = 0;
int s_bt_read = 0;
unsigned char s_bt_state[2] = {0, 0};

namespace {

const unsigned long kButtonRequests[2] = {API_MMI_IOCTL_RECORD, API_MMI_IOCTL_SCROLL};
// Two threads reading the boot state at once must not both consume the NOR
// bytes: the second would read the cleared zeros over the first one's answer.
pthread_mutex_t s_bt_mutex = PTHREAD_MUTEX_INITIALIZER;

int get_pb_status(int button, int *value)
{
    if (!value)
        return API_ERR_INVALID_PARAMETERS;
    if (ifd_pb <= 0)
        return API_ERR_OPEN_DEV_PUSHBUTTON;
    int state = 0;
    if (Board_Ioctl(ifd_pb, kButtonRequests[button], &state) != 0)
        return API_ERR_IOCTL_DEV_PUSHBUTTON;
    *value = state;
    return API_ERR_NONE;
}

int read_and_clear_boot_state()
{
    unsigned char state[2] = {0, 0};
    int count = 0;
    if (API_Flash_ReadData(API_MMI_NOR_BOOT_BUTTONS, state, sizeof state, &count) != 0)
        return API_ERR_READING_NOR_FLASH;
    // The bytes answer once per boot: clear them before trusting the cache, so
    // a failed clear makes the next call read them again.
    const char zeros[2] = {0, 0};
    if (API_Flash_WriteData(API_MMI_NOR_BOOT_BUTTONS, zeros, sizeof zeros, &count) != 0)
        return API_ERR_NOR_FLASH_WRITE;
    memcpy(s_bt_state, state, sizeof s_bt_state);
    s_bt_read = 1;
    return API_ERR_NONE;
}

int get_boot_pb_status(int index, int *value)
{
    if (!value)
        return API_ERR_INVALID_PARAMETERS;
    pthread_mutex_lock(&s_bt_mutex);
    int result = s_bt_read ? API_ERR_NONE : read_and_clear_boot_state();
    if (result == API_ERR_NONE)
        *value = s_bt_state[index] != 0 ? 1 : 0;
    pthread_mutex_unlock(&s_bt_mutex);
    return result;
}

}  // namespace

extern "C" int API_MMI_Init(void)
{
    // Started twice: keep the open descriptor rather than leak it.
    if (ifd_pb > 0)
        return API_ERR_NONE;
    ifd_pb = Board_Open("/dev/pushbuttons", O_RDONLY, 0);
    if (ifd_pb <= 0) {
        ifd_pb = 0;
        return API_ERR_PUSHBUTTON_INITIALIZAION;
    }
    return API_ERR_NONE;
}

extern "C" int API_MMI_Cleanup(void)
{
    if (ifd_pb <= 0)
        return API_ERR_NONE;
    int closed = Board_Close(ifd_pb);
    ifd_pb = 0;
    return closed != 0 ? API_ERR_PUSHBUTTON_CLEANUP : API_ERR_NONE;
}

extern "C" int API_MMI_IsRecordPressed(int *pressed) { return get_pb_status(0, pressed); }

extern "C" int API_MMI_IsScrollPressed(int *pressed) { return get_pb_status(1, pressed); }

extern "C" int API_MMI_WasRecordPressedOnBoot(int *pressed) { return get_boot_pb_status(0, pressed); }

extern "C" int API_MMI_WasScrollPressedOnBoot(int *pressed) { return get_boot_pb_status(1, pressed); }
