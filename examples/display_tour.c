/* A tour of the receiver's display: every drawing primitive, every glyph of
 * the small font at its four sizes, every glyph of the proportional font one
 * to one and stretched, and characters of the application's own at each
 * size, one screen after the other; it ends on a summary screen.
 *
 * Exit status 0 when every call succeeded; otherwise the failed calls are
 * listed on standard error. */
#include <stdio.h>
#include <string.h>

#include "API.h"

/* How long each screen stays up, in ms of the receiver's time. */
#define SCREEN_MS 500

static int failures;

static void check(int result, const char *call, int line)
{
    if (result != 0) {
        fprintf(stderr, "display_tour: %s (line %d) returned %d\n", call, line, result);
        failures++;
    }
}
#define CHECK(call) check((call), #call, __LINE__)

static void show(void)
{
    CHECK(API_Display_Update());
    CHECK(API_Sleep(SCREEN_MS));
}

static void title(const char *text)
{
    CHECK(API_Display_Clear());
    CHECK(API_Display_PrintText(0, 0, 0, text));
}

static void primitives(void)
{
    int x, y, i;
    title("PRIMITIVES");
    for (y = 8; y < 24; y++)
        for (x = 0; x < 16; x++)
            CHECK(API_Display_SetPixel(x, y, (x + y) % 2));
    /* A fan of lines: flat, steep, rising and falling. */
    for (i = 0; i <= 4; i++) {
        CHECK(API_Display_DrawLine(20, 8 + 4 * i, 50, 24 - 4 * i));
        CHECK(API_Display_DrawLine(54 + 4 * i, 8, 70 - 4 * i, 24));
    }
    CHECK(API_Display_DrawLine(0, 63, 127, 28));
    CHECK(API_Display_DrawRect(76, 8, 96, 24, 0));
    CHECK(API_Display_DrawRect(100, 8, 124, 24, 1));
    CHECK(API_Display_DrawRect(2, 30, 30, 60, 0));
    CHECK(API_Display_DrawRect(8, 36, 24, 54, 1));
    for (i = 2; i <= 14; i += 4)
        CHECK(API_Display_DrawCircle(i, 56, 46));
    CHECK(API_Display_DrawCircle(12, 96, 46));
    CHECK(API_Display_DrawCircle(3, 96, 46));
    show();
}

/* The small font's 96 glyphs: 0x20 to 0x7E and 0xA1. */
static void small_font(void)
{
    char glyphs[97];
    unsigned int size;
    int count = 0, c;
    for (c = 0x20; c <= 0x7E; c++)
        glyphs[count++] = (char)c;
    glyphs[count++] = (char)0xA1;
    for (size = 0; size <= 3; size++) {
        int width = 7 << size, height = 5 << size;
        int columns = API_DISPLAY_WIDTH / width, rows = (API_DISPLAY_HEIGHT - 8) / height;
        int next = 0;
        if (rows == 0)
            rows = 1;
        while (next < count) {
            char heading[24];
            int row;
            snprintf(heading, sizeof heading, "SMALL FONT SIZE %u", size);
            title(heading);
            for (row = 0; row < rows && next < count; row++) {
                char line[20];
                int n = count - next < columns ? count - next : columns;
                memcpy(line, glyphs + next, (size_t)n);
                line[n] = '\0';
                CHECK(API_Display_PrintText(0, 8 + row * height, size, line));
                next += n;
            }
            show();
        }
    }
}

/* The proportional font's 83 glyphs, in lines that fit the screen. */
static const char *const kProportional[] = {
    "abcdefghijklm", "nopqrstuvwxyz", "0123456789", "ABCDEFGHIJK", "LMNOPQRSTU", "VWXYZ", "!+:?*/_,;%=", "-.'()&#[]",
};
#define PROPORTIONAL_LINES (sizeof kProportional / sizeof kProportional[0])

static void proportional_font(void)
{
    size_t line;
    title("PROPORTIONAL FONT");
    for (line = 0; line < PROPORTIONAL_LINES; line++) {
        int slot = (int)line % 3;
        if (line > 0 && slot == 0) {
            show();
            title("PROPORTIONAL FONT");
        }
        CHECK(API_Display_PrintText2(0, 8 + 18 * slot, kProportional[line]));
    }
    show();
    /* Stretched twice: four glyphs a line, two lines a screen. */
    for (line = 0; line < PROPORTIONAL_LINES; line++) {
        const char *text = kProportional[line];
        size_t at;
        for (at = 0; at < strlen(text); at += 8) {
            char part[9];
            int half;
            CHECK(API_Display_Clear());
            for (half = 0; half < 2; half++) {
                size_t start = at + (size_t)half * 4;
                if (start >= strlen(text))
                    break;
                snprintf(part, 5, "%s", text + start);
                CHECK(API_Display_PrintText3(0, 32 * half, 2.0f, part));
            }
            show();
        }
    }
    title("SCALE 1.5 AND 3");
    CHECK(API_Display_PrintText3(0, 7, 1.5f, "Ab1.5"));
    CHECK(API_Display_PrintText3(64, 18, 3.0f, "Ab"));
    show();
}

