/** @file
 * Electrical mode of the UHF radio's serial line, set through "/dev/gpio"
 * (API_Signal_Initialize opens it) and kept in the NOR parameter area. */
#ifndef API_SERIAL_EXTUHF_H
#define API_SERIAL_EXTUHF_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Sets the line's mode and stores it.
 * @param mode 0 RS-232, 1 the other mode.
 * @return 0; ::API_ERR_INVALID_SERIALMODE_EXTERNAL_UHF for another mode;
 *   ::API_ERR_EXTERNAL_UHF_IOCTL (nothing stored); the codes of
 *   API_Flash_WriteData. */
int API_EXTUHF_SetSerialMode(int mode);
/** The line's present mode, from the driver.
 * @param[out] mode 0 or 1.
 * @return 0, or ::API_ERR_EXTERNAL_UHF_IOCTL. */
int API_EXTUHF_GetSerialMode(int *mode);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
