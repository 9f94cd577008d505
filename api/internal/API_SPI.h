// The SPI bus lock: the innermost lock of the API.
#ifndef API_INTERNAL_SPI_H
#define API_INTERNAL_SPI_H

#include <pthread.h>

extern pthread_mutex_t s_spi_mutex;

#endif
