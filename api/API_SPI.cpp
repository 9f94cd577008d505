// The PMU link: fixed 4-byte messages through the "/dev/pmu" driver, and the
// bus lock shared with the other SPI users.
#include "API_SPI.h"

#include <errno.h>
#include <pthread.h>
#include <time.h>

#include "API_Errors.h"
#include "API_SYS.h"
#include "board.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"

pthread_mutex_t s_spi_mutex = PTHREAD_MUTEX_INITIALIZER;

namespace {

unsigned char s_Checksum(const unsigned char *message) { return message[0] ^ message[1] ^ message[2]; }

bool s_IsFailureAnswer(const unsigned char *reply)
{
    return reply[0] == 0x02 && reply[1] == 0xFF && reply[2] == 0xFF && reply[3] == 0x02;
}

// 0 is what the PMU descriptor holds before power management opened the
// device and after the shut-down: standard input, never the PMU.
bool s_IsPmu(int fd) { return fd > 0; }

// Request and acknowledgement; the caller holds s_spi_mutex.
int s_Exchange(int fd, unsigned char command, unsigned char parameter)
{
    int result = API_SPI_Sendmsg(fd, command, parameter);
    if (result == API_ERR_NONE) {
        unsigned char reply[PMU_MSG_SIZE];
        result = API_SPI_Receivemsg(fd, reply, command);
    }
    return result;
}

}  // namespace

void API_SPI_PauseMicroseconds(unsigned microseconds)
{
    timespec request;
    request.tv_sec = microseconds / 1000000;
    request.tv_nsec = static_cast<long>(microseconds % 1000000) * 1000;
    timespec remaining;
    while (Board_Nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

extern "C" int API_SPI_Initialize(void) { return API_ERR_NONE; }

extern "C" int API_SPI_Finalize(void)
{
    // The lock is never destroyed: a later restart of the API uses it
    // again, and an application thread may still be at a PMU query.  The
    // result is the one its destruction would give: EBUSY while somebody
    // holds it.
    int result = pthread_mutex_trylock(&s_spi_mutex);
    if (result == 0)
        pthread_mutex_unlock(&s_spi_mutex);
    return result;
}

extern "C" int API_SPI_Sendmsg(int fd, unsigned char command, unsigned char parameter)
{
    if (!s_IsPmu(fd))
        return API_ERR_SPI_TRANSMISSION;
    unsigned char request[PMU_MSG_SIZE] = {PMU_MSG_HEADER, command, parameter, 0};
    request[3] = s_Checksum(request);
    API_Sleep(20);
    ssize_t written;
    do {
        written = Board_Write(fd, request, sizeof request);
    } while (written < 0 && errno == EINTR);
    return written == PMU_MSG_SIZE ? API_ERR_NONE : API_ERR_WRITING_SPI;
}

extern "C" int API_SPI_Receivemsg(int fd, unsigned char *reply, unsigned char expected)
{
    if (!s_IsPmu(fd))
        return API_ERR_SPI_TRANSMISSION;
    unsigned char discarded[PMU_MSG_SIZE];
    if (!reply)
        reply = discarded;
    ssize_t count;
    do {
        count = Board_Read(fd, reply, PMU_MSG_SIZE);
    } while (count < 0 && errno == EINTR);
    if (count != PMU_MSG_SIZE)
        return API_ERR_READING_FROM_SPI;
    if (reply[3] != s_Checksum(reply))
        return API_ERR_CHECKSUM_TEST;
    if (s_IsFailureAnswer(reply))
        return API_ERR_SPI_TRANSMISSION;
    // The header byte of a normal reply is not examined.
    if (reply[1] == expected || expected == PMU_ANY_COMMAND)
        return API_ERR_NONE;
    return API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY;
}

extern "C" int API_SPI_SendRecv(int fd, unsigned char command, unsigned char parameter)
{
    pthread_mutex_lock(&s_spi_mutex);
    int result = s_Exchange(fd, command, parameter);
    pthread_mutex_unlock(&s_spi_mutex);
    return result;
}

int API_SPI_PmuSendRecv(unsigned char command, unsigned char parameter)
{
    pthread_mutex_lock(&s_spi_mutex);
    // Read under the lock the shut-down takes to close the device: never a
    // number that was closed meanwhile and may belong to somebody else now.
    int result = s_Exchange(ifd_pmu.load(), command, parameter);
    pthread_mutex_unlock(&s_spi_mutex);
    return result;
}
