/** @file
 * The whole device API: every unit's public declarations. */
#ifndef API_H
#define API_H

#include "API_Bluetooth.h"
#include "API_Buzzer.h"
#include "API_Debug.h"
#include "API_Display.h"
#include "API_Errors.h"
#include "API_Ethernet.h"
#include "API_Extender.h"
#include "API_GNSS.h"
#include "API_GSM.h"
#include "API_Init.h"
#include "API_MMI.h"
#include "API_NOR.h"
#include "API_PART.h"
#include "API_PM.h"
#include "API_SPI.h"
#include "API_SYS.h"
#include "API_Serial_EXTUHF.h"
#include "API_Signal.h"
#include "API_UHF_RX_PacificCrest.h"
#include "API_USBDevice.h"
#include "API_Uart.h"
#include "API_Usbserial.h"
#include "API_Watchdog.h"

#endif
