// The registered PPS function, read in the SIGUSR2 handler.
#ifndef API_INTERNAL_GNSS_H
#define API_INTERNAL_GNSS_H

#include <atomic>

#include <API_GNSS.h>

extern std::atomic<API_GNSS_PPSFunction> p_FuncPtr;

#endif
