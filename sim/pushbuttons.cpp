#include "sim/pushbuttons.h"

#include <errno.h>
#include <fcntl.h>

#include "sim/nor_flash.h"

namespace sim {

int PushButtons::Open(int flags)
{
    // The driver only reads the buttons.
    if ((flags & O_ACCMODE) != O_RDONLY) {
        errno = EACCES;
        return -1;
    }
    m_open.fetch_add(1);
    return 0;
}

void PushButtons::Close() { m_open.fetch_sub(1); }

int PushButtons::Ioctl(unsigned long request, void *argument)
{
    if (request != kReadRecord && request != kReadScroll) {
        errno = ENOTTY;
        return -1;
    }
    m_requests.fetch_add(1);
    if (int error = m_ioctlError.load()) {
        errno = error;
        return -1;
    }
    if (!argument) {
        errno = EFAULT;
        return -1;
    }
    *static_cast<int *>(argument) = request == kReadRecord ? m_record.load() : m_scroll.load();
    return 0;
}

void SetBootButtons(NorFlash &nor, uint8_t record, uint8_t scroll)
{
    const uint8_t bytes[2] = {record, scroll};
    nor.Poke(kBootButtonsAddress, bytes, sizeof bytes);
}

std::pair<uint8_t, uint8_t> BootButtons(const NorFlash &nor)
{
    std::vector<uint8_t> bytes = nor.Peek(kBootButtonsAddress, 2);
    return {bytes[0], bytes[1]};
}

}  // namespace sim
