// Error texts are part of the interface: every one is checked byte for byte,
// leading and trailing blanks included.
#include <string.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "API_Errors.h"

namespace {

// Index = code.
const char *const kTexts[] = {
    "No Error",
    "Unable to find a corresponding error message",
    "Invalid TTY number passed to function",
    "Error Opening File",
    "Error Closing File",
    "Error Creating File",
    "Error Allocation Failed",
    "Error Invalid Parameters",
    "Function not implemented",
    "Char conversion out of 0-9",
    "Error opening Uart",
    "Error closing Uart",
    "Error writing to Uart",
    "Error reading from Uart",
    "Error in Uart ioctl",
    "Error setting Uart config",
    "Error getting Uart config",
    "Error setting Uart baudrate",
    "Error getting Uart baudrate",
    "Error in setting Timer for UART",
    "Error opening Watchdog",
    "Error Setting Watchdog Timeout",
    "Error keep Watchdog Time Alive",
    "Error Watchdog Write",
    "Time Out Error",
    "Invalid timer",
    "Error reading from SPI",
    "Error writing to SPI",
    "Error if spi transmission fails",
    "Error if checksum test fails",
    "SPI message header wrong",
    " Failed to get priority of process",
    " Failed to set priority of process",
    "PPS Call back function set to NULL",
    "Invalid Pin Level settings for GNSS",
    "Error opening PMU device descriptor",
    "Invalid Command returned by PMU, query failed",
    "No battery",
    "PMU Call back function set to NULL",
    "PMU thread creation error",
    "PMU semaphore creation error",
    "Unable to open PPS device descriptor",
    "Error while Bluetooth Initialization",
    "Unable to open Bluetooth file descriptor",
    "Error writing to Bluetooth",
    "Error reading from Bluetooth",
    "Bluetooth Encryption Fail",
    "Failed to set Bluetooth profile",
    "Bluetooth Call back function set to NULL",
    "Remote Bluetooth Connection disconnected",
    "Bluetooth Module Not Ready",
    "Bluetooth Module Invalid Mode",
    "Bluetooth Task Creation Failure",
    "Bluetooth Semaphore Creation Failure",
    "Error Resetting Display",
    "Error Initializing Display",
    "Unable to open file /dev/display",
    "Unable to Set/Clear Pixel",
    "Invalid Rectangle Coordinates",
    "Undefined pixel coordinates",
    "Invalid Character",
    "Invalid Font Size",
    "Unable to allocate memory",
    "User character already defined",
    "Unable to open /proc/pushbutton",
    "Unable to read /proc/pushbutton",
    "Unable to open /dev/pushbutton",
    "Unable to read /dev/pushbutton",
    "Unable to ioctl /dev/pushbutton",
    "Error while reading NOR Flash",
    "Error during Pushbutton API initializaion",
    "Error during Pushbutton API cleanup",
    "Error during USB API initializaion",
    "Error during USB API cleanup",
    "Current device mode is not USB_Mode_None",
    "Invalid device mode",
    "Failed to create USB task",
    "NOR Flash Initialization failed ",
    "NOR Flash cleanup failed ",
    "Invalid NOR Flash address ",
    "NOR Flash seek fail ",
    "Memory Allocation failed",
    "NOR Flash Read fail ",
    "NOR Flash Write fail ",
    "Unable to open GSM port ",
    "GSM Write Failed ",
    "GSm Read Failed ",
    "GSm create task Failed ",
    "GSm create semaphore Failed ",
    "GSm connexion Failed ",
    "GSM Undefined Protocol",
    " GSM pin code Error ",
    "GSM Ack Error",
    "GSM Invalid Band Settings",
    "GSM connexion already exists",
    "GSM Invalid battery charge status",
    "GSM Invalid signal status",
    "GSM Invalid service status",
    "GSM Invalid message status",
    "GSM Invalid call status",
    "GSM Invalid roam status",
    "GSM Invalid sms full status",
    "GSM Invalid phone activity status",
    "GSM Invalid init sequence status",
    "GSM Invalid network status",
    "GSM Init sequence not finished",
    "GSM invalid mode (data/command)",
    "GSM Other Error",
    "GSM Call Function is NULL",
    "GSM CSD NO Active Connection Present",
    "GSM CSD invalid csd mode",
    "GSM CSD Number Busy",
    "GSM CSD No Answer",
    "GSM CSD No Carrier",
    "GSM CSD Dial Timeout",
    "GSM PSD NO Active Connection Present",
    "GSM PSD invalid protocol (UDP/TCP)",
    "GSM PSD Invalid Access Point Name",
    "GSM PSD Invalid Login name",
    "GSM PSD Invalid Password",
    "GSM PSD Invalid parameter Length",
    "GSM PSD Failed to get APN Name",
    "GSM PSD Failed to set APN in GSM PSD Mode",
    "GSM PSD Access Point Name is not yet defined",
    "GSM PSD Failed to get User Login",
    "GSM PSD Failed to set LOGIN in GSM PSD Mode",
    "GSM PSD Login name is not yet defined",
    "GSM PSD Failed to get Login Password",
    "GSM PSD Failed to set PASSWORD in GSM PSD Mode",
    "GSM PSD Password is not yet defined",
    "GSM PSD Failed to get autodial status",
    "GSM PSD Failed to get number of redial",
    "GSM PSD Invalid IP address",
    "GSM PSD Invalid Host Name",
    "GSM PSD Read Negative Number",
    "WIP Invalid Option",
    "WIP Invalid Option Value",
    "WIP Not Enough Memory",
    "WIP Operation not allowed on Stack",
    "WIP Device Already Open",
    "WIP Network interface not available",
    "WIP Bearer Operation not allowed",
    "WIP Bearer Line Busy",
    "WIP Bearer No answer",
    "WIP Bearer No carrier",
    "WIP Bearer no SIM present",
    "WIP Bearer SIM not ready",
    "WIP Bearer GPRS network Failure",
    "WIP Bearer PPP LCP Negociation failed",
    "WIP Bearer PPP Authentification Failed",
    "WIP Bearer PPP IPCP Negociation failed",
    "WIP Bearer PPP Peer Terminates Session",
    "WIP Bearer PPP Peer No Answer to echo",
    "WIP Incoming Call refused",
    "WIP Error on Ping Channel",
    "WIP Error writing configuration in Flash",
    "WIP Error reading configuration in Flash",
    "WIP Bad Index",
    "WIP Bad State",
    "WIP Bad Port Number",
    "WIP Bad Port State",
    "WIP Option Not Supported",
    "WIP Memory Allocation Error",
    "WIP Bad Protocol",
    "WIP No More Free Socket",
    "WIP Error During Channel Creation",
    "WIP FTP Session Already Active",
    "WIP Peer Close",
    "Destination Unreachable",
    "WIP Connection Reset By Peer",
    "WIP Stack Already Started",
    "External UHF unale to Open",
    "External UHF IOCTL Failed",
    "External UHF communication Fail",
    "Invalid SerialMode for External UHF",
    "Error opening GPIO driver",
    "Error Ioctl GPIO driver",
    "Unable to open /dev/gpio ",
    "Error reading timer",
    "NOR parameter is not initialized",
    "NOR parameter invalid string",
    "Error creating mount semaphore",
    "Error creating mount task",
    "Task failed to init attributes",
    "Task failed to set stack",
    "Task failed to set scheduling",
    "Task failed to get scheduling",
    "Task failed to set scheduler",
    "Invalid Task identifier",
    "Task creation failure",
    "Required version not available",
    "SIM card is not ready",
    "SIM card is not inserted",
    "unable to open extender file descriptor",
    "Error writing to extender",
    "Error reading from extender",
    "Extender cleanup failed",
    "Extender Invalid GPIO Number (1 to 8)",
    "Can not force an Extender GPIO input value",
    "baudrate value is not supported",
    "fail to set GSM power to false",
    "fail to set GSM power to true",
    "fail to set GSM module signal to true",
    "fail to set GSM module signal to false",
    "fail to send ATE0 (echo on)",
    "ATE0 (echo on) not acknowledged",
    "fail to send AT&F0 (reset to factory setting)",
    "AT&F0 (reset to factory setting) not acknowledged",
    "fail to send AT+CFUNC=1 (start GSM firmware)",
    "AT+CFUNC=1 (start GSM firmware) not acknowledged",
    "GSM swith to command mode failed",
    "WIP Send Cmd to Start IP Stack failed",
    "WIP Send Cmd to configure IP Stack failed",
    "WIP Send Cmd to Open GPRS bearer failed",
    "WIP Send APN failed",
    "WIP Send GPRS Login failed",
    "WIP Send GPRS Password failed",
    "WIP Send Start GPRS bearer failed",
    "WIP Config Stack IP failed",
    "GSM Invalid Network Settings",
};

TEST(ErrorTexts, EveryCodeGivesItsTextExactly)
{
    ASSERT_EQ(sizeof kTexts / sizeof kTexts[0], static_cast<size_t>(API_ERR_COUNT));
    for (int code = 0; code < API_ERR_COUNT; ++code) {
        char text[100];
        memset(text, 'x', sizeof text);
        ASSERT_EQ(API_Errors_GetErrorText(code, text), 0) << code;
        EXPECT_STREQ(text, kTexts[code]) << "code " << code;
        // The documented buffer size holds the longest text.
        EXPECT_LT(strlen(text), static_cast<size_t>(API_ERROR_TEXT_SIZE)) << code;
    }
}

TEST(ErrorTexts, UnknownCodesAreWrittenInHexadecimalInTheCallersBuffer)
{
    struct Case {
        int code;
        const char *text;
    } const cases[] = {
        {220, "Unknown error code: 0xdc"},
        {255, "Unknown error code: 0xff"},
        {-1, "Unknown error code: 0xffffffff"},
    };
    for (const Case &c : cases) {
        char text[API_ERROR_TEXT_SIZE];
        EXPECT_EQ(API_Errors_GetErrorText(c.code, text), 1) << c.code;
        EXPECT_STREQ(text, c.text);
    }

    // Two threads asking at once each get the text of their own code.
    std::atomic<int> wrong{0};
    auto ask = [&wrong](const Case &c) {
        char text[API_ERROR_TEXT_SIZE];
        for (int i = 0; i < 100000; ++i) {
            API_Errors_GetErrorText(c.code, text);
            wrong += strcmp(text, c.text) != 0;
        }
    };
    std::thread first(ask, cases[0]);
    std::thread second(ask, cases[2]);
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
