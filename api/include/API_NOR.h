/* NOR flash parameter store: byte-addressed access to "/dev/mtd3". */
#ifndef API_NOR_H
#define API_NOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Start of the parameter area and its size in bytes. */
#define API_NOR_PARAM_BASE 0x39000
#define API_NOR_PARAM_SIZE 1089

int API_NOR_Init(void);
int API_NOR_Cleanup(void);
/* Address-tested access (0x39000 to 0x7FFFFE) for the units. */
int API_Flash_WriteData(unsigned address, const char *data, int length, int *written);
int API_Flash_ReadData(unsigned address, void *buffer, int size, int *read);
/* The same without the address test, for the API's own use. */
int API_Flash_APIWriteData(int address, const void *data, int length, int *written);
int API_Flash_APIReadData(int address, void *buffer, int size, int *read);
int API_NOR_Check_Blank_Param(const char *data, int length);
int API_NOR_Check_String_Param(const char *text, int length);
/* Writes the default parameter records back: 0, 83 when a write fails, 81
 * when no buffer can be had. */
int API_RevertTS9ToDefault(void);

#ifdef __cplusplus
}
#endif

#endif
