// The SPI bus lock: the innermost lock of the API.
#ifndef API_INTERNAL_SPI_H
#define API_INTERNAL_SPI_H

#include <pthread.h>

extern pthread_mutex_t s_spi_mutex;

// API_SPI_SendRecv on the power-management unit's descriptor, taken under
// the bus lock.
int API_SPI_PmuSendRecv(unsigned char command, unsigned char parameter);

// The short pause some PMU exchanges need between request and reply (and
// between two requests); taken through the board's sleep.
void API_SPI_PauseMicroseconds(unsigned microseconds);

#endif
