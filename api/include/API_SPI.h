/* PMU link over SPI: 4-byte messages 0x02, command, parameter, XOR of the three. */
#ifndef API_SPI_H
#define API_SPI_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int API_SPI_Initialize(void);
int API_SPI_Finalize(void);
int API_SPI_Sendmsg(int fd, unsigned char command, unsigned char parameter);
int API_SPI_Receivemsg(int fd, unsigned char *reply, unsigned char expected);
int API_SPI_SendRecv(int fd, unsigned char command, unsigned char parameter);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
