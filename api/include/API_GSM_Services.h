/* GSM modem services: packet data (GPRS bearer and one socket), circuit-
 * switched data calls, status queries and settings.  Included by API_GSM.h.
 *
 * Every operation returns 0 or an API error code (API_Errors.h) and writes
 * its results through the pointer arguments on success.  While a socket or a
 * call is up, each modem operation escapes to command mode and returns to
 * data mode afterwards; payload pauses meanwhile. */
#ifndef API_GSM_SERVICES_H
#define API_GSM_SERVICES_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Sizes, terminating NUL included, of the texts the queries hand out.  A
 * caller's buffer of this size always holds the whole text. */
#define API_GSM_OPERATOR_NAME_SIZE 64 /* operator name, quotes included */
#define API_GSM_IMEI_SIZE 16
#define API_GSM_VERSION_SIZE 6      /* firmware version "d.ddd" */
#define API_GSM_MODULE_SIZE 20      /* module name, e.g. "Q2687H" */
#define API_GSM_WIP_VERSION_SIZE 64 /* IP stack version */

/* Longest texts accepted for the packet-data parameters. */
#define API_GSM_PSD_APN_MAX 96
#define API_GSM_PSD_LOGIN_MAX 63
#define API_GSM_PSD_PASSWORD_MAX 63

/* NOR parameter store addresses of the GSM settings. */
#define API_GSM_NOR_BAND 0x39001
#define API_GSM_NOR_PROTOCOL 0x39002
#define API_GSM_NOR_AUTO_PICKUP 0x39003
#define API_GSM_NOR_AUTO_DIAL 0x39004
#define API_GSM_NOR_REDIAL 0x39005
#define API_GSM_NOR_APN 0x39006
#define API_GSM_NOR_LOGIN 0x39106
#define API_GSM_NOR_PASSWORD 0x39146
#define API_GSM_NOR_NETWORK 0x39440

/* ---- Packet data ------------------------------------------------------- */

/* Socket protocols of the open operations. */
#define API_GSM_PSD_TCP 0
#define API_GSM_PSD_UDP 1

/* Starts the modem's IP stack and the GPRS bearer with the stored access
 * point name, login and password (123, 126, 129 while one is not set).  94
 * while a socket or call is up.  Leaves the line in command mode. */
int API_GSM_PSD_ConnectBearer(void);
/* Stops the bearer and the IP stack; 0 at once when the bearer is down. */
int API_GSM_PSD_DisconnectBearer(void);
/* Opens socket 1 (API_GSM_PSD_UDP or API_GSM_PSD_TCP) towards a peer given
 * by address or host name, bringing the bearer up when needed, and enters
 * data mode.  94 while a socket or call is up (it is left as it was), 116
 * for another protocol, 132 / 133 for a null address / host name. */
int API_GSM_PSD_OpenSocketByIP(unsigned protocol, const char *address, int port);
int API_GSM_PSD_OpenSocketByName(unsigned protocol, const char *host, int port);
/* Closes socket 1; 0 with a console note when there is none. */
int API_GSM_PSD_CloseSocket(void);
/* Sends payload on the socket.  *written is 0 on every refusal: 7 for null
 * pointers or a negative length, 115 without a socket, 106 while the line is
 * being switched or the socket closed; 85 for a short write. */
int API_GSM_PSD_WriteData(const void *data, int length, int *written);
/* Takes up to `wanted` received bytes, blocking until at least one is there;
 * 89 once the stream has ended and everything was read, 115 without a
 * socket, 134 for a negative count. */
int API_GSM_PSD_ReadData(char *destination, int wanted, int *received);
/* Probes of the IP stack's state; they report their status only. */
int API_GSM_PSD_GetIPConfig(int option);
int API_GSM_PSD_SetIPConfig(void);

/* Stored parameters.  The setters refuse (117, 118, 119) a null text, one
 * longer than its maximum above, or one with characters other than letters,
 * digits, space, '-', '.', '@' and '_' (the store keeps no others). */
int API_GSM_PSD_SetAPN(const char *apn);
int API_GSM_PSD_SetLogin(const char *login);
int API_GSM_PSD_SetPassword(const char *password);
/* With a null destination: the field's size into *length (unchanged when the
 * field is unset and already marked so).  With a destination of *length
 * bytes: the text, cut to fit and always terminated.  An unset parameter
 * gives 123, 126 or 129. */
