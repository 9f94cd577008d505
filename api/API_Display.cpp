// The display unit: the screen mirror and its page-by-page flush to
// "/dev/display", contrast and power, drawing primitives, and text in the
// built-in fonts and the application's own characters.
#include "API_Display.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "API_Errors.h"
#include "API_SPI.h"
#include "board.h"
#include "internal/API_Display.h"
#include "internal/API_Lock.h"
#include "internal/API_PM.h"
#include "internal/API_PMU_Commands.h"
#include "internal/API_SPI.h"

int i_dfd = 0;
unsigned char *s_display_mirror = nullptr;
unsigned char s_page_update = 0;
int b_PowerState = 0;
pthread_mutex_t display_mutex = PTHREAD_MUTEX_INITIALIZER;
UserCharacter *l_user_chars = nullptr;

namespace {

const char s_display_path[] = "/dev/display";
constexpr int s_last_column = DISPLAY_COLUMNS - 1;
constexpr int s_last_row = DISPLAY_PAGES * 8 - 1;

// ---------------------------------------------------------------------------
// Device transfers

int s_SelectMode(int fd, int mode)
{
    int argument = mode;
    return Board_Ioctl(fd, DISPLAY_IOCTL_MODE, &argument);
}

// The controller shares the SPI bus with the PMU: each write holds the bus lock.
ssize_t s_BusWrite(int fd, const unsigned char *bytes, size_t count)
{
    pthread_mutex_lock(&s_spi_mutex);
    ssize_t written;
    do {
        written = Board_Write(fd, bytes, count);
    } while (written < 0 && errno == EINTR);
    pthread_mutex_unlock(&s_spi_mutex);
    return written;
}

// Descriptor 0 stands for "not open": nothing may be written to it.
bool s_DeviceReady(int fd) { return fd > 0 && s_display_mirror != nullptr; }

void s_MarkPages(unsigned char pages) { __atomic_or_fetch(&s_page_update, pages, __ATOMIC_RELEASE); }

// Takes page p out of the changed set; true when it was in it.  A pixel drawn
// while the page is on its way marks it again for the next flush.
bool s_TakePage(int page)
{
    unsigned char bit = static_cast<unsigned char>(1u << page);
    return (__atomic_fetch_and(&s_page_update, static_cast<unsigned char>(~bit), __ATOMIC_ACQUIRE) & bit) != 0;
}

// Page select and the page's 128 bytes; false when either did not go through.
bool s_SendPage(int fd, int page, const unsigned char *bytes)
{
    return set_page(fd, page) == 0 && write_data(fd, bytes, DISPLAY_COLUMNS) == DISPLAY_COLUMNS;
}

// A pixel at any coordinates, wider than int: everything off the screen is refused.
int s_SetPixel(long long x, long long y, int value)
{
    if (x < 0 || y < 0 || x > s_last_column || y > s_last_row)
        return API_ERR_UNDEFINED_PIXEL_COORDINATES;
    return set_pixel(static_cast<int>(x), static_cast<int>(y), value);
}

bool s_IsEmpty(const char *text) { return text == nullptr || text[0] == '\0'; }

// ---------------------------------------------------------------------------
// Small font and user characters

constexpr int s_user_elements[4] = {3, 9, 35, 140};

// Doubling buffers: the glyph of step k, rows of u bytes, column j counted
// from the right at bit j % 8 of byte u - 1 - j / 8.
unsigned char scaled14[20], allscaled14[20];
unsigned char scaled28[80], allscaled28[80];
unsigned char scaled56[280], allscaled56[280];
const unsigned char *puc;
unsigned char *pucscale;
unsigned char *allpucscale;

int s_CellWidth(unsigned size) { return SIZE7_COLUMNS << size; }
int s_CellHeight(unsigned size) { return SIZE7_ROWS << size; }
int s_RowBytes(int width) { return (width + 7) / 8; }

bool s_RowBit(const unsigned char *row, int rowBytes, int j) { return (row[rowBytes - 1 - j / 8] >> (j % 8)) & 1; }

void s_SetRowBit(unsigned char *row, int rowBytes, int j)
{
    row[rowBytes - 1 - j / 8] = static_cast<unsigned char>(row[rowBytes - 1 - j / 8] | (1u << (j % 8)));
}

// One doubling step from `puc` (rows x width) into `pucscale` (width doubled)
// and `allpucscale` (width and height doubled).
void s_DoubleStep(int rows, int width, size_t bufferSize)
{
    memset(pucscale, 0, bufferSize);
    memset(allpucscale, 0, bufferSize);
    const int inBytes = s_RowBytes(width);
    const int outBytes = s_RowBytes(2 * width);
    for (int r = 0; r < rows; ++r) {
        for (int j = 0; j < width; ++j) {
            if (s_RowBit(puc + r * inBytes, inBytes, j)) {
                s_SetRowBit(pucscale + r * outBytes, outBytes, 2 * j);
                s_SetRowBit(pucscale + r * outBytes, outBytes, 2 * j + 1);
            }
        }
    }
    for (int j = 0; j < 2 * width; ++j) {
        for (int r = 0; r < rows; ++r) {
            if (s_RowBit(pucscale + r * outBytes, outBytes, j)) {
                s_SetRowBit(allpucscale + 2 * r * outBytes, outBytes, j);
                s_SetRowBit(allpucscale + (2 * r + 1) * outBytes, outBytes, j);
            }
        }
    }
}

// The glyph's bitmap at `size`: its own rows for size 0, else the result of
// `size` doubling steps.
const unsigned char *s_ScaleGlyph(const unsigned char *rows, unsigned size)
{
    unsigned char *const wide[3] = {scaled14, scaled28, scaled56};
    unsigned char *const tall[3] = {allscaled14, allscaled28, allscaled56};
    const size_t bufferSize[3] = {sizeof scaled14, sizeof scaled28, sizeof scaled56};
    puc = rows;
    for (unsigned step = 0; step < size; ++step) {
        pucscale = wide[step];
        allpucscale = tall[step];
        s_DoubleStep(SIZE7_ROWS << step, SIZE7_COLUMNS << step, bufferSize[step]);
        puc = allpucscale;
    }
    return puc;
}

const unsigned char *s_FindSmallGlyph(unsigned char code)
{
    for (size_t at = 0; at < size7_bmp.size() && size7_bmp[at] != 0; at += SIZE7_ENTRY_SIZE) {
        if (size7_bmp[at] == code)
            return &size7_bmp[at + 1];
    }
    return nullptr;
}

// Opaque cell: lit and blank pixels are both written.  A lit pixel off the
// screen ends the whole text (false, with `result` 59).
bool s_DrawSmallGlyph(long long cellX, int y, unsigned size, const unsigned char *glyph, int &result)
{
    const int width = s_CellWidth(size);
    const int height = s_CellHeight(size);
    const int rowBytes = s_RowBytes(width);
    const unsigned char *bitmap = s_ScaleGlyph(glyph, size);
    for (int r = 0; r < height; ++r) {
        for (int j = 0; j < width; ++j) {
            long long x = cellX + width - 1 - j;
            if (s_RowBit(bitmap + r * rowBytes, rowBytes, j)) {
                result = s_SetPixel(x, static_cast<long long>(y) + r, 1);
                if (result != API_ERR_NONE)
                    return false;
            } else {
                result = s_SetPixel(x, static_cast<long long>(y) + r, 0);
            }
        }
    }
    return true;
}

const UserCharacter *s_FindUserCharacter(unsigned char code, unsigned size)
{
    for (const UserCharacter *record = l_user_chars; record; record = record->next) {
        if (record->code == code && record->size == size)
            return record;
    }
    return nullptr;
}

// The first pixel off the screen ends the character, never the text.
void s_DrawUserCharacter(long long cellX, int y, const UserCharacter &character)
{
    const int width = s_CellWidth(character.size);
    const int bits = width * s_CellHeight(character.size);
    for (int k = 0; k < bits; ++k) {
        int value = (character.bits[k / 8] >> (7 - k % 8)) & 1;
        if (s_SetPixel(cellX + k % width, static_cast<long long>(y) + k / width, value) != API_ERR_NONE)
            return;
    }
}

// ---------------------------------------------------------------------------
// Proportional font

const unsigned char *s_FindWideGlyph(unsigned char code)
{
    for (size_t at = 0; at < new_bmp.size(); at += NEW_BMP_RECORD_SIZE) {
        if (new_bmp[at] == 0)
            return nullptr;
        if (new_bmp[at] == code)
            return &new_bmp[at];
    }
    return nullptr;
}

int s_RecordWidth(const unsigned char *record)
{
    const unsigned char *bytes = record + NEW_BMP_WIDTH_OFFSET;
    uint32_t width = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                     static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return static_cast<int>(width);
}

// The record's width, or the terminator's for an unknown character.
int s_AdvanceWidth(const unsigned char *record)
{
    if (record)
        return s_RecordWidth(record);
    return s_RecordWidth(&new_bmp[(NEW_BMP_RECORDS - 1) * NEW_BMP_RECORD_SIZE]);
}

bool s_WidePixel(const unsigned char *record, int column, int row)
{
    return record[NEW_BMP_PIXELS_OFFSET + row * NEW_BMP_COLUMNS + column] == 1;
}

// Beyond this the stretched glyph's size no longer fits the int arithmetic;
// it is hundreds of times wider than the screen long before.
constexpr float s_max_text_scale = 1000.0f;

int s_Stretched(float scale, int source) { return static_cast<int>(scale * static_cast<float>(source)); }

// Source row or column that target position t comes from when `count`
// positions are stretched by `scale`; -1 past the last one.  Source 0 covers
// target 0 only; source s covers the targets after that of s - 1 up to
// (int)(scale * s).
int s_SourceOf(float scale, int t, int count)
{
    for (int s = 0; s < count; ++s) {
        if (s_Stretched(scale, s) >= t)
            return s;
    }
    return -1;
}

// Draws one stretched glyph with transparent background; returns the result
// of its last lit pixel in column-major order, or `previous` when none is lit.
int s_DrawStretchedGlyph(int x, int y, float scale, const unsigned char *record, int previous)
{
    const int height = static_cast<int>(static_cast<double>(scale) * 15.0);
    const int width = static_cast<int>(static_cast<double>(scale) * 13.0);

    // Only the part of the glyph on the screen is worked through.
    int sourceRow[DISPLAY_PAGES * 8];
    int sourceColumn[DISPLAY_COLUMNS];
    const long long firstRow = y < 0 ? -static_cast<long long>(y) : 0;
    const long long lastRow = std::min<long long>(height - 1, static_cast<long long>(s_last_row) - y);
    const long long firstColumn = x < 0 ? -static_cast<long long>(x) : 0;
    const long long lastColumn = std::min<long long>(width - 1, static_cast<long long>(s_last_column) - x);
    for (long long j = firstRow; j <= lastRow; ++j)
        sourceRow[j - firstRow] = s_SourceOf(scale, static_cast<int>(j), NEW_BMP_ROWS);
    for (long long i = firstColumn; i <= lastColumn; ++i)
        sourceColumn[i - firstColumn] = s_SourceOf(scale, static_cast<int>(i), NEW_BMP_COLUMNS);
    for (long long i = firstColumn; i <= lastColumn; ++i) {
        int column = sourceColumn[i - firstColumn];
        for (long long j = firstRow; j <= lastRow && column >= 0; ++j) {
            int row = sourceRow[j - firstRow];
            if (row >= 0 && s_WidePixel(record, column, row))
                set_pixel(static_cast<int>(x + i), static_cast<int>(y + j), 1);
        }
    }

    // The last lit pixel: the last target column of the rightmost lit source
    // column, at the last target row of that column's lowest lit source row.
    for (int column = NEW_BMP_COLUMNS - 1; column >= 0; --column) {
        for (int row = NEW_BMP_ROWS - 1; row >= 0; --row) {
            if (s_WidePixel(record, column, row))
                return s_SetPixel(static_cast<long long>(x) + s_Stretched(scale, column),
                                  static_cast<long long>(y) + s_Stretched(scale, row), 1);
        }
    }
    return previous;
}

}  // namespace

