/* Adler-32 as RFC 1950 defines it, one byte at a time and reduced at every
 * step: slow and plain on purpose, so that it shares nothing with the
 * loader's version it checks. */
#include "zlib.h"

#define ADLER_MODULUS 65521UL

uLong adler32(uLong adler, const Bytef *buf, uInt len)
{
    uLong a = adler & 0xFFFFUL;
    uLong b = (adler >> 16) & 0xFFFFUL;
    uInt i;

    if (buf == 0)
        return 1UL;
    for (i = 0; i < len; i++) {
        a = (a + buf[i]) % ADLER_MODULUS;
        b = (b + a) % ADLER_MODULUS;
    }
    return (b << 16) | a;
}
