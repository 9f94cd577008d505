// Start-up and shut-down of the device API, the interface table and its
// configuration file.
#include "API_Init.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "API_Bluetooth.h"
#include "API_Buzzer.h"
#include "API_Debug.h"
#include "API_Display.h"
#include "API_Errors.h"
#include "API_Ethernet.h"
#include "API_Extender.h"
#include "API_GSM.h"
#include "API_MMI.h"
#include "API_NOR.h"
#include "API_PART.h"
#include "API_PM.h"
#include "API_SPI.h"
#include "API_SYS.h"
#include "API_Signal.h"
#include "API_USBDevice.h"
#include "API_Usbserial.h"
#include "API_Watchdog.h"
#include "board.h"
#include "internal/API_Display.h"
#include "internal/API_Init.h"
#include "internal/API_NOR.h"
#include "internal/API_PART.h"
#include "internal/API_PM.h"
#include "internal/API_SPI.h"
#include "internal/API_Signal.h"

API_DevName a_devnames[API_DEVNAME_COUNT] = {
    {0, "debug_iface", "/dev/ttyS0", 4, 64},
    {1, "gsm_iface", "/dev/ttyS1", 4, 65},
    {2, "gnss_iface", "/dev/ttyS2", 4, 66},
    {3, "bt_iface", "/dev/ttyS3", 4, 67},
    {4, "uhf_transmitter_iface", "/dev/ttyS4", 4, 68},
    {5, "uhf_receiver_iface", "/dev/ttyS5", 4, 69},
    {6, "ttyUSB0", "/dev/ttyUSB0", 188, 0},
    {7, "ttyUSB1", "/dev/ttyUSB1", 188, 1},
    {8, "ttyUSB2", "/dev/ttyUSB2", 188, 2},
    {9, "ttyUSB3", "/dev/ttyUSB3", 188, 3},
    {10, "ttyUSB4", "/dev/ttyUSB4", 188, 4},
    {-1, "pushbuttons", "/dev/pushbuttons", 143, 0},
    {-1, "gpio", "/dev/gpio", 143, 1},
    {-1, "display", "/dev/display", 143, 2},
    {-1, "rtc", "/dev/rtc", 143, 3},
    {-1, "pmu", "/dev/pmu", 143, 4},
    {-1, "pps", "/dev/pps", 143, 5},
    {-1, "extender", "/dev/extender", 143, 6},
};

int FullttyUSB = 0;
int ifd_pps = 0;
uint32_t i_API_Initialized = 0;
int b_IsInitialized = 0;

namespace {

const char s_config_file[] = "/etc/ts9_api.cfg";
const char s_config_aside[] = "/etc/ts9_api.cfg.new";
const char s_lock_file[] = "/var/ts9.pid";
const char s_pps_device[] = "/dev/pps";

// Character device, permission bits 0777 (before the file-creation mask).
constexpr mode_t kNodeMode = 0x21FF;

struct DefaultPath {
    const char *name;
    const char *path;
};

const DefaultPath s_default_paths[API_DEVNAME_COUNT] = {
    {"debug_iface", "/dev/ttyS0"},
    {"gsm_iface", "/dev/ttyS1"},
    {"gnss_iface", "/dev/ttyS2"},
    {"bt_iface", "/dev/ttyS3"},
    {"uhf_transmitter_iface", "/dev/ttyS4"},
    {"uhf_receiver_iface", "/dev/ttyS5"},
    {"ttyUSB0", "/dev/ttyUSB0"},
    {"ttyUSB1", "/dev/ttyUSB1"},
    {"ttyUSB2", "/dev/ttyUSB2"},
    {"ttyUSB3", "/dev/ttyUSB3"},
    {"ttyUSB4", "/dev/ttyUSB4"},
    {"pushbuttons", "/dev/pushbuttons"},
    {"gpio", "/dev/gpio"},
    {"display", "/dev/display"},
    {"rtc", "/dev/rtc"},
    {"pmu", "/dev/pmu"},
    {"pps", "/dev/pps"},
    {"extender", "/dev/extender"},
};

char a_buf[1024];

// The file is plain ASCII; the C library's classes would follow the locale.
bool s_IsAlnum(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }
bool s_IsGraph(unsigned char c) { return c >= 0x21 && c <= 0x7E; }

// Copies at most API_CONFIG_TOKEN_MAX characters: a longer name or path is
// cut, never written past its field.
void s_CopyToken(char *field, const char *token, size_t length)
{
    if (length > API_CONFIG_TOKEN_MAX)
        length = API_CONFIG_TOKEN_MAX;
    memcpy(field, token, length);
    field[length] = '\0';
}

void s_ApplyEntry(const char *name, size_t name_length, const char *value, size_t value_length)
{
    char wanted[API_CONFIG_TOKEN_MAX + 1];
    s_CopyToken(wanted, name, name_length);
    for (API_DevName &row : a_devnames) {
        if (strcmp(row.name, wanted) == 0) {
            s_CopyToken(row.path, value, value_length);
            return;
        }
    }
}

}  // namespace