/* The same antenna at every size: each pixel of the 7 x 5 pattern becomes a
 * block of 2^size pixels. */
static const char *const kAntenna[5] = {"#.#.#..", ".###...", "..#..##", "..#.#.#", ".###.##"};
/* Battery gauges of 0 to 3 bars, at size 0. */
static const char *const kBattery[5] = {"#####..", "#...##.", "#...##.", "#...##.", "#####.."};

static void pack(const char *const pattern[5], unsigned int size, int bars, int *bits)
{
    int width = 7 << size, height = 5 << size, k;
    memset(bits, 0, 140 * sizeof *bits);
    for (k = 0; k < width * height; k++) {
        int column = (k % width) >> size, row = (k / width) >> size;
        int lit = pattern[row][column] == '#' || (row >= 1 && row <= 3 && column >= 1 && column <= bars);
        if (lit)
            bits[k / 16] |= 1 << (15 - k % 16);
    }
}

static void user_characters(void)
{
    int bits[140];
    unsigned int size;
    int bars;
    char text[8];
    for (size = 0; size <= 3; size++) {
        pack(kAntenna, size, 0, bits);
        CHECK(API_Display_SetuserCharacter((unsigned char)(API_DISPLAY_USER_CHAR_FIRST + size), size, bits));
    }
    for (bars = 0; bars <= 3; bars++) {
        pack(kBattery, 0, bars, bits);
        CHECK(API_Display_SetuserCharacter((unsigned char)(API_DISPLAY_USER_CHAR_FIRST + 4 + bars), 0, bits));
    }
    title("USER CHARACTERS");
    for (size = 0; size <= 2; size++) {
        text[0] = (char)(API_DISPLAY_USER_CHAR_FIRST + size);
        text[1] = '\0';
        CHECK(API_Display_PrintText(4 + 18 * (int)size * (int)size, 16, size, text));
    }
    text[0] = (char)(API_DISPLAY_USER_CHAR_FIRST + 4);
    text[1] = (char)(API_DISPLAY_USER_CHAR_FIRST + 5);
    text[2] = (char)(API_DISPLAY_USER_CHAR_FIRST + 6);
    text[3] = (char)(API_DISPLAY_USER_CHAR_FIRST + 7);
    text[4] = '\0';
    CHECK(API_Display_PrintText(4, 48, 0, text));
    show();
    CHECK(API_Display_Clear());
    text[0] = (char)(API_DISPLAY_USER_CHAR_FIRST + 3);
    text[1] = '\0';
    CHECK(API_Display_PrintText(36, 12, 3, text));
    show();
}

/* What stays on the screen: a little of everything. */
static void summary(void)
{
    char text[4];
    CHECK(API_Display_Clear());
    CHECK(API_Display_DrawRect(0, 0, 127, 63, 0));
    CHECK(API_Display_PrintText2(4, 3, "Display tour"));
    CHECK(API_Display_PrintText(4, 21, 0, "SMALL FONT SIZE 0"));
    CHECK(API_Display_PrintText(4, 29, 1, "Ab1"));
    CHECK(API_Display_PrintText3(52, 27, 1.5f, "Xy"));
    text[0] = (char)(API_DISPLAY_USER_CHAR_FIRST + 1);
    text[1] = '\0';
    CHECK(API_Display_PrintText(4, 44, 1, text));
    text[0] = (char)(API_DISPLAY_USER_CHAR_FIRST + 4);
    text[1] = (char)(API_DISPLAY_USER_CHAR_FIRST + 7);
    text[2] = '\0';
    CHECK(API_Display_PrintText(22, 49, 0, text));
    CHECK(API_Display_DrawCircle(10, 106, 44));
    CHECK(API_Display_DrawRect(100, 38, 112, 50, 1));
    CHECK(API_Display_DrawLine(40, 60, 90, 53));
    CHECK(API_Display_Update());
}

int main(void)
{
    int on = 0;
    CHECK(API_Initialize(API_INIT_CONFIG | API_INIT_SPI | API_INIT_PM | API_INIT_DISPLAY | API_INIT_NO_AUTOSTART));
    CHECK(API_Display_SetPowerState(1));
    CHECK(API_Display_GetPowerState(&on));
    if (!on) {
        fprintf(stderr, "display_tour: the display did not switch on\n");
        failures++;
    }
    CHECK(API_Display_SetBrightness(0x80));
    primitives();
    small_font();
    proportional_font();
    user_characters();
    summary();
    API_Finalize();
    if (failures)
        fprintf(stderr, "display_tour: %d calls failed\n", failures);
    return failures ? 1 : 0;
}
