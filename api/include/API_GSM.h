/* Q2687H GSM/GPRS modem. */
#ifndef API_GSM_H
#define API_GSM_H

#ifdef __cplusplus
extern "C" {
#endif

/* First occurrence of the zero-terminated `pattern` within the first `length`
 * bytes of `data`; zero bytes in `data` are compared like any other byte.
 * Null when absent, when `pattern` is empty, or when it is longer than
 * `length`.  Also used by the Bluetooth unit and the firmware loader. */
char *MyStrStr(char *data, unsigned long length, char *pattern);

#ifdef __cplusplus
}
#endif

#endif
