/** @file
 * Bluetooth module: one serial-port-profile link, driven by text commands over
 * interface 3, with a receive task (first-in-first-out priority 20) that moves
 * the remote's data into a 4096-byte ring.  While a link is up, a command
 * escapes to command mode and data mode is resumed afterwards.  The settings'
 * get operations answer from a cache once the module's settings listing has
 * been read completely. */
#ifndef API_BLUETOOTH_H
#define API_BLUETOOTH_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Longest command line accepted by s_BluetoothSendCmd, without its line feed. */
#define API_BLUETOOTH_COMMAND_MAX 510
/** @name Longest texts; the buffers of the get operations are one byte longer */
/** @{ */
#define API_BLUETOOTH_NAME_MAX 63    /**< device name */
#define API_BLUETOOTH_PIN_MAX 15     /**< PIN */
#define API_BLUETOOTH_TYPE_MAX 15    /**< device class */
#define API_BLUETOOTH_VERSION_MAX 15 /**< firmware version */
/** @} */

/** @name NOR parameter area entries of the unit */
/** @{ */
#define API_BLUETOOTH_NOR_ENCRYPTION 0x39186 /**< 1 byte, "0" or "1" */
#define API_BLUETOOTH_NOR_PIN 0x39187        /**< 16 bytes, zero-padded text */
#define API_BLUETOOTH_NOR_ADDRESS 0x39198    /**< 6 bytes */
/** @} */

/** Start-up (feature bit ::API_INIT_BLUETOOTH): opens interface 3 at 115200
 * bit/s, starts the receive task, puts the module into slave mode and opens
 * the serial-port server.
 * @return 0; ::API_ERR_ALLOCATION; ::API_ERR_OPEN_BLUETOOTH;
 *   ::API_ERR_SETTING_UART_BAUDRATE; ::API_ERR_BLUETOOTH_SEMAPHORE_CREATION;
 *   ::API_ERR_BLUETOOTH_MODULE_NOT_READY; the codes of
 *   API_Bluetooth_EnableSlaveMode and API_Bluetooth_StartServer. */
int API_Bluetooth_Initialize(void);
/** The same as API_Bluetooth_Initialize.
 * @return as API_Bluetooth_Initialize. */
int API_Bluetooth_Init(void);
/** Stops the receive task, releases the ring and closes interface 3.
 * @return 0. */
int API_Bluetooth_Cleanup(void);

/** The module's set-up sequence for slave mode.
 * @return 0; ::API_ERR_WRITING_BLUETOOTH; ::API_ERR_BLUETOOTH_MODULE_NOT_READY. */
int API_Bluetooth_EnableSlaveMode(void);
/** Opens or closes the serial-port profile ("Bluetooth Serial Port").
 * @param enable not 0 opens, 0 closes.
 * @return 0; ::API_ERR_WRITING_BLUETOOTH; ::API_ERR_TIME_OUT;
 *   ::API_ERR_SET_BLUETOOTH_PROFILE. */
int API_Bluetooth_StartServer(int enable);
/** Hardware reset through the PMU; the module announces itself again.
 * @return 0, or a code of the PMU link (API_SPI.h). */
int API_Bluetooth_Reset(void);

/** Registers the link callback.  It runs on the receive task each time a link
 * comes up or data mode is resumed after a command exchange.
 * @param callback the function.
 * @return 0, or ::API_ERR_BLUETOOTH_CALL_BACK_SET_NULL for null. */
int API_Bluetooth_ConnectedCallback(void (*callback)(void));
/** Whether a link is up in data mode.
 * @return 1 up, 0 not. */
int API_Bluetooth_CheckCnxStatus(void);
/** Takes received bytes, blocking until there are some or the link ends.
 * @param[out] buffer receives the bytes.
 * @param size room in `buffer`, at least 0.
 * @param[out] count the bytes copied.
 * @return 0; ::API_ERR_INVALID_PARAMETERS; ::API_ERR_BLUETOOTH_REMOTE_DISCONNECTED
 *   once the link has ended and everything was read. */
