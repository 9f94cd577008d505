// State of the watchdog unit, for its reset between tests.
#ifndef API_INTERNAL_WATCHDOG_H
#define API_INTERNAL_WATCHDOG_H

// "/dev/watchdog", 0 while not open.
extern int i_wd_fd;
// Seconds handed to the driver; 60 until an arm gives another.
extern int i_timeout;
// 1 while armed by the API.
extern int b_Watch_Flag;
// 1 once disarmed: the magic character is the last byte the driver got, and
// no feed may follow it before the close.
extern int b_Watch_Disarmed;

#endif
