/** @file
 * GSM modem services: packet data (GPRS bearer and one socket), circuit-
 * switched data calls, status queries and settings.  Included by API_GSM.h.
 *
 * Results are written through the pointer arguments on success.  Besides the
 * codes each operation names, a null pointer argument gives
 * ::API_ERR_INVALID_PARAMETERS and a failed command the code of the command
 * channel (API_GSM.h).  While a socket or a call is up, each modem operation
 * escapes to command mode (1 s of silence) and returns to data mode
 * afterwards; payload pauses meanwhile. */
#ifndef API_GSM_SERVICES_H
#define API_GSM_SERVICES_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** @name Sizes of the texts the queries hand out, terminator included
 * A caller's buffer of this size always holds the whole text. */
/** @{ */
#define API_GSM_OPERATOR_NAME_SIZE 64 /**< operator name, quotes included */
#define API_GSM_IMEI_SIZE 16          /**< IMEI, 15 digits */
#define API_GSM_VERSION_SIZE 6        /**< firmware version "d.ddd" */
#define API_GSM_MODULE_SIZE 20        /**< module name, e.g. "Q2687H" */
#define API_GSM_WIP_VERSION_SIZE 64   /**< IP stack version */
/** @} */

/** @name Longest texts accepted for the packet-data parameters */
/** @{ */
#define API_GSM_PSD_APN_MAX 96      /**< access point name */
#define API_GSM_PSD_LOGIN_MAX 63    /**< login */
#define API_GSM_PSD_PASSWORD_MAX 63 /**< password */
/** @} */

/** @name NOR parameter area addresses of the GSM settings */
/** @{ */
#define API_GSM_NOR_BAND 0x39001        /**< band, one digit */
#define API_GSM_NOR_PROTOCOL 0x39002    /**< protocol, one digit */
#define API_GSM_NOR_AUTO_PICKUP 0x39003 /**< automatic pick-up, one digit */
#define API_GSM_NOR_AUTO_DIAL 0x39004   /**< automatic dialling, one digit */
#define API_GSM_NOR_REDIAL 0x39005      /**< redial count, one digit */
#define API_GSM_NOR_APN 0x39006         /**< access point name */
#define API_GSM_NOR_LOGIN 0x39106       /**< login */
#define API_GSM_NOR_PASSWORD 0x39146    /**< password */
#define API_GSM_NOR_NETWORK 0x39440     /**< network mode, one digit */
/** @} */

/* ---- Packet data ------------------------------------------------------- */

/** @name Socket protocols of the open operations */
/** @{ */
#define API_GSM_PSD_TCP 0 /**< TCP client */
#define API_GSM_PSD_UDP 1 /**< UDP */
/** @} */

/** Starts the modem's IP stack and the GPRS bearer with the stored access
 * point name, login and password.  Leaves the line in command mode.
 * @return 0; ::API_ERR_GSM_PSD_APN_NOT_DEFINED,
 *   ::API_ERR_GSM_PSD_LOGIN_NAME_NOT_YET_DEFINED or
 *   ::API_ERR_GSM_PSD_PASSWORD_NOT_YET_DEFINED while one is not set;
 *   ::API_ERR_GSM_CONNEXION_ALREADY_EXISTS while a socket or call is up. */
int API_GSM_PSD_ConnectBearer(void);
/** Stops the bearer and the IP stack.
 * @return 0, also at once when the bearer is down. */
int API_GSM_PSD_DisconnectBearer(void);
/** Opens socket 1 towards a peer given by address, bringing the bearer up
 * when needed, and enters data mode.
 * @param protocol ::API_GSM_PSD_TCP or ::API_GSM_PSD_UDP.
 * @param address the peer's IP address, dotted.
 * @param port the peer's port.
 * @return 0; ::API_ERR_GSM_CONNEXION_ALREADY_EXISTS while a socket or call is up
 *   (it is left as it was); ::API_ERR_GSM_PSD_INVALID_PROTOCOL;
 *   ::API_ERR_GSM_PSD_INVALID_IP_ADDRESS for null; the codes of
 *   API_GSM_PSD_ConnectBearer. */
int API_GSM_PSD_OpenSocketByIP(unsigned protocol, const char *address, int port);
/** Opens socket 1 towards a peer given by host name, as
 * API_GSM_PSD_OpenSocketByIP.
 * @param protocol ::API_GSM_PSD_TCP or ::API_GSM_PSD_UDP.
 * @param host the peer's host name.
 * @param port the peer's port.
 * @return as API_GSM_PSD_OpenSocketByIP, with ::API_ERR_GSM_PSD_INVALID_HOST_NAME
 *   for null. */