// ---------------------------------------------------------------------------
// Mirror and device

int set_pixel(int x, int y, int value)
{
    if (x < 0 || y < 0 || x > s_last_column || y > s_last_row || s_display_mirror == nullptr)
        return API_ERR_UNDEFINED_PIXEL_COORDINATES;
    const int page = y / 8;
    unsigned char &byte = s_display_mirror[page * DISPLAY_COLUMNS + x];
    const unsigned char bit = static_cast<unsigned char>(1u << (y % 8));
    if (value == 1)
        byte = static_cast<unsigned char>(byte | bit);
    else
        byte = static_cast<unsigned char>(byte & ~bit);
    // Marked after the change, so a flush under way cannot miss it.
    s_MarkPages(static_cast<unsigned char>(1u << page));
    return API_ERR_NONE;
}

int set_page(int fd, int page)
{
    if (s_SelectMode(fd, DISPLAY_MODE_COMMAND) < 0)
        return -1;
    const unsigned char command[3] = {static_cast<unsigned char>(DISPLAY_CMD_PAGE + page), DISPLAY_CMD_COLUMN_LOW,
                                      DISPLAY_CMD_COLUMN_HIGH};
    return s_BusWrite(fd, command, sizeof command) == static_cast<ssize_t>(sizeof command) ? 0 : -1;
}