int API_Bluetooth_ReadData(char *buffer, int size, int *count);
/** Sends bytes on the link.
 * @param data the bytes.
 * @param length their count.
 * @param[out] written the bytes written.
 * @return 0; ::API_ERR_INVALID_PARAMETERS; ::API_ERR_WRITING_BLUETOOTH for a short
 *   write; ::API_ERR_BLUETOOTH_REMOTE_DISCONNECTED without a link. */
int API_Bluetooth_WriteData(const char *data, int length, int *written);

/** The module's firmware version, in two calls: a null buffer asks the module
 * ("INFO"), a buffer receives the version found by the last query.
 * @param[out] buffer null, or ::API_BLUETOOTH_VERSION_MAX + 1 bytes.
 * @param[out] length the version's length; may be null.
 * @return 0; ::API_ERR_WRITING_BLUETOOTH; ::API_ERR_TIME_OUT. */
int API_Bluetooth_GetVersion(char *buffer, int *length);
/** Sets the name the module shows.
 * @param name at most ::API_BLUETOOTH_NAME_MAX characters; null does nothing.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for a longer name;
 *   ::API_ERR_WRITING_BLUETOOTH. */
int API_Bluetooth_SetDeviceName(const char *name);
/** The module's name, from the settings listing unless cached.
 * @param[out] buffer null, or ::API_BLUETOOTH_NAME_MAX + 1 bytes.
 * @param[out] length the name's length; may be null.
 * @return 0; ::API_ERR_WRITING_BLUETOOTH; ::API_ERR_TIME_OUT. */
int API_Bluetooth_GetDeviceName(char *buffer, int *length);
/** The module's device class, as API_Bluetooth_GetDeviceName.
 * @param[out] buffer null, or ::API_BLUETOOTH_TYPE_MAX + 1 bytes.
 * @param[out] length the text's length; may be null.
 * @return as API_Bluetooth_GetDeviceName. */
int API_Bluetooth_GetType(char *buffer, int *length);
/** Sets the PIN, requires it from remotes, and stores it in the NOR parameter
 * area.
 * @param pin at most ::API_BLUETOOTH_PIN_MAX characters; null does nothing.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for a longer PIN;
 *   ::API_ERR_WRITING_BLUETOOTH; the codes of API_Flash_WriteData. */
int API_Bluetooth_SetPIN(const char *pin);
/** The PIN, as API_Bluetooth_GetDeviceName.
 * @param[out] buffer null, or ::API_BLUETOOTH_PIN_MAX + 1 bytes.
 * @param[out] length the PIN's length; may be null.
 * @return as API_Bluetooth_GetDeviceName. */
int API_Bluetooth_GetPIN(char *buffer, int *length);
/** Requires the PIN from remotes, or not; nothing is stored.
 * @param enable not 0 requires it.
 * @return 0, or ::API_ERR_WRITING_BLUETOOTH. */
int API_Bluetooth_EnablePINRequest(int enable);
/** As API_Bluetooth_EnablePINRequest, and stores the choice in the NOR
 * parameter area.
 * @param enable not 0 requires the PIN.
 * @return 0; ::API_ERR_WRITING_BLUETOOTH; the codes of API_Flash_WriteData. */
int API_Bluetooth_EnableEncryption(int enable);
/** The module's address, from the settings listing unless cached.
 * @param[out] address 6 bytes.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_WRITING_BLUETOOTH;
 *   ::API_ERR_TIME_OUT. */
int API_Bluetooth_GetMACAddress(unsigned char *address);
/** Stores the module's address in the NOR parameter area: `address` is first
 * overwritten with the module's own when the listing can be read; the
 * module's address itself does not change.
 * @param[in,out] address 6 bytes.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; the codes of
 *   API_Flash_WriteData. */
int API_Bluetooth_SetMACAddress(unsigned char *address);

/** The raw command entry: sends one command line, escaping a live link
 * first.  "DEBUG" switches on a line per received chunk and "END" resumes an
 * interrupted link; neither is sent.  The caller serialises it with the
 * unit's other commands.
 * @param command at most ::API_BLUETOOTH_COMMAND_MAX characters.
 * @return 0; ::API_ERR_INVALID_PARAMETERS; ::API_ERR_WRITING_BLUETOOTH;
 *   ::API_ERR_BLUETOOTH_MODULE_INVALID_MODE. */
int s_BluetoothSendCmd(const char *command);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