// Entries: a name, anything up to a double quote, and the value up to the next
// blank or control character, whose last character (the closing quote) is dropped.
void s_ParseConfig(const char *data, size_t size)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(data);
    size_t position = 0;
    while (position < size) {
        while (position < size && !s_IsAlnum(text[position]))
            ++position;
        if (position >= size)
            return;
        size_t name_start = position;
        while (position < size && s_IsGraph(text[position]) && text[position] != '=')
            ++position;
        size_t name_length = position - name_start;

        ++position;
        while (position < size && text[position] != '"')
            ++position;
        if (position >= size)
            return;
        ++position;

        size_t value_start = position;
        while (position < size && s_IsGraph(text[position]))
            ++position;
        size_t value_length = position - value_start;
        if (value_length > 0)
            --value_length;
        ++position;

        s_ApplyEntry(data + name_start, name_length, data + value_start, value_length);
    }
}

namespace {

enum class ConfigRead { Applied, Missing, Unreadable };

ConfigRead s_ReadConfigFile(void)
{
    int fd = Board_Open(s_config_file, O_RDONLY, 0);
    if (fd < 0)
        return ConfigRead::Missing;
    ssize_t count = Board_Read(fd, a_buf, sizeof a_buf);
    if (count > 0)
        s_ParseConfig(a_buf, static_cast<size_t>(count));
    Board_Close(fd);
    return count < 0 ? ConfigRead::Unreadable : ConfigRead::Applied;
}

// The configuration step; its error when start-up has to end here.  A file
// that is there but cannot be read is not replaced: it may hold the board's
// own paths, and the table it would be replaced from does not.
int s_ConfigStep(void)
{
    switch (s_ReadConfigFile()) {
    case ConfigRead::Unreadable: return API_ERR_OPEN_FILE;
    case ConfigRead::Missing:
        if (create_config_file() == 0)
            return API_ERR_CREATE_FILE;
        break;
    case ConfigRead::Applied: break;
    }
    make_device_descriptors();
    return API_ERR_NONE;
}

// True when the whole text went out.
bool s_WriteText(int fd, const char *text)
{
    const ssize_t length = static_cast<ssize_t>(strlen(text));
    return Board_Write(fd, text, static_cast<size_t>(length)) == length;
}

void s_Banner(void) { printf("Orva device API version %s, built %s %s\n", API_VERSION, __DATE__, __TIME__); }

// Prints the unit's message and gives the code that becomes the running result.
void s_Check(int &result, int code, const char *format)
{
    if (code == API_ERR_NONE)
        return;
    printf(format, code);
    result = code;
}

int s_OpenPps(void)
{
    // Held open for the API's life; a second start-up must not leak the first.
    if (ifd_pps > 0)
        Board_Close(ifd_pps);
    ifd_pps = 0;
    int fd = Board_Open(s_pps_device, O_RDONLY, 0);
    if (fd < 0) {
        perror("PPS open error");
        printf("open PPS_DEVICE error (%d)\n", API_ERR_OPEN_PPS);
        return API_ERR_OPEN_PPS;
    }
    ifd_pps = fd;
    return API_ERR_NONE;
}

int s_WriteLockFile(void)
{
    int fd = Board_Open(s_lock_file, O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        printf("Unable to create lock file '%s'\n", s_lock_file);
        return API_ERR_CREATE_FILE;
    }
    char pid[24];
    snprintf(pid, sizeof pid, "%d\n", static_cast<int>(getpid()));
    s_WriteText(fd, pid);
    Board_Close(fd);
    return API_ERR_NONE;
}

// The units' start-up operations of step 6, in their fixed order.
void s_StartUnits(uint32_t flags, int &result)
{
    if (flags & API_INIT_SPI)
        s_Check(result, API_SPI_Initialize(), "API_SPI_Initialize error (%d)\n");
    if (flags & API_INIT_WATCHDOG) {
        int code = API_Watchdog_Init(20, 1);
        if (code != API_ERR_NONE) {
            printf("API_Watchdog_Init error\n");
            result = code;
        }
    }
    if (flags & API_INIT_SIGNALS)
        s_Check(result, API_Signal_Initialize(), "API_Signal_Initialize error (%d)\n");
    if (flags & API_INIT_USB)
        s_Check(result, API_USB_Init(nullptr), "API_USB_Init error (%d)\n");
    if (flags & API_INIT_PM)
        s_Check(result, API_PM_Initialize(), "API_PM_Initialize error (%d)\n");
    if (flags & API_INIT_MMI)
        s_Check(result, API_MMI_Init(), "API_MMI_Init error (%d)\n");
    if (flags & API_INIT_BUZZER)
        s_Check(result, API_Buzzer_Init(), "API_Buzzer_Init error (%d)\n");
    if (flags & API_INIT_DISPLAY) {
        int code = API_Display_Reset();
        s_Check(result, code, "API_Display_Reset error (%d)\n");
        if (code == API_ERR_NONE)
            s_Check(result, API_Display_Initialize(), "API_Display_Initialize error (%d)\n");
    }
    if (flags & API_INIT_GSM)
        s_Check(result, API_GSM_Initialize(), "API_GSM_Initialize error (%d)\n");
    if (flags & API_INIT_NOR)
        s_Check(result, API_NOR_Init(), "API_NOR_Init error (%d)\n");
}

}  // namespace

