// The PMU's message framing and every command code the API sends to it.
// "Data" below is byte 2 of the PMU's reply.
#ifndef API_INTERNAL_PMU_COMMANDS_H
#define API_INTERNAL_PMU_COMMANDS_H

// Framing: 0x02, command, parameter or data, XOR of the first three bytes.
constexpr unsigned char PMU_MSG_HEADER = 0x02;
constexpr int PMU_MSG_SIZE = 4;
// Passed as the expected command: accept a reply echoing any command.
constexpr unsigned char PMU_ANY_COMMAND = 0xFE;
// Data values that mark an absent or an invalid measurement.
constexpr unsigned char PMU_DATA_ABSENT = 0xFE;
constexpr unsigned char PMU_DATA_INVALID = 0xFF;

// Power management.
constexpr unsigned char PMU_CMD_EVENT_STATUS_HIGH = 0x74;         // data: high byte of the event status
constexpr unsigned char PMU_CMD_TEMPERATURE_FRACTION = 0x7A;      // data: hundredths
constexpr unsigned char PMU_CMD_ENABLE_POWER_EVENTS = 0x7E;       // ack
constexpr unsigned char PMU_CMD_EVENT_STATUS_LOW = 0x7F;          // data: low byte of the event status
constexpr unsigned char PMU_CMD_TEMPERATURE_INTEGER = 0x81;       // data: whole degrees plus 30
constexpr unsigned char PMU_CMD_SOURCE0_VOLTAGE_FRACTION = 0x83;  // data: hundredths of volts
constexpr unsigned char PMU_CMD_SOURCE1_VOLTAGE_FRACTION = 0x84;  // data: hundredths of volts
constexpr unsigned char PMU_CMD_POWER_SOURCE = 0x88;              // data: 0, 1 or 2
constexpr unsigned char PMU_CMD_SOURCE2_VOLTAGE = 0x89;           // data: tenths above 3.0 V, 0 absent
constexpr unsigned char PMU_CMD_SOURCE0_LEVEL = 0x8A;             // data: percent
constexpr unsigned char PMU_CMD_SOURCE1_LEVEL = 0x8B;             // data: percent
constexpr unsigned char PMU_CMD_CHARGE_INDICATOR_1 = 0x8C;        // data: 1 = set
constexpr unsigned char PMU_CMD_CHARGE_INDICATOR_2 = 0x8D;        // data: 1 = set
constexpr unsigned char PMU_CMD_SOURCE0_VOLTAGE = 0x8E;           // data: whole volts
constexpr unsigned char PMU_CMD_SOURCE1_VOLTAGE = 0x8F;           // data: whole volts
constexpr unsigned char PMU_CMD_REMOTE_SHUTDOWN = 0xFD;           // ack

// GNSS receiver lines and supply.
constexpr unsigned char PMU_CMD_GNSS_SET_WAKEUP = 0x92;    // parameter: level; ack
constexpr unsigned char PMU_CMD_GNSS_BOOT_LOW = 0x94;      // ack
constexpr unsigned char PMU_CMD_GNSS_BOOT_HIGH = 0x95;     // ack
constexpr unsigned char PMU_CMD_GNSS_SET_RESET = 0x96;     // parameter: level; ack
constexpr unsigned char PMU_CMD_GNSS_POWER_OFF = 0x98;     // parameter 1; ack
constexpr unsigned char PMU_CMD_GNSS_POWER_ON = 0x99;      // parameter 1; ack
constexpr unsigned char PMU_CMD_GNSS_POWER_STATE = 0x9A;   // data: 1 = on
constexpr unsigned char PMU_CMD_GNSS_CLOCK_SOURCE = 0x9B;  // data: 1 = set
constexpr unsigned char PMU_CMD_GNSS_WAKEUP_LEVEL = 0x9E;  // data: 1 = high
constexpr unsigned char PMU_CMD_GNSS_RESET_LEVEL = 0x9F;   // data: 1 = high
constexpr unsigned char PMU_CMD_GNSS_BOOT_LEVEL = 0xA0;    // data: 1 = high

// GSM modem.
constexpr unsigned char PMU_CMD_GSM_MODULE_SIGNAL = 0xA1;      // data: non-zero = asserted
constexpr unsigned char PMU_CMD_GSM_SET_MODULE_SIGNAL = 0xA2;  // parameter: 0 or 1; ack
constexpr unsigned char PMU_CMD_GSM_POWER_ON = 0xA4;           // parameter 1; ack
constexpr unsigned char PMU_CMD_GSM_POWER_OFF = 0xA5;          // parameter 1; ack
constexpr unsigned char PMU_CMD_GSM_POWER_STATE = 0xA6;        // data: 1 = on

// UHF radio.
constexpr unsigned char PMU_CMD_UHF_COMPANION = 0xB3;  // ack; before power-on, after power-off
constexpr unsigned char PMU_CMD_UHF_POWER_OFF = 0xC2;  // ack
constexpr unsigned char PMU_CMD_UHF_POWER_ON = 0xC3;   // ack

// Bluetooth module, display, buzzer.
constexpr unsigned char PMU_CMD_BLUETOOTH_RESET = 0xD3;      // ack
constexpr unsigned char PMU_CMD_DISPLAY_POWER_OFF = 0xE2;    // ack
constexpr unsigned char PMU_CMD_DISPLAY_POWER_ON = 0xE3;     // ack
constexpr unsigned char PMU_CMD_DISPLAY_POWER_STATE = 0xE4;  // data: 1 = on
constexpr unsigned char PMU_CMD_BUZZER_OFF = 0xF2;           // ack
constexpr unsigned char PMU_CMD_BUZZER_BEEP = 0xF3;          // ack
constexpr unsigned char PMU_CMD_BUZZER_TONE = 0xF4;          // parameter: tone byte; ack
constexpr unsigned char PMU_CMD_BUZZER_DURATION = 0xF5;      // parameter: duration byte; ack

#endif