int write_data(int fd, const unsigned char *bytes, int count)
{
    int mode = s_SelectMode(fd, DISPLAY_MODE_DATA);
    if (mode < 0)
        return mode;
    return static_cast<int>(s_BusWrite(fd, bytes, static_cast<size_t>(count)));
}

int update_display(int fd)
{
    if (!s_DeviceReady(fd))
        return API_ERR_OPEN_DEV_DISPLAY;
    int result = API_ERR_NONE;
    for (int page = 0; page < DISPLAY_PAGES; ++page) {
        if (!s_TakePage(page))
            continue;
        // Data after a failed page select would land on another page; a page
        // that did not go through stays marked and is sent again next time.
        if (!s_SendPage(fd, page, s_display_mirror + page * DISPLAY_COLUMNS)) {
            result = API_ERR_UNDEFINED_PIXEL_COORDINATES;
            s_MarkPages(static_cast<unsigned char>(1u << page));
        }
    }
    return result;
}

extern "C" int API_Display_Reset(void)
{
    if (i_dfd != 0) {
        Board_Close(i_dfd);
        i_dfd = 0;
    }
    int fd = Board_Open(s_display_path, O_WRONLY, 0);
    if (fd < 0 && s_display_mirror == nullptr)
        return API_ERR_OPEN_FILE;
    if (fd >= 0)
        i_dfd = fd;

    unsigned char *mirror = static_cast<unsigned char *>(calloc(DISPLAY_MIRROR_SIZE, 1));
    // Without a new mirror the old one stays, so drawing always has one.
    if (mirror == nullptr)
        return -1;
    unsigned char *old;
    {
        ScopedLock lock(display_mutex);
        old = s_display_mirror;
        s_display_mirror = mirror;
    }
    free(old);
    if (fd < 0)
        return API_ERR_OPEN_FILE;
    update_display(i_dfd);
    return API_ERR_NONE;
}

