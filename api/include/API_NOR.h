/** @file
 * NOR flash parameter store: byte-addressed access to "/dev/mtd3", where the
 * units keep their persistent settings from API_NOR_PARAM_BASE on.  Flash
 * programming only clears bits; the API issues no erase.  With the store
 * closed every access fails with ::API_ERR_NOR_FLASH_SEEK. */
#ifndef API_NOR_H
#define API_NOR_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Start of the parameter area. */
#define API_NOR_PARAM_BASE 0x39000
/** Size of the parameter area in bytes. */
#define API_NOR_PARAM_SIZE 1089

/** Opens "/dev/mtd3" (feature bit ::API_INIT_NOR).
 * @return 0, or ::API_ERR_NOR_FLASH_INITIALIZATION. */
int API_NOR_Init(void);
/** Closes "/dev/mtd3" when it is open.
 * @return 0, or ::API_ERR_NOR_FLASH_CLEANUP when the close fails. */
int API_NOR_Cleanup(void);
/** Writes bytes at an address of the partition.
 * @param address 0x39000 to 0x7FFFFE.
 * @param data the bytes.
 * @param length their count.
 * @param[out] written receives `length` on success.
 * @return 0; ::API_ERR_INVALID_NOR_FLASH_ADDRESS; ::API_ERR_INVALID_PARAMETERS
 *   for null pointers; ::API_ERR_NOR_FLASH_SEEK; ::API_ERR_NOR_FLASH_WRITE for a
 *   short write (bytes already programmed stay). */
int API_Flash_WriteData(unsigned address, const char *data, int length, int *written);
/** Reads bytes at an address of the partition.
 * @param address 0x39000 to 0x7FFFFE.
 * @param[out] buffer receives the bytes.
 * @param size their count.
 * @param[out] read receives the count obtained.
 * @return 0; ::API_ERR_INVALID_NOR_FLASH_ADDRESS; ::API_ERR_INVALID_PARAMETERS;
 *   ::API_ERR_NOR_FLASH_SEEK; ::API_ERR_NOR_FLASH_READ for a short read. */
int API_Flash_ReadData(unsigned address, void *buffer, int size, int *read);
/** API_Flash_WriteData without the address test, for the API's own use.
 * @param address any offset of the partition.
 * @param data the bytes.
 * @param length their count.
 * @param[out] written always receives the count written.
 * @return 0; ::API_ERR_INVALID_PARAMETERS; ::API_ERR_NOR_FLASH_SEEK;
 *   ::API_ERR_NOR_FLASH_WRITE. */
int API_Flash_APIWriteData(int address, const void *data, int length, int *written);
/** API_Flash_ReadData without the address test, for the API's own use.
 * @param address any offset of the partition.
 * @param[out] buffer receives the bytes.
 * @param size their count.
 * @param[out] read always receives the count read.
 * @return 0; ::API_ERR_INVALID_PARAMETERS; ::API_ERR_NOR_FLASH_SEEK;
 *   ::API_ERR_NOR_FLASH_READ. */
int API_Flash_APIReadData(int address, void *buffer, int size, int *read);
/** Whether a stored parameter was ever written (erased flash reads 0xFF).
 * @param data the parameter's bytes.
 * @param length their count.
 * @return 0, or ::API_ERR_NOR_PARAMETER_NOT_INITIALIZED when every byte is
 *   0xFF (with a message on standard output). */
int API_NOR_Check_Blank_Param(const char *data, int length);
/** Whether stored bytes hold a text: letters, digits, blank, '-', '.', '@'
 * and '_' up to a zero byte (an empty text is one).
 * @param text the parameter's bytes.
 * @param length their count.
 * @return 0, or ::API_ERR_NOR_PARAMETER_INVALID_STRING (with a message on
 *   standard output). */
int API_NOR_Check_String_Param(const char *text, int length);
/** Reads the whole parameter area and writes the same bytes back.
 * @return 0; ::API_ERR_MEMORY_ALLOCATION; ::API_ERR_NOR_FLASH_READ;
 *   ::API_ERR_NOR_FLASH_WRITE. */
int API_RevertTS9ToDefault(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