int API_GSM_PSD_OpenSocketByName(unsigned protocol, const char *host, int port);
/** Closes socket 1.
 * @return 0, also when there is none (with a note on standard output). */
int API_GSM_PSD_CloseSocket(void);
/** Sends payload on the socket.
 * @param data the bytes.
 * @param length their count.
 * @param[out] written the bytes written; 0 on every refusal.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for a negative length;
 *   ::API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT without a socket;
 *   ::API_ERR_GSM_INVALID_MODE while the line is being switched or the socket
 *   closed; ::API_ERR_GSM_WRITE for a short write. */
int API_GSM_PSD_WriteData(const void *data, int length, int *written);
/** Takes received bytes, blocking until at least one is there.
 * @param[out] destination receives the bytes.
 * @param wanted at most this many.
 * @param[out] received the bytes copied.
 * @return 0; ::API_ERR_GSM_CONNEXION once the stream has ended and everything
 *   was read; ::API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT without a socket;
 *   ::API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER for a negative count. */
int API_GSM_PSD_ReadData(char *destination, int wanted, int *received);
/** Probe of the IP stack's state; it reports its status only.
 * @param option the stack option asked about.
 * @return 0, or a code of the command channel. */
int API_GSM_PSD_GetIPConfig(int option);
/** Probe of the IP stack's configuration; it reports its status only.
 * @return 0, or a code of the command channel. */
int API_GSM_PSD_SetIPConfig(void);

/** Stores the access point name.  The store keeps letters, digits, blank,
 * '-', '.', '@' and '_' only.
 * @param apn at most ::API_GSM_PSD_APN_MAX characters.
 * @return 0; ::API_ERR_GSM_PSD_INVALID_ACCESS_POINT_NAME for null, too long or
 *   other characters; ::API_ERR_GSM_PSD_SET_APN when it cannot be stored. */
int API_GSM_PSD_SetAPN(const char *apn);
/** Stores the login, as API_GSM_PSD_SetAPN.
 * @param login at most ::API_GSM_PSD_LOGIN_MAX characters.
 * @return 0; ::API_ERR_GSM_PSD_INVALID_LOGIN_NAME; ::API_ERR_GSM_PSD_SET_LOGIN. */
int API_GSM_PSD_SetLogin(const char *login);
/** Stores the password, as API_GSM_PSD_SetAPN.
 * @param password at most ::API_GSM_PSD_PASSWORD_MAX characters.
 * @return 0; ::API_ERR_GSM_PSD_INVALID_PASSWORD; ::API_ERR_GSM_PSD_SET_PASSWORD. */
int API_GSM_PSD_SetPassword(const char *password);
/** The stored access point name, in two calls.
 * @param[out] destination null: the field's size goes to `*length`; else
 *   `*length` bytes that receive the text, cut to fit and terminated.
 * @param[in,out] length see `destination`.
 * @return 0; ::API_ERR_GSM_PSD_APN_NOT_DEFINED while it is not set;
 *   ::API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH; ::API_ERR_GSM_PSD_GET_APN_NAME
 *   when it cannot be read. */
int API_GSM_PSD_GetAPN(char *destination, int *length);
/** The stored login, as API_GSM_PSD_GetAPN.
 * @param[out] destination null, or `*length` bytes.
 * @param[in,out] length see API_GSM_PSD_GetAPN.
 * @return 0; ::API_ERR_GSM_PSD_LOGIN_NAME_NOT_YET_DEFINED;
 *   ::API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH; ::API_ERR_GSM_PSD_GET_USER_LOGIN. */
int API_GSM_PSD_GetLogin(char *destination, int *length);
/** The stored password, as API_GSM_PSD_GetAPN.
 * @param[out] destination null, or `*length` bytes.
 * @param[in,out] length see API_GSM_PSD_GetAPN.
 * @return 0; ::API_ERR_GSM_PSD_PASSWORD_NOT_YET_DEFINED;
 *   ::API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH;
 *   ::API_ERR_GSM_PSD_GET_LOGIN_PASSWORD. */