extern "C" int API_Display_Initialize(void) { return API_ERR_NONE; }

extern "C" int API_Display_Cleanup(void)
{
    ScopedLock lock(display_mutex);
    while (l_user_chars) {
        UserCharacter *record = l_user_chars;
        l_user_chars = record->next;
        free(record->bits);
        free(record);
    }
    return API_ERR_NONE;
}

void API_Display_Close(void)
{
    if (i_dfd != 0)
        Board_Close(i_dfd);
    i_dfd = 0;
}

extern "C" int API_Display_Update(void) { return update_display(i_dfd); }

extern "C" int API_Display_Clear(void)
{
    if (!s_DeviceReady(i_dfd))
        return API_ERR_OPEN_DEV_DISPLAY;
    static const unsigned char blank_page[DISPLAY_COLUMNS] = {};
    {
        ScopedLock lock(display_mutex);
        memset(s_display_mirror, 0, DISPLAY_MIRROR_SIZE);
    }
    for (int page = 0; page < DISPLAY_PAGES; ++page) {
        if (!s_SendPage(i_dfd, page, blank_page))
            s_MarkPages(static_cast<unsigned char>(1u << page));
    }
    // Sends what is still marked (pages that failed above get a second try).
    return update_display(i_dfd);
}

extern "C" int API_Display_SetBrightness(int level)
{
    if (i_dfd <= 0)
        return API_ERR_OPEN_DEV_DISPLAY;
    // In data mode the contrast bytes would show up as two columns of pixels.
    if (s_SelectMode(i_dfd, DISPLAY_MODE_COMMAND) < 0)
        return API_ERR_UNDEFINED_PIXEL_COORDINATES;
    const unsigned char command[2] = {DISPLAY_CMD_CONTRAST, static_cast<unsigned char>(level & 0xFF)};
    if (s_BusWrite(i_dfd, command, sizeof command) != static_cast<ssize_t>(sizeof command))
        return API_ERR_UNDEFINED_PIXEL_COORDINATES;
    return API_ERR_NONE;
}

