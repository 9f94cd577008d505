/** @file
 * Error codes: every operation returns 0 for success or one code of the single
 * numbering below, whose text API_Errors_GetErrorText gives. */
#ifndef API_ERRORS_H
#define API_ERRORS_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** The codes, each with the text API_Errors_GetErrorText gives for it. */
enum API_ErrorCode {
    API_ERR_NONE = 0,                                     /**< "No Error" */
    API_ERR_UNKNOWN_CODE = 1,                             /**< "Unable to find a corresponding error message" */
    API_ERR_INVALID_TTY_NUMBER = 2,                       /**< "Invalid TTY number passed to function" */
    API_ERR_OPEN_FILE = 3,                                /**< "Error Opening File" */
    API_ERR_CLOSE_FILE = 4,                               /**< "Error Closing File" */
    API_ERR_CREATE_FILE = 5,                              /**< "Error Creating File" */
    API_ERR_ALLOCATION = 6,                               /**< "Error Allocation Failed" */
    API_ERR_INVALID_PARAMETERS = 7,                       /**< "Error Invalid Parameters" */
    API_ERR_NOT_IMPLEMENTED = 8,                          /**< "Function not implemented" */
    API_ERR_CHAR_NOT_DIGIT = 9,                           /**< "Char conversion out of 0-9" */
    API_ERR_OPENING_UART = 10,                            /**< "Error opening Uart" */
    API_ERR_CLOSING_UART = 11,                            /**< "Error closing Uart" */
    API_ERR_WRITING_UART = 12,                            /**< "Error writing to Uart" */
    API_ERR_READING_FROM_UART = 13,                       /**< "Error reading from Uart" */
    API_ERR_UART_IOCTL = 14,                              /**< "Error in Uart ioctl" */
    API_ERR_SETTING_UART_CONFIG = 15,                     /**< "Error setting Uart config" */
    API_ERR_GETTING_UART_CONFIG = 16,                     /**< "Error getting Uart config" */
    API_ERR_SETTING_UART_BAUDRATE = 17,                   /**< "Error setting Uart baudrate" */
    API_ERR_GETTING_UART_BAUDRATE = 18,                   /**< "Error getting Uart baudrate" */
    API_ERR_SETTING_TIMER_UART = 19,                      /**< "Error in setting Timer for UART" */
    API_ERR_OPENING_WATCHDOG = 20,                        /**< "Error opening Watchdog" */
    API_ERR_SETTING_WATCHDOG_TIMEOUT = 21,                /**< "Error Setting Watchdog Timeout" */
    API_ERR_KEEP_WATCHDOG_TIME_ALIVE = 22,                /**< "Error keep Watchdog Time Alive" */
    API_ERR_WATCHDOG_WRITE = 23,                          /**< "Error Watchdog Write" */
    API_ERR_TIME_OUT = 24,                                /**< "Time Out Error" */
    API_ERR_INVALID_TIMER = 25,                           /**< "Invalid timer" */
    API_ERR_READING_FROM_SPI = 26,                        /**< "Error reading from SPI" */
    API_ERR_WRITING_SPI = 27,                             /**< "Error writing to SPI" */
    API_ERR_SPI_TRANSMISSION = 28,                        /**< "Error if spi transmission fails" */
    API_ERR_CHECKSUM_TEST = 29,                           /**< "Error if checksum test fails" */
    API_ERR_SPI_MESSAGE_HEADER_WRONG = 30,                /**< "SPI message header wrong" */
    API_ERR_GET_PROCESS_PRIORITY = 31,                    /**< " Failed to get priority of process" */
    API_ERR_SET_PROCESS_PRIORITY = 32,                    /**< " Failed to set priority of process" */
    API_ERR_PPS_CALL_BACK_SET_NULL = 33,                  /**< "PPS Call back function set to NULL" */
    API_ERR_INVALID_PIN_LEVEL_SETTINGS_GNSS = 34,         /**< "Invalid Pin Level settings for GNSS" */
    API_ERR_OPENING_PMU = 35,                             /**< "Error opening PMU device descriptor" */
    API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY = 36,      /**< "Invalid Command returned by PMU, query failed" */
    API_ERR_NO_BATTERY = 37,                              /**< "No battery" */
    API_ERR_PMU_CALL_BACK_SET_NULL = 38,                  /**< "PMU Call back function set to NULL" */
    API_ERR_PMU_THREAD_CREATION = 39,                     /**< "PMU thread creation error" */
    API_ERR_PMU_SEMAPHORE_CREATION = 40,                  /**< "PMU semaphore creation error" */
    API_ERR_OPEN_PPS = 41,                                /**< "Unable to open PPS device descriptor" */
    API_ERR_BLUETOOTH_INITIALIZATION = 42,                /**< "Error while Bluetooth Initialization" */
    API_ERR_OPEN_BLUETOOTH = 43,                          /**< "Unable to open Bluetooth file descriptor" */
    API_ERR_WRITING_BLUETOOTH = 44,                       /**< "Error writing to Bluetooth" */
    API_ERR_READING_FROM_BLUETOOTH = 45,                  /**< "Error reading from Bluetooth" */
    API_ERR_BLUETOOTH_ENCRYPTION = 46,                    /**< "Bluetooth Encryption Fail" */
    API_ERR_SET_BLUETOOTH_PROFILE = 47,                   /**< "Failed to set Bluetooth profile" */
    API_ERR_BLUETOOTH_CALL_BACK_SET_NULL = 48,            /**< "Bluetooth Call back function set to NULL" */
    API_ERR_BLUETOOTH_REMOTE_DISCONNECTED = 49,           /**< "Remote Bluetooth Connection disconnected" */
    API_ERR_BLUETOOTH_MODULE_NOT_READY = 50,              /**< "Bluetooth Module Not Ready" */
    API_ERR_BLUETOOTH_MODULE_INVALID_MODE = 51,           /**< "Bluetooth Module Invalid Mode" */
    API_ERR_BLUETOOTH_TASK_CREATION = 52,                 /**< "Bluetooth Task Creation Failure" */
    API_ERR_BLUETOOTH_SEMAPHORE_CREATION = 53,            /**< "Bluetooth Semaphore Creation Failure" */
    API_ERR_RESETTING_DISPLAY = 54,                       /**< "Error Resetting Display" */
    API_ERR_INITIALIZING_DISPLAY = 55,                    /**< "Error Initializing Display" */
    API_ERR_OPEN_DEV_DISPLAY = 56,                        /**< "Unable to open file /dev/display" */
    API_ERR_SET_CLEAR_PIXEL = 57,                         /**< "Unable to Set/Clear Pixel" */
    API_ERR_INVALID_RECTANGLE_COORDINATES = 58,           /**< "Invalid Rectangle Coordinates" */
    API_ERR_UNDEFINED_PIXEL_COORDINATES = 59,             /**< "Undefined pixel coordinates" */
    API_ERR_INVALID_CHARACTER = 60,                       /**< "Invalid Character" */
    API_ERR_INVALID_FONT_SIZE = 61,                       /**< "Invalid Font Size" */
    API_ERR_ALLOCATE_MEMORY = 62,                         /**< "Unable to allocate memory" */
    API_ERR_USER_CHARACTER_ALREADY_DEFINED = 63,          /**< "User character already defined" */
    API_ERR_OPEN_PROC_PUSHBUTTON = 64,                    /**< "Unable to open /proc/pushbutton" */
    API_ERR_READ_PROC_PUSHBUTTON = 65,                    /**< "Unable to read /proc/pushbutton" */
    API_ERR_OPEN_DEV_PUSHBUTTON = 66,                     /**< "Unable to open /dev/pushbutton" */
    API_ERR_READ_DEV_PUSHBUTTON = 67,                     /**< "Unable to read /dev/pushbutton" */
    API_ERR_IOCTL_DEV_PUSHBUTTON = 68,                    /**< "Unable to ioctl /dev/pushbutton" */
    API_ERR_READING_NOR_FLASH = 69,                       /**< "Error while reading NOR Flash" */
    API_ERR_PUSHBUTTON_INITIALIZAION = 70,                /**< "Error during Pushbutton API initializaion" */
    API_ERR_PUSHBUTTON_CLEANUP = 71,                      /**< "Error during Pushbutton API cleanup" */
    API_ERR_USB_INITIALIZAION = 72,                       /**< "Error during USB API initializaion" */
    API_ERR_USB_CLEANUP = 73,                             /**< "Error during USB API cleanup" */
    API_ERR_CURRENT_MODE_NOT_USB_MODE_NONE = 74,          /**< "Current device mode is not USB_Mode_None" */
    API_ERR_INVALID_MODE = 75,                            /**< "Invalid device mode" */
    API_ERR_CREATE_USB_TASK = 76,                         /**< "Failed to create USB task" */
    API_ERR_NOR_FLASH_INITIALIZATION = 77,                /**< "NOR Flash Initialization failed " */
    API_ERR_NOR_FLASH_CLEANUP = 78,                       /**< "NOR Flash cleanup failed " */
    API_ERR_INVALID_NOR_FLASH_ADDRESS = 79,               /**< "Invalid NOR Flash address " */
    API_ERR_NOR_FLASH_SEEK = 80,                          /**< "NOR Flash seek fail " */
    API_ERR_MEMORY_ALLOCATION = 81,                       /**< "Memory Allocation failed" */
    API_ERR_NOR_FLASH_READ = 82,                          /**< "NOR Flash Read fail " */
    API_ERR_NOR_FLASH_WRITE = 83,                         /**< "NOR Flash Write fail " */
    API_ERR_OPEN_GSM_PORT = 84,                           /**< "Unable to open GSM port " */
    API_ERR_GSM_WRITE = 85,                               /**< "GSM Write Failed " */
    API_ERR_GSM_READ = 86,                                /**< "GSm Read Failed " */
    API_ERR_GSM_CREATE_TASK = 87,                         /**< "GSm create task Failed " */
    API_ERR_GSM_CREATE_SEMAPHORE = 88,                    /**< "GSm create semaphore Failed " */
    API_ERR_GSM_CONNEXION = 89,                           /**< "GSm connexion Failed " */
    API_ERR_GSM_UNDEFINED_PROTOCOL = 90,                  /**< "GSM Undefined Protocol" */
    API_ERR_GSM_PIN_CODE = 91,                            /**< " GSM pin code Error " */
    API_ERR_GSM_ACK = 92,                                 /**< "GSM Ack Error" */
    API_ERR_GSM_INVALID_BAND_SETTINGS = 93,               /**< "GSM Invalid Band Settings" */
    API_ERR_GSM_CONNEXION_ALREADY_EXISTS = 94,            /**< "GSM connexion already exists" */
    API_ERR_GSM_INVALID_BATTERY_CHARGE_STATUS = 95,       /**< "GSM Invalid battery charge status" */
    API_ERR_GSM_INVALID_SIGNAL_STATUS = 96,               /**< "GSM Invalid signal status" */
    API_ERR_GSM_INVALID_SERVICE_STATUS = 97,              /**< "GSM Invalid service status" */
    API_ERR_GSM_INVALID_MESSAGE_STATUS = 98,              /**< "GSM Invalid message status" */
    API_ERR_GSM_INVALID_CALL_STATUS = 99,                 /**< "GSM Invalid call status" */
    API_ERR_GSM_INVALID_ROAM_STATUS = 100,                /**< "GSM Invalid roam status" */
    API_ERR_GSM_INVALID_SMS_FULL_STATUS = 101,            /**< "GSM Invalid sms full status" */
    API_ERR_GSM_INVALID_PHONE_ACTIVITY_STATUS = 102,      /**< "GSM Invalid phone activity status" */
    API_ERR_GSM_INVALID_INIT_SEQUENCE_STATUS = 103,       /**< "GSM Invalid init sequence status" */
    API_ERR_GSM_INVALID_NETWORK_STATUS = 104,             /**< "GSM Invalid network status" */
    API_ERR_GSM_INIT_SEQUENCE_NOT_FINISHED = 105,         /**< "GSM Init sequence not finished" */
    API_ERR_GSM_INVALID_MODE = 106,                       /**< "GSM invalid mode (data/command)" */
    API_ERR_GSM_OTHER = 107,                              /**< "GSM Other Error" */
    API_ERR_GSM_CALL_NULL = 108,                          /**< "GSM Call Function is NULL" */
    API_ERR_GSM_CSD_NO_ACTIVE_CONNECTION_PRESENT = 109,   /**< "GSM CSD NO Active Connection Present" */
    API_ERR_GSM_CSD_INVALID_CSD_MODE = 110,               /**< "GSM CSD invalid csd mode" */
    API_ERR_GSM_CSD_NUMBER_BUSY = 111,                    /**< "GSM CSD Number Busy" */
    API_ERR_GSM_CSD_NO_ANSWER = 112,                      /**< "GSM CSD No Answer" */
    API_ERR_GSM_CSD_NO_CARRIER = 113,                     /**< "GSM CSD No Carrier" */
    API_ERR_GSM_CSD_DIAL_TIMEOUT = 114,                   /**< "GSM CSD Dial Timeout" */
    API_ERR_GSM_PSD_NO_ACTIVE_CONNECTION_PRESENT = 115,   /**< "GSM PSD NO Active Connection Present" */
    API_ERR_GSM_PSD_INVALID_PROTOCOL = 116,               /**< "GSM PSD invalid protocol (UDP/TCP)" */
    API_ERR_GSM_PSD_INVALID_ACCESS_POINT_NAME = 117,      /**< "GSM PSD Invalid Access Point Name" */
    API_ERR_GSM_PSD_INVALID_LOGIN_NAME = 118,             /**< "GSM PSD Invalid Login name" */
    API_ERR_GSM_PSD_INVALID_PASSWORD = 119,               /**< "GSM PSD Invalid Password" */
    API_ERR_GSM_PSD_INVALID_PARAMETER_LENGTH = 120,       /**< "GSM PSD Invalid parameter Length" */
    API_ERR_GSM_PSD_GET_APN_NAME = 121,                   /**< "GSM PSD Failed to get APN Name" */
    API_ERR_GSM_PSD_SET_APN = 122,                        /**< "GSM PSD Failed to set APN in GSM PSD Mode" */
    API_ERR_GSM_PSD_APN_NOT_DEFINED = 123,                /**< "GSM PSD Access Point Name is not yet defined" */
    API_ERR_GSM_PSD_GET_USER_LOGIN = 124,                 /**< "GSM PSD Failed to get User Login" */
    API_ERR_GSM_PSD_SET_LOGIN = 125,                      /**< "GSM PSD Failed to set LOGIN in GSM PSD Mode" */
    API_ERR_GSM_PSD_LOGIN_NAME_NOT_YET_DEFINED = 126,     /**< "GSM PSD Login name is not yet defined" */
    API_ERR_GSM_PSD_GET_LOGIN_PASSWORD = 127,             /**< "GSM PSD Failed to get Login Password" */
    API_ERR_GSM_PSD_SET_PASSWORD = 128,                   /**< "GSM PSD Failed to set PASSWORD in GSM PSD Mode" */
    API_ERR_GSM_PSD_PASSWORD_NOT_YET_DEFINED = 129,       /**< "GSM PSD Password is not yet defined" */
    API_ERR_GSM_PSD_GET_AUTODIAL_STATUS = 130,            /**< "GSM PSD Failed to get autodial status" */
    API_ERR_GSM_PSD_GET_NUMBER_REDIAL = 131,              /**< "GSM PSD Failed to get number of redial" */
    API_ERR_GSM_PSD_INVALID_IP_ADDRESS = 132,             /**< "GSM PSD Invalid IP address" */
    API_ERR_GSM_PSD_INVALID_HOST_NAME = 133,              /**< "GSM PSD Invalid Host Name" */
    API_ERR_GSM_PSD_READ_NEGATIVE_NUMBER = 134,           /**< "GSM PSD Read Negative Number" */
    API_ERR_WIP_INVALID_OPTION = 135,                     /**< "WIP Invalid Option" */
    API_ERR_WIP_INVALID_OPTION_VALUE = 136,               /**< "WIP Invalid Option Value" */
    API_ERR_WIP_NOT_ENOUGH_MEMORY = 137,                  /**< "WIP Not Enough Memory" */
    API_ERR_WIP_OPERATION_NOT_ALLOWED_STACK = 138,        /**< "WIP Operation not allowed on Stack" */
    API_ERR_WIP_ALREADY_OPEN = 139,                       /**< "WIP Device Already Open" */
    API_ERR_WIP_NETWORK_INTERFACE_NOT_AVAILABLE = 140,    /**< "WIP Network interface not available" */
    API_ERR_WIP_BEARER_OPERATION_NOT_ALLOWED = 141,       /**< "WIP Bearer Operation not allowed" */
    API_ERR_WIP_BEARER_LINE_BUSY = 142,                   /**< "WIP Bearer Line Busy" */
    API_ERR_WIP_BEARER_NO_ANSWER = 143,                   /**< "WIP Bearer No answer" */
    API_ERR_WIP_BEARER_NO_CARRIER = 144,                  /**< "WIP Bearer No carrier" */
    API_ERR_WIP_BEARER_NO_SIM_PRESENT = 145,              /**< "WIP Bearer no SIM present" */
    API_ERR_WIP_BEARER_SIM_NOT_READY = 146,               /**< "WIP Bearer SIM not ready" */
    API_ERR_WIP_BEARER_GPRS_NETWORK = 147,                /**< "WIP Bearer GPRS network Failure" */
    API_ERR_WIP_BEARER_PPP_LCP_NEGOCIATION = 148,         /**< "WIP Bearer PPP LCP Negociation failed" */
    API_ERR_WIP_BEARER_PPP_AUTHENTIFICATION = 149,        /**< "WIP Bearer PPP Authentification Failed" */
    API_ERR_WIP_BEARER_PPP_IPCP_NEGOCIATION = 150,        /**< "WIP Bearer PPP IPCP Negociation failed" */
    API_ERR_WIP_BEARER_PPP_PEER_TERMINATES_SESSION = 151, /**< "WIP Bearer PPP Peer Terminates Session" */
    API_ERR_WIP_BEARER_PPP_PEER_NO_ANSWER_ECHO = 152,     /**< "WIP Bearer PPP Peer No Answer to echo" */
    API_ERR_WIP_INCOMING_CALL_REFUSED = 153,              /**< "WIP Incoming Call refused" */
    API_ERR_WIP_PING_CHANNEL = 154,                       /**< "WIP Error on Ping Channel" */
    API_ERR_WIP_WRITING_CONFIGURATION_FLASH = 155,        /**< "WIP Error writing configuration in Flash" */
    API_ERR_WIP_READING_CONFIGURATION_FLASH = 156,        /**< "WIP Error reading configuration in Flash" */
    API_ERR_WIP_BAD_INDEX = 157,                          /**< "WIP Bad Index" */
    API_ERR_WIP_BAD_STATE = 158,                          /**< "WIP Bad State" */
    API_ERR_WIP_BAD_PORT_NUMBER = 159,                    /**< "WIP Bad Port Number" */
    API_ERR_WIP_BAD_PORT_STATE = 160,                     /**< "WIP Bad Port State" */
    API_ERR_WIP_OPTION_NOT_SUPPORTED = 161,               /**< "WIP Option Not Supported" */
    API_ERR_WIP_MEMORY_ALLOCATION = 162,                  /**< "WIP Memory Allocation Error" */
    API_ERR_WIP_BAD_PROTOCOL = 163,                       /**< "WIP Bad Protocol" */
    API_ERR_WIP_NO_MORE_FREE_SOCKET = 164,                /**< "WIP No More Free Socket" */
    API_ERR_WIP_CHANNEL_CREATION = 165,                   /**< "WIP Error During Channel Creation" */
    API_ERR_WIP_FTP_SESSION_ALREADY_ACTIVE = 166,         /**< "WIP FTP Session Already Active" */
    API_ERR_WIP_PEER_CLOSE = 167,                         /**< "WIP Peer Close" */
    API_ERR_DESTINATION_UNREACHABLE = 168,                /**< "Destination Unreachable" */
    API_ERR_WIP_CONNECTION_RESET_PEER = 169,              /**< "WIP Connection Reset By Peer" */
    API_ERR_WIP_STACK_ALREADY_STARTED = 170,              /**< "WIP Stack Already Started" */
    API_ERR_EXTERNAL_UHF_OPEN = 171,                      /**< "External UHF unale to Open" */
    API_ERR_EXTERNAL_UHF_IOCTL = 172,                     /**< "External UHF IOCTL Failed" */
    API_ERR_EXTERNAL_UHF_COMMUNICATION = 173,             /**< "External UHF communication Fail" */
    API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF = 174,        /**< "Invalid SerialMode for External UHF" */
    API_ERR_OPENING_GPIO_DRIVER = 175,                    /**< "Error opening GPIO driver" */
    API_ERR_IOCTL_GPIO_DRIVER = 176,                      /**< "Error Ioctl GPIO driver" */
    API_ERR_OPEN_DEV_GPIO = 177,                          /**< "Unable to open /dev/gpio " */
    API_ERR_READING_TIMER = 178,                          /**< "Error reading timer" */
    API_ERR_NOR_PARAMETER_NOT_INITIALIZED = 179,          /**< "NOR parameter is not initialized" */
    API_ERR_NOR_PARAMETER_INVALID_STRING = 180,           /**< "NOR parameter invalid string" */
    API_ERR_CREATING_MOUNT_SEMAPHORE = 181,               /**< "Error creating mount semaphore" */
    API_ERR_CREATING_MOUNT_TASK = 182,                    /**< "Error creating mount task" */
    API_ERR_TASK_INIT_ATTRIBUTES = 183,                   /**< "Task failed to init attributes" */
    API_ERR_TASK_SET_STACK = 184,                         /**< "Task failed to set stack" */
    API_ERR_TASK_SET_SCHEDULING = 185,                    /**< "Task failed to set scheduling" */
    API_ERR_TASK_GET_SCHEDULING = 186,                    /**< "Task failed to get scheduling" */
    API_ERR_TASK_SET_SCHEDULER = 187,                     /**< "Task failed to set scheduler" */
    API_ERR_INVALID_TASK_IDENTIFIER = 188,                /**< "Invalid Task identifier" */
    API_ERR_TASK_CREATION = 189,                          /**< "Task creation failure" */
    API_ERR_REQUIRED_VERSION_NOT_AVAILABLE = 190,         /**< "Required version not available" */
    API_ERR_SIM_CARD_NOT_READY = 191,                     /**< "SIM card is not ready" */
    API_ERR_SIM_CARD_NOT_INSERTED = 192,                  /**< "SIM card is not inserted" */
    API_ERR_OPEN_EXTENDER = 193,                          /**< "unable to open extender file descriptor" */
    API_ERR_WRITING_EXTENDER = 194,                       /**< "Error writing to extender" */
    API_ERR_READING_FROM_EXTENDER = 195,                  /**< "Error reading from extender" */
    API_ERR_EXTENDER_CLEANUP = 196,                       /**< "Extender cleanup failed" */
    API_ERR_EXTENDER_INVALID_GPIO_NUMBER = 197,           /**< "Extender Invalid GPIO Number (1 to 8)" */
    API_ERR_EXTENDER_INPUT_NOT_FORCEABLE = 198,           /**< "Can not force an Extender GPIO input value" */
    API_ERR_BAUDRATE_VALUE_NOT_SUPPORTED = 199,           /**< "baudrate value is not supported" */
    API_ERR_SET_GSM_POWER_FALSE = 200,                    /**< "fail to set GSM power to false" */
    API_ERR_SET_GSM_POWER_TRUE = 201,                     /**< "fail to set GSM power to true" */
    API_ERR_SET_GSM_MODULE_SIGNAL_TRUE = 202,             /**< "fail to set GSM module signal to true" */
    API_ERR_SET_GSM_MODULE_SIGNAL_FALSE = 203,            /**< "fail to set GSM module signal to false" */
    API_ERR_SEND_ATE0 = 204,                              /**< "fail to send ATE0 (echo on)" */
    API_ERR_ATE0_NOT_ACKNOWLEDGED = 205,                  /**< "ATE0 (echo on) not acknowledged" */
    API_ERR_SEND_AT_F0 = 206,                             /**< "fail to send AT&F0 (reset to factory setting)" */
    API_ERR_AT_F0_NOT_ACKNOWLEDGED = 207,                 /**< "AT&F0 (reset to factory setting) not acknowledged" */
    API_ERR_SEND_AT_CFUNC = 208,                          /**< "fail to send AT+CFUNC=1 (start GSM firmware)" */
    API_ERR_AT_CFUNC_NOT_ACKNOWLEDGED = 209,              /**< "AT+CFUNC=1 (start GSM firmware) not acknowledged" */
    API_ERR_GSM_SWITH_COMMAND_MODE = 210,                 /**< "GSM swith to command mode failed" */
    API_ERR_WIP_SEND_CMD_START_IP_STACK = 211,            /**< "WIP Send Cmd to Start IP Stack failed" */
    API_ERR_WIP_SEND_CMD_CONFIGURE_IP_STACK = 212,        /**< "WIP Send Cmd to configure IP Stack failed" */
    API_ERR_WIP_SEND_CMD_OPEN_GPRS_BEARER = 213,          /**< "WIP Send Cmd to Open GPRS bearer failed" */
    API_ERR_WIP_SEND_APN = 214,                           /**< "WIP Send APN failed" */
    API_ERR_WIP_SEND_GPRS_LOGIN = 215,                    /**< "WIP Send GPRS Login failed" */
    API_ERR_WIP_SEND_GPRS_PASSWORD = 216,                 /**< "WIP Send GPRS Password failed" */
    API_ERR_WIP_SEND_START_GPRS_BEARER = 217,             /**< "WIP Send Start GPRS bearer failed" */
    API_ERR_WIP_CONFIG_STACK_IP = 218,                    /**< "WIP Config Stack IP failed" */
    API_ERR_GSM_INVALID_NETWORK_SETTINGS = 219,           /**< "GSM Invalid Network Settings" */
};

/** Number of codes: they run from 0 to API_ERR_COUNT - 1 without gaps. */
#define API_ERR_COUNT 220

/** Size of a buffer that holds every text, its terminator included. */
#define API_ERROR_TEXT_SIZE 50
/** The text of an error code, for display.
 * @param code an error code, known or not.
 * @param[out] text at least ::API_ERROR_TEXT_SIZE bytes; receives the code's
 *   text, or "Unknown error code: 0x" and the code in lower-case hexadecimal
 *   (a negative code as its 32-bit two's complement).
 * @return 0, or ::API_ERR_UNKNOWN_CODE for a code outside the table.  The
 *   unknown-code text is composed in one shared buffer: threads ask for unknown
 *   codes one at a time. */
int API_Errors_GetErrorText(int code, char *text);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