int API_GSM_PSD_GetPassword(char *destination, int *length);
/** The IP stack's version text, known after a first bearer start.
 * @param[out] destination at most ::API_GSM_WIP_VERSION_SIZE bytes.
 * @param[out] length the text's size with its terminator.
 * @return 0, or ::API_ERR_REQUIRED_VERSION_NOT_AVAILABLE before a bearer
 *   start. */
int API_GSM_PSD_GetVersion(char *destination, int *length);

/* ---- Circuit-switched data calls ---------------------------------------- */

/** Dials and waits up to 30 s for the call; a connected call is in data mode.
 * @param number at most 1019 characters.
 * @return 0; ::API_ERR_GSM_CSD_NUMBER_BUSY; ::API_ERR_GSM_CSD_NO_ANSWER;
 *   ::API_ERR_GSM_CSD_NO_CARRIER; ::API_ERR_GSM_CSD_DIAL_TIMEOUT when given up
 *   (the call is hung up). */
int API_GSM_CSD_Dial(const char *number);
/** Dials and returns; API_GSM_CSD_CheckDialResult then tells the result.
 * @param number at most 1019 characters.
 * @return 0, or a code of the command channel. */
int API_GSM_CSD_DialWithoutCheckResult(const char *number);
/** One look at the result of API_GSM_CSD_DialWithoutCheckResult.
 * @param give_up not 0 hangs up when the call is not connected yet.
 * @return 0 connected; ::API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT not yet;
 *   ::API_ERR_GSM_CSD_DIAL_TIMEOUT when given up; the results of
 *   API_GSM_CSD_Dial. */
int API_GSM_CSD_CheckDialResult(int give_up);
/** Ends the call.
 * @return 0, or a code of the command channel. */
int API_GSM_CSD_HangUp(void);
/** Sets and stores the bearer type.
 * @param index 0 to 15, for the data rates 0 to 7, 12, 14, 65, 66, 68, 70, 71
 *   and 75.
 * @return 0, or ::API_ERR_GSM_CSD_INVALID_CSD_MODE for other indices. */
int API_GSM_CSD_SetMode(unsigned index);
/** The modem's bearer type.
 * @param[out] index 0 to 15.
 * @return 0, or a code of the command channel. */
int API_GSM_CSD_GetMode(int *index);
/** Sets and stores automatic pick-up.
 * @param on 1 answers at the first ring, any other value after five.
 * @return 0, or a code of the command channel. */
int API_GSM_CSD_SetAutoPickup(int on);
/** The modem's automatic pick-up.
 * @param[out] on 1 or 0.
 * @return 0, or a code of the command channel. */
int API_GSM_CSD_GetAutoPickup(int *on);
/** Stores automatic dialling; when on, the first number of the SIM phonebook
 * is dialled at once.
 * @param on 0 off, any other value on.
 * @return 0; the codes of API_Flash_WriteData; the results of
 *   API_GSM_CSD_Dial. */
int API_GSM_CSD_SetAutoDial(int on);
/** The stored automatic dialling.
 * @param[out] on 1 or 0.
 * @return 0, or ::API_ERR_GSM_PSD_GET_AUTODIAL_STATUS when it cannot be read. */
int API_GSM_CSD_GetAutoDial(int *on);
/** Stores the redial count and redials the last number up to that many times
 * until it connects.
 * @param count 0 to 9.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for another count; the results of
 *   API_GSM_CSD_Dial. */
int API_GSM_CSD_SetReDial(int count);
/** The stored redial count.
 * @param[out] count 0 to 9.
 * @return 0, or ::API_ERR_GSM_PSD_GET_NUMBER_REDIAL when it cannot be read. */
int API_GSM_CSD_GetReDial(int *count);
/** Sends payload on the connected call, as API_GSM_PSD_WriteData.
 * @param data the bytes.
 * @param length their count.
 * @param[out] written the bytes written.
 * @return as API_GSM_PSD_WriteData, with
 *   ::API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT without a call. */
int API_GSM_CSD_WriteData(const void *data, int length, int *written);
/** Takes received bytes of the call, as API_GSM_PSD_ReadData.
 * @param[out] destination receives the bytes.
 * @param wanted at most this many.
 * @param[out] received the bytes copied.
 * @return as API_GSM_PSD_ReadData, with
 *   ::API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT without a call. */
int API_GSM_CSD_ReadData(char *destination, int wanted, int *received);

/* ---- Status ------------------------------------------------------------ */