// Written aside and renamed over the file: a write that fails (a full
// device) leaves the file as it was, never cut short.
extern "C" int create_config_file(void)
{
    int fd = Board_Open(s_config_aside, O_WRONLY | O_CREAT | O_TRUNC, 0777);
    if (fd < 0)
        return 0;
    bool written = true;
    for (const API_DevName &row : a_devnames) {
        const char *const parts[] = {row.name, " = ", "\"", row.path, "\"", "\n"};
        for (const char *part : parts)
            written = written && s_WriteText(fd, part);
    }
    written = Board_Close(fd) == 0 && written;
    if (written && Board_Rename(s_config_aside, s_config_file) == 0)
        return 1;
    Board_Unlink(s_config_aside);
    return 0;
}

extern "C" int make_device_descriptors(void)
{
    for (const API_DevName &row : a_devnames) {
        if (Board_Exists(row.path))
            continue;
        dev_t device = static_cast<dev_t>((static_cast<unsigned>(row.major) << 8) |
                                          (static_cast<unsigned>(row.minor) & 0xFF));
        if (Board_Mknod(row.path, kNodeMode, device) != 0 && errno != EEXIST)
            printf("%s: Unable to create device file %s \n", "make_device_descriptors", row.path);
    }
    return 1;
}

void s_DefaultPaths(void)
{
    for (API_DevName &row : a_devnames)
        memset(row.path, 0, sizeof row.path);
    for (API_DevName &row : a_devnames) {
        for (const DefaultPath &fallback : s_default_paths) {
            if (strcmp(row.name, fallback.name) == 0) {
                snprintf(row.path, sizeof row.path, "%s", fallback.path);
                break;
            }
        }
    }
}

extern "C" int API_RevertAPIConfigToDefault(void)
{
    s_DefaultPaths();
    // The nodes are made either way: the table in memory is the default now.
    int written = create_config_file();
    make_device_descriptors();
    return written ? API_ERR_NONE : API_ERR_CREATE_FILE;
}

