/** @file
 * The 128 x 64 display: a screen mirror in memory, flushed page by page (8
 * rows each) to "/dev/display".  Drawing and text change the mirror only;
 * API_Display_Update makes the changed pages visible.  Coordinates: x 0 to
 * 127 from the left, y 0 to 63 from the top. */
#ifndef API_DISPLAY_H
#define API_DISPLAY_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define API_DISPLAY_WIDTH 128 /**< columns */
#define API_DISPLAY_HEIGHT 64 /**< rows */
/** First code of the characters an application may define. */
#define API_DISPLAY_USER_CHAR_FIRST 0x90
/** Last code of the characters an application may define. */
#define API_DISPLAY_USER_CHAR_LAST 0x9F

/** Opens (or reopens) "/dev/display" and starts a blank mirror (feature bit
 * ::API_INIT_DISPLAY).
 * @return 0; ::API_ERR_OPEN_FILE when the device cannot be opened; -1 when
 *   the mirror cannot be allocated (the old one stays). */
int API_Display_Reset(void);
/** Nothing to prepare; runs after a successful API_Display_Reset.
 * @return 0. */
int API_Display_Initialize(void);
/** Frees the user-defined characters.  The device stays open.
 * @return 0. */
int API_Display_Cleanup(void);
/** Sends the changed pages of the mirror to the display.
 * @return 0; ::API_ERR_OPEN_DEV_DISPLAY while the device is not open;
 *   ::API_ERR_UNDEFINED_PIXEL_COORDINATES when a page cannot be sent (it
 *   stays marked for the next update). */
int API_Display_Update(void);
/** Blanks the mirror and the screen.
 * @return as API_Display_Update. */
int API_Display_Clear(void);
/** Sets the contrast.
 * @param level the low 8 bits are sent.
 * @return 0; ::API_ERR_OPEN_DEV_DISPLAY while the device is not open;
 *   ::API_ERR_UNDEFINED_PIXEL_COORDINATES when the command cannot be sent. */
int API_Display_SetBrightness(int level);
/** Whether the display's supply is on, from the PMU.
 * @param[out] state 1 on, 0 off; written only when the PMU answered.
 * @return 0; ::API_ERR_INVALID_PARAMETERS for null; a code of the PMU link
 *   (API_SPI.h). */
int API_Display_GetPowerState(int *state);
/** Switches the display's supply through the PMU.
 * @param on 1 on, any other value off.
 * @return 0, or a code of the PMU link. */
int API_Display_SetPowerState(int on);
/** Changes one pixel of the mirror.
 * @param x column.
 * @param y row.
 * @param value 1 lights the pixel, any other value clears it.
 * @return 0, or ::API_ERR_SET_CLEAR_PIXEL outside the screen. */
int API_Display_SetPixel(int x, int y, int value);
/** Lights the pixels of a segment; those outside the screen are left out.
 * @param x0 first end's column.
 * @param y0 first end's row.
 * @param x1 second end's column.
 * @param y1 second end's row.
 * @return 0; ::API_ERR_INVALID_RECTANGLE_COORDINATES when a column exceeds
 *   127, a row exceeds 63 or both ends are one point;
 *   ::API_ERR_UNDEFINED_PIXEL_COORDINATES when a pixel falls outside. */
int API_Display_DrawLine(int x0, int y0, int x1, int y1);
/** Draws a rectangle's outline, filled or not.
 * @param x0 first corner's column.
 * @param y0 first corner's row.
 * @param x1 opposite corner's column.
 * @param y1 opposite corner's row.
 * @param fill 1 fills the inside too.
 * @return 0, or ::API_ERR_INVALID_RECTANGLE_COORDINATES when a column exceeds
 *   127, a row exceeds 63, or the corners share a row or a column. */
int API_Display_DrawRect(int x0, int y0, int x1, int y1, int fill);
/** Draws a circle's outline; its pixels outside the screen are left out.
 * @param radius pixels, at most 140; 0 or less draws nothing.
 * @param cx centre's column, 0 to 128.
 * @param cy centre's row, 0 to 64.
 * @return 0, or ::API_ERR_SET_CLEAR_PIXEL for a centre or radius out of
 *   range. */
int API_Display_DrawCircle(int radius, int cx, int cy);
/** Writes text in the small font, user-defined characters included.
 * @param x column of the first cell's top-left corner.
 * @param y row of the first cell's top-left corner.
 * @param size cells of 7 x 5 (0), 14 x 10 (1), 28 x 20 (2) or 56 x 40 (3).
 * @param text a zero-terminated byte string.
 * @return 0; ::API_ERR_INVALID_FONT_SIZE; ::API_ERR_SET_CLEAR_PIXEL;
 *   ::API_ERR_UNDEFINED_PIXEL_COORDINATES. */
int API_Display_PrintText(int x, int y, unsigned int size, const char *text);
/** Writes text in the proportional font, 15 rows high, one to one.
 * @param x column of the text's top-left corner.
 * @param y row of the text's top-left corner.
 * @param text a zero-terminated byte string.
 * @return 0; ::API_ERR_SET_CLEAR_PIXEL; ::API_ERR_UNDEFINED_PIXEL_COORDINATES. */
int API_Display_PrintText2(int x, int y, const char *text);
/** Writes text in the proportional font, stretched.
 * @param x column of the text's top-left corner.
 * @param y row of the text's top-left corner.
 * @param scale 1.0 to 1000.0.
 * @param text a zero-terminated byte string.
 * @return 0; ::API_ERR_SET_CLEAR_PIXEL; ::API_ERR_UNDEFINED_PIXEL_COORDINATES. */
int API_Display_PrintText3(int x, int y, float scale, const char *text);
/** Defines a character of API_Display_PrintText for one text size.
 * @param code ::API_DISPLAY_USER_CHAR_FIRST to ::API_DISPLAY_USER_CHAR_LAST.
 * @param size text size 0 to 3.
 * @param bits 3, 9, 35 or 140 elements (size 0 to 3), each carrying 16 glyph
 *   bits in its low 16 bits, bit 15 first; the cell's bits run row after row
 *   from its top-left pixel.
 * @return 0; ::API_ERR_INVALID_CHARACTER; ::API_ERR_INVALID_FONT_SIZE;
 *   ::API_ERR_INVALID_PARAMETERS for null; ::API_ERR_USER_CHARACTER_ALREADY_DEFINED;
 *   ::API_ERR_ALLOCATE_MEMORY. */
int API_Display_SetuserCharacter(unsigned char code, unsigned int size, const int *bits);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
