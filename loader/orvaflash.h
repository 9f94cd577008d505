// The firmware loader of the receiver's internal UHF radio: one run takes the
// radio from its normal firmware through its serial bootloader, writes the
// application image block by block and restarts the radio.
#ifndef ORVAFLASH_H
#define ORVAFLASH_H

#include <stdint.h>
#include <termios.h>

// Command line and load sequence ---------------------------------------------

extern const char DEFAULT_FILE[];
extern const char DEFAULT_PORT[];
extern const char DEFAULT_SPEED[];
extern const char LOADING_SPEED[];
extern const char BOOTLOADER_SPEED[];
extern const char PORT_A[];
extern const char PORT_B[];
extern const char PORT_D[];
extern const char PORT_F[];

// The serial line of the internal radio: the only port whose power is switched.
#define INTERNAL_RADIO_PORT "/dev/ttyS5"

// The run record, owned by OrvaflashMain for the whole run.
struct LOADER_ENV {
    const char *file_name;
    const char *port_name;
    const char *speed_name;
    int32_t log_fd;  // traffic log; -1: none
    int32_t port_fd;
    struct termios saved_settings;  // applied before closing the port
    struct termios port_settings;
    bool test_mode;        // format the blocks but send none
    unsigned char *image;  // application image, owned; released by PowerOFF
    uint32_t image_size;
    uint32_t file_id;
    uint32_t block_count;
    uint32_t checksum;      // Adler-32 of the image
    uint32_t rx_countdown;  // idle reads left in the current receive
};

enum CommandLineResult {
    COMMAND_LINE_RUN,
    COMMAND_LINE_VERSION,
    COMMAND_LINE_USAGE_A,  // the example names a speed
    COMMAND_LINE_USAGE_B,  // the example leaves the speed out
};

// Fills file, port, speed and test mode of `env` from the arguments.
CommandLineResult ParseCommandLine(LOADER_ENV *env, int argc, char **argv);

// The whole run: 0 for a complete load, 1 for a refusal before the radio's
// port is opened, -1 for any later failure.
int OrvaflashMain(int argc, char **argv);

// Firmware image file ----------------------------------------------------------

enum {
    BLOCK_SIZE = 256,
    MAX_BLOCK_COUNT = 65535,        // CREATEFILE announces the count in 16 bits
    BOOTLOADER_PART_SIZE = 0xC100,  // in front of the application in a bootloader file
};
#define MAX_IMAGE_SIZE (static_cast<unsigned long>(MAX_BLOCK_COUNT) * BLOCK_SIZE)

// Reads `file_name`, keeps its application image in `image` and derives the
// block count and checksum.  0, or -1 after a message (nothing kept).
int LoadImageFile(LOADER_ENV *env);

// Adler-32 (RFC 1950).
uint32_t ComputeAdler32(const unsigned char *data, unsigned long length);

// Bootloader frames -------------------------------------------------------------

enum {
    ANSWER_LENGTH = 8,  // every bootloader frame is answered with 8 bytes
    WRITEFILEBLOCK_FRAME_LENGTH = 268,
    MAX_FRAME_LENGTH = WRITEFILEBLOCK_FRAME_LENGTH,
    ANSWER_BUFFER_SIZE = 256 + 1,  // the largest answer and the zero after it
};

enum FrameCommand : unsigned char {
    COMMAND_POC = 0x02,
    COMMAND_RESET = 0x04,
    COMMAND_SETBAUDRATE = 0x07,
    COMMAND_CREATEFILE = 0x0B,
    COMMAND_WRITEFILEBLOCK = 0x0C,
};

// Each builder writes one frame, stores its length and returns the length of
// the expected answer.
unsigned long FormatPOCcommand(unsigned char *frame, unsigned long &frame_length);
unsigned long FormatRESETcommand(unsigned char *frame, unsigned long &frame_length);
unsigned long FormatSETBAUDRATEcommand(unsigned char *frame, unsigned long &frame_length, unsigned long bit_rate);
unsigned long FormatCREATEFILEcommand(unsigned char *frame, unsigned long &frame_length, LOADER_ENV *env);
// Blocks are numbered from 1; bytes past the end of the image are filled with 0xFF.
unsigned long FormatWRITEFILEBLOCK(unsigned char *frame, unsigned long &frame_length, LOADER_ENV *env,
                                   unsigned long block_number);

// Plain sum of the bytes; frames carry its low 16 bits.
uint32_t ComputeChecksum(unsigned char *data, unsigned long length);

// True for an acknowledgement of `command`: 8 bytes, STX, the command code,
// ACK at byte 4 and ETX at byte 7.
bool IsAcknowledged(const unsigned char *answer, unsigned long count, unsigned char command);

// Serial link -------------------------------------------------------------------

// Opens `port_name` at `speed_name` in raw mode; the descriptor or -1.
int OpenSerialPort(LOADER_ENV *env);
void CloseSerialPort(LOADER_ENV *env);
void SendComPortBlock(LOADER_ENV *env, const void *data, unsigned long length);
// One read; counts an idle (or failed) read against rx_countdown.
unsigned long ReceiveComPortBlock(LOADER_ENV *env, void *buffer, unsigned long size);
// Up to `length` bytes, giving up after timeout_ms / 100 idle reads of 0.1 s;
// `buffer` holds length + 1 bytes (a zero follows the answer).
unsigned long ReceiveComPort(LOADER_ENV *env, char *buffer, unsigned long length, unsigned int timeout_ms);

// Bootloader entry, power-off, download -------------------------------------------

// 1: the bootloader acknowledged a POC frame; 0: port not open or no
// acknowledgement in 100 attempts; -1: reopening failed and PowerOFF has run.
int SwitchToPOCMode(LOADER_ENV *env);
// Radio off (internal radio only), API shut down, image released.
void PowerOFF(LOADER_ENV *env);
// 0 when every block was acknowledged (or formatted in test mode), -1 on the
// first refused block.
int Download(LOADER_ENV *env);

#endif
