// The NOR flash parameter store on "/dev/mtd3".
#include "API_NOR.h"

#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "API_Errors.h"
#include "board.h"
#include "internal/API_Lock.h"
#include "internal/API_NOR.h"

int norfd = 0;

namespace {

constexpr unsigned kLastAddress = 0x7FFFFE;

// Positioning and transfer share the one descriptor's file position; units
// on different threads must not get between the two.
pthread_mutex_t s_nor_mutex = PTHREAD_MUTEX_INITIALIZER;

bool s_AddressValid(unsigned address) { return address >= API_NOR_PARAM_BASE && address <= kLastAddress; }

// 0 when the descriptor is positioned.  A closed store (0) is never sought:
// descriptor 0 belongs to someone else.
int s_Seek(long address)
{
    if (norfd <= 0 || address < 0)
        return -1;
    return Board_Lseek(norfd, static_cast<off_t>(address), SEEK_SET) < 0 ? -1 : 0;
}

// Default records.  Each goes to its place in the parameter map, so the units
// find their setting where they look for it (laid end to end, everything after
// the access point name would sit 9 bytes early).  The one-byte settings are
// stored as ASCII digits, the way the units write and parse them.
const char usb_device_mode[1] = {'0'};
const char gsm_device_band[1] = {'5'};
const char gsm_protocol[1] = {'0'};
const char gsm_csd_auto_pickup[1] = {'0'};
const char gsm_csd_auto_dial[1] = {'1'};
const char gsm_csd_dial_retries[1] = {'2'};
const char gsm_pad_apn[247] = "UNDEFINED_APN";
const char gsm_psd_login[64] = "UNDEFINED_LOGIN";
const char gsm_psd_password[64] = "UNDEFINED_PASSWORD";
const char bluetooth_encrypt[1] = {'0'};
const char bluetooth_pin[16] = "5820";
const char uhf_tx_serial_mode[1] = {'0'};
const char bluetooth_mac[6] = {0, 0, 0, 0, 0, 0};

struct NorDefault {
    uint32_t length;
    const void *data;
    uint32_t address;
};

const NorDefault NOR_DEFAULT_VALS[] = {
    {sizeof usb_device_mode, usb_device_mode, 0x39000},
    {sizeof gsm_device_band, gsm_device_band, 0x39001},
    {sizeof gsm_protocol, gsm_protocol, 0x39002},
    {sizeof gsm_csd_auto_pickup, gsm_csd_auto_pickup, 0x39003},
    {sizeof gsm_csd_auto_dial, gsm_csd_auto_dial, 0x39004},
    {sizeof gsm_csd_dial_retries, gsm_csd_dial_retries, 0x39005},
    {sizeof gsm_pad_apn, gsm_pad_apn, 0x39006},
    {sizeof gsm_psd_login, gsm_psd_login, 0x39106},
    {sizeof gsm_psd_password, gsm_psd_password, 0x39146},
    {sizeof bluetooth_encrypt, bluetooth_encrypt, 0x39186},
    {sizeof bluetooth_pin, bluetooth_pin, 0x39187},
    {sizeof uhf_tx_serial_mode, uhf_tx_serial_mode, 0x39197},
    {sizeof bluetooth_mac, bluetooth_mac, 0x39198},
    {0, nullptr, 0},
};

bool s_AllowedInText(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
           c == '.' || c == '@' || c == '_';
}

}  // namespace

extern "C" int API_NOR_Init(void)
{
    int fd = Board_Open("/dev/mtd3", O_RDWR, 0);
    if (fd < 0)
        return API_ERR_NOR_FLASH_INITIALIZATION;
    // A second start-up replaces the descriptor rather than leaking it.
    ScopedLock lock(s_nor_mutex);
    if (norfd > 0)
        Board_Close(norfd);
    norfd = fd;
    return API_ERR_NONE;
}

extern "C" int API_NOR_Cleanup(void)
{
    // Under the lock: an access on another thread must not seek or transfer
    // on a descriptor closed under it, whose number may be reused at once.
    ScopedLock lock(s_nor_mutex);
    if (norfd == 0)
        return API_ERR_NONE;
    int result = Board_Close(norfd);
    norfd = 0;
    return result != 0 ? API_ERR_NOR_FLASH_CLEANUP : API_ERR_NONE;
}

