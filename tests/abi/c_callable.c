/* Every interface of the device API called from C through the public headers,
 * against the shipped shared library: the build is the test (each name must be
 * declared with C linkage and exported).  Run without arguments it calls only
 * what touches no device. */
#define _POSIX_C_SOURCE 200809L /* siginfo_t, for the signal handlers */
#include <stdio.h>
#include <string.h>

#include "API.h"

static void on_event(void) {}
static void on_status(int status) { (void)status; }
static int on_change(int change) { return change; }
static int on_pps(void *context, unsigned int events) { return context != NULL && events != 0; }

int main(int argc, char **argv)
{
    char text[1024] = "";
    int numbers[16] = {0};
    unsigned char bytes[16] = {0};
    float level = 0.0f;
    GsmStatus status;

    (void)argv;
    memset(&status, 0, sizeof status);
    if (argc > 1) {
        /* One call of each, packed as a table. */
        /* clang-format off */
        API_Bluetooth_Initialize(); API_Bluetooth_Init(); API_Bluetooth_Cleanup(); API_Bluetooth_EnableSlaveMode();
        API_Bluetooth_StartServer(0); API_Bluetooth_Reset(); API_Bluetooth_ConnectedCallback(on_event);
        API_Bluetooth_CheckCnxStatus(); API_Bluetooth_ReadData(text, 0, numbers);
        API_Bluetooth_WriteData("0", 0, numbers); API_Bluetooth_GetVersion(text, numbers);
        API_Bluetooth_SetDeviceName("0"); API_Bluetooth_GetDeviceName(text, numbers);
        API_Bluetooth_GetType(text, numbers); API_Bluetooth_SetPIN("0"); API_Bluetooth_GetPIN(text, numbers);
        API_Bluetooth_EnablePINRequest(0); API_Bluetooth_EnableEncryption(0); API_Bluetooth_GetMACAddress(bytes);
        API_Bluetooth_SetMACAddress(bytes); s_BluetoothSendCmd("0"); API_Buzzer_Init(); API_Buzzer_Beep(0, 0);
        API_Buzzer_Cleanup(); API_Debug_SetSerialDump(0, 0); API_Debug_SetSerialLog(0, 0);
        API_Debug_GetSerialDump(numbers, numbers); API_Debug_GetSerialLog(numbers, numbers); writeLogFile(0, text, 0);
        API_Display_Reset(); API_Display_Initialize(); API_Display_Cleanup(); API_Display_Update();
        API_Display_Clear(); API_Display_SetBrightness(0); API_Display_GetPowerState(numbers);
        API_Display_SetPowerState(0); API_Display_SetPixel(0, 0, 0); API_Display_DrawLine(0, 0, 0, 0);
        API_Display_DrawRect(0, 0, 0, 0, 0); API_Display_DrawCircle(0, 0, 0); API_Display_PrintText(0, 0, 0, "0");
        API_Display_PrintText2(0, 0, "0"); API_Display_PrintText3(0, 0, 0.0f, "0");
        API_Display_SetuserCharacter(0, 0, numbers); API_Errors_GetErrorText(0, text); API_ETH_Init(on_change);
        API_ETH_GetCnxState(numbers); API_ETH_SignalHandler(); API_Extender_Init(); API_Extender_Cleanup();
        API_Extender_GetStatusGpio(0, 0, numbers); API_Extender_SetStatusGpio(0, 0, 0);
        API_Extender_SetConfigGpio(0, 0, 0); API_GNSS_GetSourceClk(numbers); API_GNSS_GetPowerState(numbers);
        API_GNSS_GetWakeupPinLevel(numbers); API_GNSS_GetBootPinLevel(numbers); API_GNSS_GetResetPinLevel(numbers);
        API_GNSS_SetPowerState(0); API_GNSS_SetWakeupPinLevel(0); API_GNSS_SetBootPinLevel(0);
        API_GNSS_SetResetPinLevel(0); API_GNSS_PPSCallback(on_pps); API_GNSS_PPSSignalHandler(text, 0);
        MyStrStr(text, 0, text); API_GSM_Initialize(); API_GSM_Cleanup(); API_GSM_SendCmd("0");
        API_GSM_SetPowerState(0); API_GSM_GetPowerState(numbers); API_GSM_Mod_ON_OFF(0);
        API_GSM_GetDCDPinLevel(numbers); API_GSM_EnterPIN("0"); API_GSM_DSCCallback(on_event);
        API_GSM_DSCSignalHandler(); API_GSM_PSD_ConnectBearer(); API_GSM_PSD_DisconnectBearer();
        API_GSM_PSD_OpenSocketByIP(0, "0", 0); API_GSM_PSD_OpenSocketByName(0, "0", 0); API_GSM_PSD_CloseSocket();
        API_GSM_PSD_WriteData(text, 0, numbers); API_GSM_PSD_ReadData(text, 0, numbers); API_GSM_PSD_GetIPConfig(0);
        API_GSM_PSD_SetIPConfig(); API_GSM_PSD_SetAPN("0"); API_GSM_PSD_SetLogin("0"); API_GSM_PSD_SetPassword("0");
        API_GSM_PSD_GetAPN(text, numbers); API_GSM_PSD_GetLogin(text, numbers); API_GSM_PSD_GetPassword(text, numbers);
        API_GSM_PSD_GetVersion(text, numbers); API_GSM_CSD_Dial("0"); API_GSM_CSD_DialWithoutCheckResult("0");
        API_GSM_CSD_CheckDialResult(0); API_GSM_CSD_HangUp(); API_GSM_CSD_SetMode(0); API_GSM_CSD_GetMode(numbers);
        API_GSM_CSD_SetAutoPickup(0); API_GSM_CSD_GetAutoPickup(numbers); API_GSM_CSD_SetAutoDial(0);
        API_GSM_CSD_GetAutoDial(numbers); API_GSM_CSD_SetReDial(0); API_GSM_CSD_GetReDial(numbers);
        API_GSM_CSD_WriteData(text, 0, numbers); API_GSM_CSD_ReadData(text, 0, numbers); API_GSM_GetStatus(&status);
        API_GSM_GetSignalStrength(numbers); API_GSM_GetLevel(&level); API_GSM_GetNetworkReceived(numbers, text);
        API_GSM_GetNetworkSelected(numbers); API_GSM_GetBand(numbers); API_GSM_GetProtocol(numbers);
        API_GSM_GetIMEI(text, numbers); API_GSM_GetVersion(text, numbers, text, numbers); API_GSM_SetBand(0, 0);
        API_GSM_SetNetwork(0); API_GSM_SetProtocol(0); API_Initialize(0); API_Finalize(); API_IsInitialized(0);
        API_RevertAPIConfigToDefault(); create_config_file(); make_device_descriptors(); API_MMI_Init();
        API_MMI_Cleanup(); API_MMI_IsRecordPressed(numbers); API_MMI_IsScrollPressed(numbers);
        API_MMI_WasRecordPressedOnBoot(numbers); API_MMI_WasScrollPressedOnBoot(numbers); API_NOR_Init();
        API_NOR_Cleanup(); API_Flash_WriteData(0, "0", 0, numbers); API_Flash_ReadData(0, text, 0, numbers);
        API_Flash_APIWriteData(0, text, 0, numbers); API_Flash_APIReadData(0, text, 0, numbers);
        API_NOR_Check_Blank_Param("0", 0); API_NOR_Check_String_Param("0", 0); API_RevertTS9ToDefault();
        API_PART_Data_Mount(0); API_PART_Data_IsReady(); API_PM_Initialize(); API_PM_StatusCallback(on_status);
        API_PM_EnablePowerEvents(); API_PM_RemoteShutdown(); API_PM_NotifyUser(); API_PM_SignalHandler();
        API_PM_GetTemperature(&level); API_PM_GetChargeStatus(0, numbers); API_PM_GetPowerLevel(0, &level, &level);
        API_PM_GetPowerSource(numbers); API_SPI_Initialize(); API_SPI_Finalize(); API_SPI_Sendmsg(0, 0, 0);
        API_SPI_Receivemsg(0, bytes, 0); API_SPI_SendRecv(0, 0, 0); API_Sleep(0); API_SYS_CreateTask(0, 0);
        API_SYS_AutoStart(0); API_EXTUHF_SetSerialMode(0); API_EXTUHF_GetSerialMode(numbers); API_Signal_Initialize();
        API_Signal_Cleanup(); SIGUSR2_handler(0, NULL, text); SIGIO_handler(0, NULL, text);
        API_UHF_RX_PacificCrest_TurnOn(0); API_USB_Initialize(); API_USB_Cleanup(); API_USB_Init(on_status);
        API_USB_SetDeviceMode(0); API_USB_GetDeviceMode(numbers); API_USB_GetDeviceState(numbers);
        API_USB_GetHostState(numbers); API_USB_DeviceSignalHandler(); API_USB_HostSignalHandler(); API_UartOpen(0, 0);
        API_UartClose(0); API_UartRead(0, text, 0); API_UartWrite(0, text, 0); API_UartSetBaudRate(0, 0);
        API_UartGetBaudRate(0, numbers); API_UartSetConfig(0, numbers); API_UartGetConfig(0, numbers);
        API_Usbserial_Initialize(); API_Usbserial_Init(on_change); API_Usbserial_Cleanup();
        API_Usbserial_GetState(numbers); API_Usbserial_SetBaudRate(0, 0); API_Usbserial_GetBaudRate(0, numbers);
        API_Usbserial_Read(0, text, 0); API_Usbserial_Write(0, text, 0); API_Usbserial_SignalHandler();
        API_Watchdog_Init(0, 0); API_Watchdog_Restart(); API_Watchdog_Stop();
        /* clang-format on */
    }
    if (API_Errors_GetErrorText(API_ERR_OPEN_PPS, text) != 0 ||
        strcmp(text, "Unable to open PPS device descriptor") != 0 || API_IsInitialized(API_INIT_GSM) != 0 ||
        MyStrStr("a\0bc", 4, "bc") == NULL) {
        puts("the shared library answers wrongly");
        return 1;
    }
    return 0;
}
