// The GPIO driver descriptor, opened by the signal unit and shared with the
// units that make GPIO requests.
#ifndef API_INTERNAL_SIGNAL_H
#define API_INTERNAL_SIGNAL_H

extern int sigiofd;

#endif
