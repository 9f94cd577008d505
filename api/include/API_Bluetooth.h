/* Bluetooth module: one serial-port-profile link, driven by text commands over
 * interface 3, with a receive task that moves the remote's data into a ring. */
#ifndef API_BLUETOOTH_H
#define API_BLUETOOTH_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Longest command line accepted by s_BluetoothSendCmd, without its line feed. */
#define API_BLUETOOTH_COMMAND_MAX 510
/* Longest name, PIN, class and version texts (the buffers of the get
 * operations are one byte longer). */
#define API_BLUETOOTH_NAME_MAX 63
#define API_BLUETOOTH_PIN_MAX 15
#define API_BLUETOOTH_TYPE_MAX 15
#define API_BLUETOOTH_VERSION_MAX 15

/* NOR parameter area entries of the unit. */
#define API_BLUETOOTH_NOR_ENCRYPTION 0x39186 /* 1 byte, "0" or "1" */
#define API_BLUETOOTH_NOR_PIN 0x39187        /* 16 bytes, zero-padded text */
#define API_BLUETOOTH_NOR_ADDRESS 0x39198    /* 6 bytes */

/* Start-up: interface 3 at 115200 bit/s, the receive task, slave mode and the
 * serial-port server.  Both names do the same. */
int API_Bluetooth_Initialize(void);
int API_Bluetooth_Init(void);
/* Stops the receive task, releases the ring and closes interface 3. */
int API_Bluetooth_Cleanup(void);

int API_Bluetooth_EnableSlaveMode(void);
/* enable non-zero opens the serial-port profile, zero closes it. */
int API_Bluetooth_StartServer(int enable);
/* Hardware reset through the PMU; the module announces itself again. */
int API_Bluetooth_Reset(void);

/* The callback runs on the receive task each time a link comes up or data
 * mode is resumed after a command exchange. */
int API_Bluetooth_ConnectedCallback(void (*callback)(void));
/* 1 while a link is up in data mode, else 0. */
int API_Bluetooth_CheckCnxStatus(void);
/* Blocks until data is there or the link ends; *count gets the bytes copied. */
int API_Bluetooth_ReadData(char *buffer, int size, int *count);
int API_Bluetooth_WriteData(const char *data, int length, int *written);

/* Settings.  The get operations answer from a cache once the module's
 * settings listing has been read completely. */
int API_Bluetooth_GetVersion(char *buffer, int *length);
int API_Bluetooth_SetDeviceName(const char *name);
int API_Bluetooth_GetDeviceName(char *buffer, int *length);
int API_Bluetooth_GetType(char *buffer, int *length);
int API_Bluetooth_SetPIN(const char *pin);
int API_Bluetooth_GetPIN(char *buffer, int *length);
int API_Bluetooth_EnablePINRequest(int enable);
int API_Bluetooth_EnableEncryption(int enable);
int API_Bluetooth_GetMACAddress(unsigned char *address);
int API_Bluetooth_SetMACAddress(unsigned char *address);

/* The raw command entry: sends one command line (escaping a live link first).
 * "DEBUG" switches on a line per received chunk; "END" resumes an
 * interrupted link.  The caller serialises it with the unit's other commands. */
int s_BluetoothSendCmd(const char *command);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
