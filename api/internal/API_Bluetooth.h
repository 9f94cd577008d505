// State of the Bluetooth unit shared between its command side, its receive
// task and the tests.  The flags and indices are written by the task and by
// the command side without a common lock, hence atomic.
#ifndef API_INTERNAL_BLUETOOTH_H
#define API_INTERNAL_BLUETOOTH_H

#include <pthread.h>
#include <semaphore.h>

#include <atomic>

#include "API_Bluetooth.h"

// The unit's names are those of the GSM unit's answer buffer and ring too,
// hence a namespace of their own.
namespace bt {

constexpr int BT_BUFFER_SIZE = 4096;
constexpr int BT_RING_SIZE = 4096;

// Answers received in command mode since the last command was sent.
extern char Buffer_Cmd[BT_BUFFER_SIZE];
extern std::atomic<int> Buffer_Cmd_Length;

extern std::atomic<int> b_ConnectionStatus;
extern std::atomic<int> b_RestaureDataMode;
extern std::atomic<int> b_switchToCommandModeRequested;
extern std::atomic<int> b_switchToDataModeRequested;
extern std::atomic<int> b_BTDebug;
extern std::atomic<int> b_ExitDataMode;
extern std::atomic<int> b_BT_WaitForData;

// Incoming data ring: empty when the indices are equal, at most 4095 unread bytes.
extern std::atomic<int> i_WPtr;
extern std::atomic<int> i_RPtr;
extern sem_t sem_bt_id;
extern std::atomic<void (*)(void)> p_btcallback;
extern pthread_t bt_thread_id;

// Settings cache, filled from the module's settings listing.
extern char a_DeviceName[API_BLUETOOTH_NAME_MAX + 1];
extern int i_DevNameLength;
extern char a_Type[API_BLUETOOTH_TYPE_MAX + 1];
extern int i_DevTypeLength;
extern unsigned char a_MACAddress[6];
extern char a_PinCode[API_BLUETOOTH_PIN_MAX + 1];
extern int i_PinCodeLength;
extern char a_Version[API_BLUETOOTH_VERSION_MAX + 1];
extern int b_GotDevName;
extern int b_GotDevType;
extern int b_GotMacAddress;
extern int b_GotPinCode;
extern int b_GotProfile;
extern int b_EnablePinRequest;
extern int b_GotBTParameters;

}  // namespace bt

extern pthread_mutex_t Bluetooth_mutex;

int s_BluetoothGetAnswer(const char *pattern, int seconds);
int s_BTDataMode(void);
int s_BluetoothGetParameters(int refresh);

#endif
