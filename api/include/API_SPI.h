/** @file
 * PMU link over SPI: 4-byte messages 0x02, command, parameter, XOR of the
 * three, on "/dev/pmu".  Every exchange is a request and one reply; the
 * codes of a failed exchange (the PMU link's codes, which the units that use
 * the PMU return unchanged) are those of API_SPI_Sendmsg and
 * API_SPI_Receivemsg. */
#ifndef API_SPI_H
#define API_SPI_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/** Nothing to prepare (feature bit ::API_INIT_SPI).
 * @return 0. */
int API_SPI_Initialize(void);
/** Destroys the lock of the link.
 * @return 0, or the result of destroying it. */
int API_SPI_Finalize(void);
/** Sends one request, 20 ms after being called.  Takes no lock: a caller that
 * needs the reply's data holds the link for request and reply.
 * @param fd descriptor of "/dev/pmu".
 * @param command PMU command code.
 * @param parameter its parameter or data byte.
 * @return 0, or ::API_ERR_WRITING_SPI when fewer than 4 bytes were written. */
int API_SPI_Sendmsg(int fd, unsigned char command, unsigned char parameter);
/** Reads one reply and checks it; its data value is the third byte.
 * @param fd descriptor of "/dev/pmu".
 * @param[out] reply 4 bytes, or null to discard the reply.
 * @param expected the command code the reply must carry.
 * @return 0; ::API_ERR_READING_FROM_SPI for a short read;
 *   ::API_ERR_CHECKSUM_TEST; ::API_ERR_SPI_TRANSMISSION when the PMU reports a
 *   failed transmission; ::API_ERR_INVALID_COMMAND_RETURNED_PMU_QUERY for a
 *   reply to another command. */
int API_SPI_Receivemsg(int fd, unsigned char *reply, unsigned char expected);
/** One exchange whose reply is only an acknowledgement, under the link's
 * lock.
 * @param fd descriptor of "/dev/pmu".
 * @param command PMU command code.
 * @param parameter its parameter byte.
 * @return 0, or the code of API_SPI_Sendmsg or API_SPI_Receivemsg. */
int API_SPI_SendRecv(int fd, unsigned char command, unsigned char parameter);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif

#endif