extern "C" int API_Display_GetPowerState(int *state)
{
    if (state == nullptr)
        return API_ERR_INVALID_PARAMETERS;
    unsigned char reply[PMU_MSG_SIZE] = {};
    pthread_mutex_lock(&s_spi_mutex);
    int result = API_SPI_Sendmsg(ifd_pmu, PMU_CMD_DISPLAY_POWER_STATE, 0);
    if (result == API_ERR_NONE)
        result = API_SPI_Receivemsg(ifd_pmu, reply, PMU_CMD_DISPLAY_POWER_STATE);
    pthread_mutex_unlock(&s_spi_mutex);
    if (result != API_ERR_NONE)
        return result;
    b_PowerState = reply[2] == 1 ? 1 : 0;
    *state = b_PowerState;
    return API_ERR_NONE;
}

extern "C" int API_Display_SetPowerState(int on)
{
    int result = API_SPI_PmuSendRecv(on == 1 ? PMU_CMD_DISPLAY_POWER_ON : PMU_CMD_DISPLAY_POWER_OFF, 0);
    if (result == API_ERR_NONE)
        b_PowerState = on == 1 ? 1 : 0;
    return result;
}

// ---------------------------------------------------------------------------
// Drawing

// Sloped lines: one pixel per column on the row nearest the ideal line at the
// column's centre (shallow lines come out as Bresenham's); a steep line also
// lights, in each column, the rows the ideal line passes through up to the
// column's right edge, so consecutive columns share no row and leave no gap;
// the last column runs on to the far end's row.  The ideal line is the
// running sum of the single-precision slope.
int drawline(int x0, int y0, int x1, int y1)
{
    if (x0 == x1 || y0 == y1) {
        const bool vertical = x0 == x1;
        const long long from = vertical ? std::min(y0, y1) : std::min(x0, x1);
        const long long to = vertical ? std::max(y0, y1) : std::max(x0, x1);
        for (long long at = from; at <= to; ++at) {
            if (s_SetPixel(vertical ? x0 : at, vertical ? at : y0, 1) != API_ERR_NONE)
                return API_ERR_UNDEFINED_PIXEL_COORDINATES;
        }
        return API_ERR_NONE;
    }

    const float slope = static_cast<float>(static_cast<long long>(y1) - y0) /
                        static_cast<float>(static_cast<long long>(x1) - x0);
    const int xa = x0 < x1 ? x0 : x1;
    const int xb = x0 < x1 ? x1 : x0;
    const long long ya = x0 < x1 ? y0 : y1;
    const long long yb = x0 < x1 ? y1 : y0;
    const long long direction = yb > ya ? 1 : -1;
    const long long total = (yb - ya) * direction;  // rows to travel
    const float rowsPerColumn = fabsf(slope);

    float ideal = 0.0f;    // running sum: the ideal line's travel at this column's centre
    long long travel = 0;  // rows travelled by the pen
    for (long long x = xa; x <= xb; ++x) {
        if (s_SetPixel(x, ya + direction * travel, 1) != API_ERR_NONE)
            return API_ERR_UNDEFINED_PIXEL_COORDINATES;
        long long reach = total;
        if (x < xb)
            reach = std::min(total, static_cast<long long>(floorf(ideal + rowsPerColumn / 2.0f)));
        // Rows stepped through inside the column; those off the screen are
        // skipped without walking them one by one.
        long long first = travel + 1;
        long long last = reach;
        const long long onScreenA = (0 - ya) * direction;
        const long long onScreenB = (s_last_row - ya) * direction;
        first = std::max(first, std::min(onScreenA, onScreenB));
        last = std::min(last, std::max(onScreenA, onScreenB));
        for (long long step = first; step <= last; ++step)
            s_SetPixel(x, ya + direction * step, 1);
        travel = std::max(travel, reach);

        ideal += rowsPerColumn;
        if (travel < total && ideal >= static_cast<float>(travel) + 0.5f)
            ++travel;
    }
    return API_ERR_NONE;
}