extern "C" int API_Flash_WriteData(unsigned address, const char *data, int length, int *written)
{
    if (!s_AddressValid(address))
        return API_ERR_INVALID_NOR_FLASH_ADDRESS;
    if (length < 0 || (data == nullptr && length > 0))
        return API_ERR_INVALID_PARAMETERS;
    ScopedLock lock(s_nor_mutex);
    if (s_Seek(address) != 0)
        return API_ERR_NOR_FLASH_SEEK;
    ssize_t count = Board_Write(norfd, data, static_cast<size_t>(length));
    if (count != length)
        return API_ERR_NOR_FLASH_WRITE;
    if (written)
        *written = length;
    return API_ERR_NONE;
}

extern "C" int API_Flash_ReadData(unsigned address, void *buffer, int size, int *read)
{
    if (!s_AddressValid(address))
        return API_ERR_INVALID_NOR_FLASH_ADDRESS;
    if (size < 0 || (buffer == nullptr && size > 0))
        return API_ERR_INVALID_PARAMETERS;
    ScopedLock lock(s_nor_mutex);
    if (s_Seek(address) != 0) {
        perror(nullptr);
        return API_ERR_NOR_FLASH_SEEK;
    }
    ssize_t count = Board_Read(norfd, buffer, static_cast<size_t>(size));
    if (read)
        *read = count < 0 ? 0 : static_cast<int>(count);
    if (count != size) {
        perror(nullptr);
        return API_ERR_NOR_FLASH_READ;
    }
    return API_ERR_NONE;
}

extern "C" int API_Flash_APIWriteData(int address, const void *data, int length, int *written)
{
    if (length < 0 || (data == nullptr && length > 0))
        return API_ERR_INVALID_PARAMETERS;
    ScopedLock lock(s_nor_mutex);
    if (s_Seek(address) != 0)
        return API_ERR_NOR_FLASH_SEEK;
    ssize_t count = Board_Write(norfd, data, static_cast<size_t>(length));
    if (written)
        *written = count < 0 ? 0 : static_cast<int>(count);
    return count != length ? API_ERR_NOR_FLASH_WRITE : API_ERR_NONE;
}

extern "C" int API_Flash_APIReadData(int address, void *buffer, int size, int *read)
{
    if (size < 0 || (buffer == nullptr && size > 0))
        return API_ERR_INVALID_PARAMETERS;
    ScopedLock lock(s_nor_mutex);
    if (s_Seek(address) != 0)
        return API_ERR_NOR_FLASH_SEEK;
    ssize_t count = Board_Read(norfd, buffer, static_cast<size_t>(size));
    if (read)
        *read = count < 0 ? 0 : static_cast<int>(count);
    return count != size ? API_ERR_NOR_FLASH_READ : API_ERR_NONE;
}

extern "C" int API_NOR_Check_Blank_Param(const char *data, int length)
{
    if (length <= 0)
        return API_ERR_NONE;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(data);
    for (int i = 0; i < length; ++i) {
        if (bytes[i] != 0xFF)
            return API_ERR_NONE;
    }
    printf("Param is blank !\n");
    return API_ERR_NOR_PARAMETER_NOT_INITIALIZED;
}

extern "C" int API_NOR_Check_String_Param(const char *text, int length)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (int i = 0; i < length; ++i) {
        if (bytes[i] == 0)
            return API_ERR_NONE;
        if (!s_AllowedInText(bytes[i]))
            break;
    }
    printf("Param is not a string !\n");
    return API_ERR_NOR_PARAMETER_INVALID_STRING;
}

extern "C" int API_RevertTS9ToDefault(void) { return API_NOR_WriteDefaults(); }

int API_NOR_WriteDefaults(void)
{
    // Assembled as the parameter area looks with the defaults in place; only
    // the records' own bytes are written from it.
    unsigned char *area = static_cast<unsigned char *>(calloc(1, API_NOR_PARAM_SIZE));
    if (area == nullptr)
        return API_ERR_MEMORY_ALLOCATION;
    for (const NorDefault *record = NOR_DEFAULT_VALS; record->length != 0; ++record)
        memcpy(area + (record->address - API_NOR_PARAM_BASE), record->data, record->length);
    int result = API_ERR_NONE;
    for (const NorDefault *record = NOR_DEFAULT_VALS; record->length != 0; ++record) {
        int written = 0;
        int offset = static_cast<int>(record->address - API_NOR_PARAM_BASE);
        if (API_Flash_APIWriteData(static_cast<int>(record->address), area + offset, static_cast<int>(record->length),
                                   &written) != API_ERR_NONE)
            result = API_ERR_NOR_FLASH_WRITE;
    }
    free(area);
    return result;
}
