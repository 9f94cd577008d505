/* The 128 x 64 display: a screen mirror in memory, flushed page by page to
 * "/dev/display"; drawing and text change the mirror only, and
 * API_Display_Update makes the changed pages visible.
 *
 * Coordinates: x 0 to 127 from the left, y 0 to 63 from the top. */
#ifndef API_DISPLAY_H
#define API_DISPLAY_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define API_DISPLAY_WIDTH 128
#define API_DISPLAY_HEIGHT 64

/* First and last code of the characters an application may define. */
#define API_DISPLAY_USER_CHAR_FIRST 0x90
#define API_DISPLAY_USER_CHAR_LAST 0x9F

/* Device and frame buffer.  While "/dev/display" is not open, the operations
 * that write to it return 56 and write nothing. */
int API_Display_Reset(void);
int API_Display_Initialize(void);
int API_Display_Cleanup(void);
int API_Display_Update(void);
int API_Display_Clear(void);
/* Contrast: the low 8 bits of `level`. */
int API_Display_SetBrightness(int level);
/* 1 on, 0 off; `*state` is written only when the PMU answered. */
int API_Display_GetPowerState(int *state);
/* 1 switches the supply on, any other value off. */
int API_Display_SetPowerState(int on);

/* Drawing: value 1 lights a pixel, any other value clears it. */
int API_Display_SetPixel(int x, int y, int value);
int API_Display_DrawLine(int x0, int y0, int x1, int y1);
/* fill 1 fills the inside too. */
int API_Display_DrawRect(int x0, int y0, int x1, int y1, int fill);
int API_Display_DrawCircle(int radius, int cx, int cy);

/* Small font in cells of 7 x 5 (size 0), 14 x 10, 28 x 20 or 56 x 40 (size 3);
 * (x, y) is the top-left corner of the first cell.  Draws user characters. */
int API_Display_PrintText(int x, int y, unsigned int size, const char *text);
/* Proportional font, 15 rows high, one to one. */
int API_Display_PrintText2(int x, int y, const char *text);
/* Proportional font stretched by `scale` (1.0 to 1000.0). */
int API_Display_PrintText3(int x, int y, float scale, const char *text);

/* Defines character `code` (0x90 to 0x9F) for text size `size`.  `bits` holds
 * 3, 9, 35 or 140 elements (size 0 to 3), each carrying 16 glyph bits in its
 * low 16 bits, bit 15 first; the glyph's W x H bits run row after row from the
 * top-left pixel of the cell. */
int API_Display_SetuserCharacter(unsigned char code, unsigned int size, const int *bits);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
