// The SPI bus lock: the innermost lock of the API.
#ifndef API_INTERNAL_SPI_H
#define API_INTERNAL_SPI_H

#include <pthread.h>

extern pthread_mutex_t s_spi_mutex;

// The short pause some PMU exchanges need between request and reply (and
// between two requests); taken through the board's sleep.
void API_SPI_PauseMicroseconds(unsigned microseconds);

#endif