extern "C" int API_Display_SetPixel(int x, int y, int value)
{
    ScopedLock lock(display_mutex);
    return set_pixel(x, y, value) == API_ERR_NONE ? API_ERR_NONE : API_ERR_SET_CLEAR_PIXEL;
}

extern "C" int API_Display_DrawLine(int x0, int y0, int x1, int y1)
{
    if (x0 > s_last_column || x1 > s_last_column || y0 > s_last_row || y1 > s_last_row || (x0 == x1 && y0 == y1))
        return API_ERR_INVALID_RECTANGLE_COORDINATES;
    ScopedLock lock(display_mutex);
    return drawline(x0, y0, x1, y1);
}

extern "C" int API_Display_DrawRect(int x0, int y0, int x1, int y1, int fill)
{
    if (x0 > s_last_column || x1 > s_last_column || y0 > s_last_row || y1 > s_last_row || y0 == y1 || x0 == x1)
        return API_ERR_INVALID_RECTANGLE_COORDINATES;
    ScopedLock lock(display_mutex);
    drawline(x0, y0, x1, y0);
    drawline(x1, y0, x1, y1);
    drawline(x0, y1, x1, y1);
    drawline(x0, y0, x0, y1);
    // Rows above the screen draw nothing: the fill starts at the first
    // one on it, however far up the corner lies.
    if (fill == 1) {
        for (int y = std::max(std::min(y0, y1), 0); y <= std::max(y0, y1); ++y)
            drawline(x0, y, x1, y);
    }
    return API_ERR_NONE;
}

// Midpoint circle with the decision value scaled by 4.
extern "C" int API_Display_DrawCircle(int radius, int cx, int cy)
{
    if (cx > DISPLAY_COLUMNS || radius > 140 || cy > DISPLAY_PAGES * 8 || cx < 0 || cy < 0)
        return API_ERR_SET_CLEAR_PIXEL;
    // Nothing to draw; also keeps 4 * radius from overflowing.
    if (radius <= 0)
        return API_ERR_NONE;
    ScopedLock lock(display_mutex);
    int x = radius;
    int i = 0;
    int d = 5 - 4 * radius;
    while (x > i) {
        const int points[8][2] = {{cx + i, cy + x}, {cx + x, cy + i}, {cx - i, cy + x}, {cx - x, cy + i},
                                  {cx + i, cy - x}, {cx + x, cy - i}, {cx - i, cy - x}, {cx - x, cy - i}};
        for (const auto &point : points)
            set_pixel(point[0], point[1], 1);
        ++i;
        if (d > 0) {
            --x;
            d -= 8 * x;
        }
        d += 8 * i + 4;
    }
    return API_ERR_NONE;
}

// ---------------------------------------------------------------------------
// Text

extern "C" int API_Display_PrintText(int x, int y, unsigned int size, const char *text)
{
    ScopedLock lock(display_mutex);
    if (size > 3)
        return API_ERR_INVALID_FONT_SIZE;
    if (y > s_last_row || x > s_last_column)
        return API_ERR_SET_CLEAR_PIXEL;
    if (s_IsEmpty(text))
        return API_ERR_NONE;

    int result = API_ERR_NONE;
    const int width = s_CellWidth(size);
    long long cellX = x;
    // Text bytes are unsigned whatever the platform's char.
    for (const unsigned char *at = reinterpret_cast<const unsigned char *>(text); *at; ++at, cellX += width) {
        if (*at >= API_DISPLAY_USER_CHAR_FIRST && *at <= API_DISPLAY_USER_CHAR_LAST) {
            if (const UserCharacter *character = s_FindUserCharacter(*at, size))
                s_DrawUserCharacter(cellX, y, *character);
            continue;
        }
        const unsigned char *glyph = s_FindSmallGlyph(*at);
        if (glyph && !s_DrawSmallGlyph(cellX, y, size, glyph, result))
            return result;
    }
    return result;
}