extern "C" int API_Initialize(int flags)
{
    const uint32_t requested = static_cast<uint32_t>(flags);
    s_Banner();
    if (Board_Exists("/sys/class/tty/ttyUSB4"))
        FullttyUSB = 1;
    b_IsInitialized = 0;
    i_API_Initialized |= requested;
    int result = API_ERR_NONE;

    if (requested & API_INIT_CONFIG) {
        // Without a configuration file nothing else may start, and the
        // caller must learn that nothing did.
        if (int code = s_ConfigStep())
            return code;
    } else {
        printf("make_device_descriptors skipped\n");
    }

    if (requested & API_INIT_DATA_PARTITION) {
        int code = API_PART_Data_Mount(0);
        if (code != API_ERR_NONE)
            result = code;
    }

    s_StartUnits(requested, result);

    if (int code = s_OpenPps())
        result = code;
    s_Check(result, API_USB_Initialize(), "API_USB_Initialize error (%d)\n");
    if (requested & API_INIT_BLUETOOTH)
        s_Check(result, API_Bluetooth_Initialize(), "API_Bluetooth_init error (%d)\n");
    if (requested & API_INIT_POWER_EVENTS)
        s_Check(result, API_PM_EnablePowerEvents(), "API_PM_EnablePowerEvents error (%d)\n");
    API_SYS_AutoStart((requested & API_INIT_NO_AUTOSTART) ? 0 : 1);
    if (requested & API_INIT_NOR_DEFAULTS)
        API_NOR_WriteDefaults();
    if (requested & API_INIT_EXTENDER)
        s_Check(result, API_Extender_Init(), "API_Extender_Init error (%d)\n");
    if (requested & API_INIT_USB_SERIAL) {
        s_Check(result, API_Usbserial_Initialize(), "API_SERIALUSB_Initialize error (%d)\n");
        s_Check(result, API_Usbserial_Init(nullptr), "API_SERIALUSB_Init error (%d)\n");
    }
    if (requested & API_INIT_ETHERNET)
        s_Check(result, API_ETH_Init(nullptr), "API_ETH_Init error (%d)\n");

    b_IsInitialized = 1;
    if (int code = s_WriteLockFile())
        result = code;
    return result;
}

extern "C" void API_Finalize(void)
{
    const uint32_t started = i_API_Initialized;
    if (started & API_INIT_BUZZER)
        API_Buzzer_Cleanup();
    if (started & API_INIT_DISPLAY) {
        API_Display_Cleanup();
        API_Display_Close();
    }
    if (started & API_INIT_MMI)
        API_MMI_Cleanup();
    if (started & API_INIT_NOR)
        API_NOR_Cleanup();
    if (started & API_INIT_GSM)
        API_GSM_Cleanup();
    if (started & API_INIT_BLUETOOTH)
        API_Bluetooth_Cleanup();
    if (started & API_INIT_EXTENDER)
        API_Extender_Cleanup();
    if (started & API_INIT_USB_SERIAL)
        API_Usbserial_Cleanup();
    if (started & API_INIT_USB)
        API_USB_Cleanup();
    if (started & API_INIT_SIGNALS)
        API_Signal_Cleanup();
    // No task of the API outlives it, whoever started it: with the signals
    // off no new power event comes, and the PMU is closed below.
    API_PM_StopTask();
    API_PART_StopTask();
    if (started & API_INIT_SPI)
        API_SPI_Finalize();
    // The watchdog stays as the application armed it: closing it without the
    // magic character would let the board reboot after the time-out, and
    // disarming it would end a protection the application may still want.
    // Whoever armed it through the start-up feeds, disarms and closes it.

    // Reset after closing: a later shut-down must not close a descriptor
    // number that has since been given to someone else.
    if (ifd_pps != 0) {
        Board_Close(ifd_pps);
        ifd_pps = 0;
    }
    if (int fd = sigiofd.exchange(0))
        Board_Close(fd);
    // Application threads may still be at a PMU query: the descriptor is
    // taken away under the bus lock they use.
    pthread_mutex_lock(&s_spi_mutex);
    int pmu = ifd_pmu.exchange(0);
    pthread_mutex_unlock(&s_spi_mutex);
    if (pmu != 0)
        Board_Close(pmu);

    for (int row = 0; row < API_DEVNAME_SERIAL_COUNT; ++row) {
        API_Debug_SetSerialLog(a_devnames[row].number, 0);
        API_Debug_SetSerialDump(static_cast<unsigned>(a_devnames[row].number), 0);
    }

    i_API_Initialized = 0;
    b_IsInitialized = 0;
    Board_Unlink(s_lock_file);
}

extern "C" int API_IsInitialized(int mask)
{
    const uint32_t wanted = static_cast<uint32_t>(mask);
    return (i_API_Initialized & wanted) == wanted ? 1 : 0;
}
