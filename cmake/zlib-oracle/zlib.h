/* Stand-in for zlib's checksum interface in cross builds whose target tree has
 * no zlib: the tests use zlib only as an Adler-32 oracle.  Declares the one
 * call they make, with zlib's types. */
#ifndef ORVA_ZLIB_ORACLE_H
#define ORVA_ZLIB_ORACLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned char Bytef;
typedef unsigned int uInt;
typedef unsigned long uLong;

/* Adler-32 of buf[0..len) continued from adler; a null buf gives the
 * initial value 1. */
uLong adler32(uLong adler, const Bytef *buf, uInt len);

#ifdef __cplusplus
}
#endif

#endif
