// The GPIO extender's descriptor, for the start-up and shut-down paths.
#ifndef API_INTERNAL_EXTENDER_H
#define API_INTERNAL_EXTENDER_H

extern int fd_extender;

#endif