/** The modem's indicators and state, filled by API_GSM_GetStatus. */
typedef struct GsmStatus {
    int phone_activity; /**< 0 to 5 */
    int init_sequence;  /**< 0 to 2, 2 finished */
    int network;        /**< 0 to 1 */
    int battery_charge; /**< 0 to 5 */
    int signal;         /**< 0 to 5 */
    int service;        /**< 0 to 1 */
    int message;        /**< 0 to 1 */
    int call;           /**< 0 to 1 */
    int roam;           /**< 0 to 1 */
    int sms_full;       /**< 0 to 2 */
} GsmStatus;

/** The modem's indicators and state.
 * @param[out] status the record; the fields read before a failing one keep
 *   their new values.
 * @return 0; ::API_ERR_GSM_CSD_NUMBER_BUSY while an incoming call rings;
 *   ::API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS to
 *   ::API_ERR_GSM_INVALID_NETWORK_STATUS for a field out of range;
 *   ::API_ERR_CHAR_NOT_DIGIT. */
int API_GSM_GetStatus(GsmStatus *status);
/** The received-signal quality.
 * @param[out] quality the modem's code: 0 to 31, 99 not detectable.
 * @return 0; ::API_ERR_CHAR_NOT_DIGIT. */
int API_GSM_GetSignalStrength(int *quality);
/** The signal level.
 * @param[out] percent 0.0 to 100.0; 0.0 while the modem is off.
 * @return 0, or the codes of API_GSM_GetSignalStrength. */
int API_GSM_GetLevel(float *percent);
/** The registered network.
 * @param[out] technology the access technology 0 to 2.
 * @param[out] operator_name null, or ::API_GSM_OPERATOR_NAME_SIZE bytes that
 *   receive the operator's name with its quotes (a longer name is cut).
 * @return 0; ::API_ERR_GSM_OTHER when no operator is registered after a few
 *   seconds; ::API_ERR_GSM_INVALID_NETWORK_SETTINGS. */
int API_GSM_GetNetworkReceived(int *technology, char *operator_name);
/** The selected network mode.
 * @param[out] mode 0, 1 or 2.
 * @return 0; ::API_ERR_GSM_INVALID_NETWORK_SETTINGS. */
int API_GSM_GetNetworkSelected(int *mode);
/** The band in use.
 * @param[out] band 0 to 6.
 * @return 0; ::API_ERR_GSM_INVALID_BAND_SETTINGS. */
int API_GSM_GetBand(int *band);
/** The modem class.
 * @param[out] protocol 0 circuit-switched only, 1 packet.
 * @return 0; ::API_ERR_GSM_UNDEFINED_PROTOCOL. */
int API_GSM_GetProtocol(int *protocol);
/** The IMEI, in two calls: a null destination queries the modem and reports
 * the size (length + 1); a destination receives the text of the last query.
 * @param[out] destination null, or ::API_GSM_IMEI_SIZE bytes.
 * @param[out] length the size.
 * @return 0, or a code of the command channel. */
int API_GSM_GetIMEI(char *destination, int *length);
/** The firmware version and the module name, in two calls as
 * API_GSM_GetIMEI.
 * @param[out] version null, or ::API_GSM_VERSION_SIZE bytes.
 * @param[out] version_length the version's size.
 * @param[out] module null, or ::API_GSM_MODULE_SIZE bytes.
 * @param[out] module_length the name's size.
 * @return 0, or a code of the command channel. */
int API_GSM_GetVersion(char *version, int *version_length, char *module, int *module_length);

/* ---- Settings (stored in the NOR parameter area) ------------------------ */

/** Sets and stores the band; restarts the modem's radio and waits until it is
 * ready again.
 * @param band 0 to 6.
 * @param option passed to the modem with the band.
 * @return 0; ::API_ERR_GSM_INVALID_BAND_SETTINGS for another band;
 *   ::API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS. */
int API_GSM_SetBand(unsigned band, int option);
/** Sets and stores the network mode; restarts like API_GSM_SetBand.
 * @param mode 0 or 2.
 * @return 0; ::API_ERR_GSM_INVALID_NETWORK_SETTINGS for another mode;
 *   ::API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS. */
int API_GSM_SetNetwork(int mode);
/** Sets and stores the modem class.
 * @param protocol 0 circuit-switched only, 1 packet.
 * @return 0; ::API_ERR_GSM_UNDEFINED_PROTOCOL for another value. */
int API_GSM_SetProtocol(int protocol);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
