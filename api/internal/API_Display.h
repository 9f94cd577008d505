// The display unit's state and the internal operations shared by its device,
// drawing and text parts.
#ifndef API_INTERNAL_DISPLAY_H
#define API_INTERNAL_DISPLAY_H

#include <pthread.h>
#include <stdint.h>

#include <array>

constexpr int DISPLAY_PAGES = 8;
constexpr int DISPLAY_COLUMNS = 128;
constexpr int DISPLAY_MIRROR_SIZE = DISPLAY_PAGES * DISPLAY_COLUMNS;

// Mode-select request of "/dev/display": argument 0 announces controller
// commands, 1 display data.
constexpr unsigned long DISPLAY_IOCTL_MODE = 0x4004FF0AUL;
constexpr int DISPLAY_MODE_COMMAND = 0;
constexpr int DISPLAY_MODE_DATA = 1;

// Controller commands.
constexpr unsigned char DISPLAY_CMD_PAGE = 0xB0;         // + page number
constexpr unsigned char DISPLAY_CMD_COLUMN_LOW = 0x00;   // + low nibble
constexpr unsigned char DISPLAY_CMD_COLUMN_HIGH = 0x10;  // + high nibble
constexpr unsigned char DISPLAY_CMD_CONTRAST = 0x81;     // followed by the level

extern int i_dfd;                        // 0: not open
extern unsigned char *s_display_mirror;  // DISPLAY_MIRROR_SIZE bytes, page after page
extern unsigned char s_page_update;      // bit p: page p changed since the last flush
extern int b_PowerState;
extern pthread_mutex_t display_mutex;

// Mirror and device; set_pixel and drawline expect display_mutex held.
// set_page gives 0 when the page select went through, -1 otherwise.
int set_pixel(int x, int y, int value);
int set_page(int fd, int page);
int write_data(int fd, const unsigned char *bytes, int count);
int update_display(int fd);
int drawline(int x0, int y0, int x1, int y1);
// Closes the device at shut-down; the mirror stays, and the next
// API_Display_Reset opens the device again.
void API_Display_Close(void);

// A character defined by the application, newest first.
struct UserCharacter {
    UserCharacter *next;
    uint32_t size;
    unsigned char *bits;  // W x H bits, row after row, most significant bit first
    unsigned char code;
};
extern UserCharacter *l_user_chars;

// Small font: entries of code and 7 row bytes (bit 6 the leftmost of 7
// columns); only rows 0 to 4 are drawn.  A code of 0 ends the table.
constexpr int SIZE7_ENTRY_SIZE = 8;
constexpr int SIZE7_ENTRIES = 97;
constexpr int SIZE7_COLUMNS = 7;
constexpr int SIZE7_ROWS = 5;
extern const std::array<unsigned char, SIZE7_ENTRIES * SIZE7_ENTRY_SIZE> size7_bmp;

// Proportional font: records of code, 15 x 13 pixel bytes (1 lit) row after
// row, and the advance width as a 32-bit little-endian int.  A code of 0 ends
// the table; the terminator's width is the advance of unknown characters.
constexpr int NEW_BMP_ROWS = 15;
constexpr int NEW_BMP_COLUMNS = 13;
constexpr int NEW_BMP_PIXELS_OFFSET = 1;
constexpr int NEW_BMP_WIDTH_OFFSET = NEW_BMP_PIXELS_OFFSET + NEW_BMP_ROWS * NEW_BMP_COLUMNS;
constexpr int NEW_BMP_RECORD_SIZE = NEW_BMP_WIDTH_OFFSET + 4;
constexpr int NEW_BMP_RECORDS = 84;
extern const std::array<unsigned char, NEW_BMP_RECORDS * NEW_BMP_RECORD_SIZE> new_bmp;

#endif