int API_GSM_PSD_GetAPN(char *destination, int *length);
int API_GSM_PSD_GetLogin(char *destination, int *length);
int API_GSM_PSD_GetPassword(char *destination, int *length);
/* The IP stack's version text (known after a first bearer start, else 190)
 * and its size with the NUL; the destination needs
 * API_GSM_WIP_VERSION_SIZE bytes at most. */
int API_GSM_PSD_GetVersion(char *destination, int *length);

/* ---- Circuit-switched data calls ---------------------------------------- */

/* Dials `number` (at most 1019 characters) and waits up to 30 s for the
 * call: 0 connected (data mode), 111 busy, 112 no answer, 113 no carrier,
 * 114 given up (the call is hung up). */
int API_GSM_CSD_Dial(const char *number);
/* Dials and returns; API_GSM_CSD_CheckDialResult then looks once: 109 not
 * connected yet, or, with `give_up` not 0, hangs up and gives 114. */
int API_GSM_CSD_DialWithoutCheckResult(const char *number);
int API_GSM_CSD_CheckDialResult(int give_up);
int API_GSM_CSD_HangUp(void);
/* Bearer type, index 0 to 15 of the data rates 0-7, 12, 14, 65, 66, 68, 70,
 * 71, 75; 110 for other indices. */
int API_GSM_CSD_SetMode(unsigned index);
int API_GSM_CSD_GetMode(int *index);
/* Automatic pick-up: 1 answers at the first ring, any other value after
 * five. */
int API_GSM_CSD_SetAutoPickup(int on);
int API_GSM_CSD_GetAutoPickup(int *on);
/* Stored flag; when not 0 the first number of the SIM phonebook is dialled
 * at once. */
int API_GSM_CSD_SetAutoDial(int on);
int API_GSM_CSD_GetAutoDial(int *on);
/* Stores the redial count (0 to 9; 7 otherwise) and redials the last number
 * up to that many times until it connects. */
int API_GSM_CSD_SetReDial(int count);
int API_GSM_CSD_GetReDial(int *count);
/* Payload of a connected call: 109 without one; otherwise as the socket's. */
int API_GSM_CSD_WriteData(const void *data, int length, int *written);
int API_GSM_CSD_ReadData(char *destination, int wanted, int *received);

/* ---- Status ------------------------------------------------------------ */

typedef struct GsmStatus {
    int phone_activity; /* 0 to 5 */
    int init_sequence;  /* 0 to 2, 2 finished */
    int network;        /* 0 to 1 */
    int battery_charge; /* 0 to 5 */
    int signal;         /* 0 to 5 */
    int service;        /* 0 to 1 */
    int message;        /* 0 to 1 */
    int call;           /* 0 to 1 */
    int roam;           /* 0 to 1 */
    int sms_full;       /* 0 to 2 */
} GsmStatus;

/* 111 while an incoming call rings (until it connects). */
int API_GSM_GetStatus(GsmStatus *status);
/* The modem's received-signal code (0 to 31, 99 not detectable). */
int API_GSM_GetSignalStrength(int *quality);
/* Signal level 0.0 to 100.0; 0.0 while the modem is off. */
int API_GSM_GetLevel(float *percent);
/* Access technology and, when `operator_name` is not null, the registered
 * operator's name with its quotes into a buffer of API_GSM_OPERATOR_NAME_SIZE
 * bytes (longer names are cut).  107 when no operator is registered after a
 * few seconds. */
int API_GSM_GetNetworkReceived(int *technology, char *operator_name);
int API_GSM_GetNetworkSelected(int *mode);
int API_GSM_GetBand(int *band);
/* 0 circuit-switched only, 1 packet. */
int API_GSM_GetProtocol(int *protocol);
/* Two calls: a null destination queries the modem and reports the size
 * (length + 1); a destination receives the text of the last query. */
int API_GSM_GetIMEI(char *destination, int *length);
int API_GSM_GetVersion(char *version, int *version_length, char *module, int *module_length);

/* ---- Settings (stored in the NOR parameter area) ------------------------ */

/* Band 0 to 6 (93 otherwise); restarts the modem's radio and waits until it
 * is ready again. */
int API_GSM_SetBand(unsigned band, int option);
/* Network mode 0 or 2 (219 otherwise); restarts like the band. */
int API_GSM_SetNetwork(int mode);
/* 0 circuit-switched only, 1 packet (90 otherwise). */
int API_GSM_SetProtocol(int protocol);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