extern "C" int API_Display_PrintText2(int x, int y, const char *text)
{
    ScopedLock lock(display_mutex);
    if (x > s_last_column || y > s_last_row)
        return API_ERR_SET_CLEAR_PIXEL;
    int result = API_ERR_NONE;
    if (s_IsEmpty(text))
        return result;
    for (const unsigned char *at = reinterpret_cast<const unsigned char *>(text); *at; ++at) {
        const unsigned char *record = s_FindWideGlyph(*at);
        const int width = s_AdvanceWidth(record);
        if (record) {
            for (int c = 0; c < std::min(width, NEW_BMP_COLUMNS); ++c) {
                for (int r = 0; r < NEW_BMP_ROWS; ++r) {
                    if (s_WidePixel(record, c, r))
                        result = s_SetPixel(static_cast<long long>(x) + c, static_cast<long long>(y) + r, 1);
                }
            }
        }
        x += width + 1;
        if (x > s_last_column)
            break;
    }
    return result;
}

extern "C" int API_Display_PrintText3(int x, int y, float scale, const char *text)
{
    ScopedLock lock(display_mutex);
    if (x > s_last_column || y > s_last_row)
        return API_ERR_SET_CLEAR_PIXEL;
    int result = API_ERR_NONE;
    if (s_IsEmpty(text))
        return result;
    // Not a number, infinite or absurdly large: the sizes below would overflow.
    if (!(fabsf(scale) <= s_max_text_scale))
        return API_ERR_SET_CLEAR_PIXEL;
    // Wider than int: a negative scale walks the position down over unknown
    // characters.  A glyph is drawn only at a scale of 1 or more, where the
    // position has only grown from x, so it is an int again there.
    long long position = x;
    for (const unsigned char *at = reinterpret_cast<const unsigned char *>(text); *at; ++at) {
        const unsigned char *record = s_FindWideGlyph(*at);
        if (record) {
            if (!(scale >= 1.0f))
                return API_ERR_SET_CLEAR_PIXEL;
            result = s_DrawStretchedGlyph(static_cast<int>(position), y, scale, record, result);
        }
        position += s_Stretched(scale, s_AdvanceWidth(record)) + 1;
        if (position > s_last_column)
            break;
    }
    return result;
}

extern "C" int API_Display_SetuserCharacter(unsigned char code, unsigned int size, const int *bits)
{
    if (code < API_DISPLAY_USER_CHAR_FIRST || code > API_DISPLAY_USER_CHAR_LAST)
        return API_ERR_INVALID_CHARACTER;
    if (size > 3)
        return API_ERR_INVALID_FONT_SIZE;
    if (bits == nullptr)
        return API_ERR_INVALID_PARAMETERS;

    // Held although definitions are expected before any text is drawn: a
    // definition racing a text would otherwise walk a list being changed.
    ScopedLock lock(display_mutex);
    for (const UserCharacter *record = l_user_chars; record; record = record->next) {
        if (record->code == code)
            return API_ERR_USER_CHARACTER_ALREADY_DEFINED;
    }
    UserCharacter *record = static_cast<UserCharacter *>(malloc(sizeof *record));
    if (record == nullptr)
        return API_ERR_ALLOCATE_MEMORY;
    const int elements = s_user_elements[size];
    record->bits = static_cast<unsigned char *>(malloc(2 * static_cast<size_t>(elements)));
    if (record->bits == nullptr) {
        free(record);
        return API_ERR_ALLOCATE_MEMORY;
    }
    for (int n = 0; n < elements; ++n) {
        record->bits[2 * n] = static_cast<unsigned char>((bits[n] >> 8) & 0xFF);
        record->bits[2 * n + 1] = static_cast<unsigned char>(bits[n] & 0xFF);
    }
    record->code = code;
    record->size = size;
    record->next = l_user_chars;
    l_user_chars = record;
    return API_ERR_NONE;
}
