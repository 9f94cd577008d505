// GPIO extender: two 8-line ports behind "/dev/extender", one register access
// per driver call, each under the SPI bus lock.
#include "API_Extender.h"

#include <fcntl.h>
#include <pthread.h>

#include "API_Errors.h"
#include "board.h"
#include "internal/API_Extender.h"
#include "internal/API_SPI.h"

int fd_extender = 0;

namespace {

constexpr unsigned char kDirectionA = 0x00;
constexpr unsigned char kDirectionB = 0x01;
constexpr unsigned char kLevelsA = 0x12;
constexpr unsigned char kLevelsB = 0x13;
// Port A line 2 is the extender's only input.
constexpr unsigned char kInitialDirectionA = 0x02;
constexpr unsigned char kInitialDirectionB = 0x00;

unsigned char s_DirectionRegister(int port_a) { return port_a ? kDirectionA : kDirectionB; }
unsigned char s_LevelRegister(int port_a) { return port_a ? kLevelsA : kLevelsB; }
bool s_ValidLine(unsigned char line) { return line >= 1 && line <= 8; }

// Line n is bit n - 1; callers have checked n is 1 to 8.
unsigned char set_bit_on(unsigned char line, unsigned char value)
{
    return static_cast<unsigned char>(value | (1u << (line - 1)));
}

unsigned char set_bit_off(unsigned char line, unsigned char value)
{
    return static_cast<unsigned char>(value & ~(1u << (line - 1)));
}

int get_bit_val(unsigned char line, unsigned char value) { return (value >> (line - 1)) & 1; }

// After a clean-up the descriptor is 0: never let a register access reach
// standard input or a descriptor that has since been reused.
bool s_Open() { return fd_extender > 0; }

// The driver takes the register number in the buffer and returns its value there.
int read_register(unsigned char reg, unsigned char *value)
{
    if (!s_Open())
        return API_ERR_READING_FROM_EXTENDER;
    unsigned char buffer = reg;
    pthread_mutex_lock(&s_spi_mutex);
    ssize_t count = Board_Read(fd_extender, &buffer, 1);
    pthread_mutex_unlock(&s_spi_mutex);
    if (count != 1)
        return API_ERR_READING_FROM_EXTENDER;
    *value = buffer;
    return API_ERR_NONE;
}

int write_register(unsigned char reg, unsigned char value)
{
    if (!s_Open())
        return API_ERR_WRITING_EXTENDER;
    const unsigned char buffer[2] = {reg, value};
    pthread_mutex_lock(&s_spi_mutex);
    ssize_t count = Board_Write(fd_extender, buffer, sizeof buffer);
    pthread_mutex_unlock(&s_spi_mutex);
    return count == 2 ? API_ERR_NONE : API_ERR_WRITING_EXTENDER;
}

// Loads a port's output latch from its pins, so outputs keep their levels
// when the directions change.
int s_LatchPins(unsigned char levelRegister)
{
    unsigned char levels;
    int result = read_register(levelRegister, &levels);
    if (result == API_ERR_NONE)
        result = write_register(levelRegister, levels);
    return result;
}

}  // namespace

extern "C" int API_Extender_Init(void)
{
    // Started twice: the first descriptor is not left open behind the second.
    if (s_Open())
        Board_Close(fd_extender);
    fd_extender = Board_Open("/dev/extender", O_RDWR, 0);
    if (fd_extender <= 0)
        return API_ERR_OPEN_EXTENDER;
    int result = s_LatchPins(kLevelsA);
    if (result == API_ERR_NONE)
        result = s_LatchPins(kLevelsB);
    if (result == API_ERR_NONE)
        result = write_register(kDirectionA, kInitialDirectionA);
    if (result == API_ERR_NONE)
        result = write_register(kDirectionB, kInitialDirectionB);
    return result;
}

extern "C" int API_Extender_Cleanup(void)
{
    if (fd_extender == 0)
        return API_ERR_NONE;
    if (Board_Close(fd_extender) != 0)
        return API_ERR_EXTENDER_CLEANUP;
    fd_extender = 0;
    return API_ERR_NONE;
}

extern "C" int API_Extender_GetStatusGpio(int port_a, unsigned char line, int *level)
{
    if (!s_ValidLine(line))
        return API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
    if (!level)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char levels;
    int result = read_register(s_LevelRegister(port_a), &levels);
    if (result == API_ERR_NONE)
        *level = get_bit_val(line, levels);
    return result;
}

extern "C" int API_Extender_SetStatusGpio(int port_a, unsigned char line, int level)
{
    if (!s_ValidLine(line))
        return API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
    unsigned char directions;
    int result = read_register(s_DirectionRegister(port_a), &directions);
    if (result != API_ERR_NONE)
        return result;
    if (get_bit_val(line, directions))
        return API_ERR_EXTENDER_INPUT_NOT_FORCEABLE;
    unsigned char levels;
    result = read_register(s_LevelRegister(port_a), &levels);
    if (result != API_ERR_NONE)
        return result;
    levels = level ? set_bit_on(line, levels) : set_bit_off(line, levels);
    return write_register(s_LevelRegister(port_a), levels);
}

extern "C" int API_Extender_SetConfigGpio(int port_a, unsigned char line, int output)
{
    if (!s_ValidLine(line))
        return API_ERR_EXTENDER_INVALID_GPIO_NUMBER;
    unsigned char directions;
    int result = read_register(s_DirectionRegister(port_a), &directions);
    if (result != API_ERR_NONE)
        return result;
    directions = output ? set_bit_off(line, directions) : set_bit_on(line, directions);
    return write_register(s_DirectionRegister(port_a), directions);
}
