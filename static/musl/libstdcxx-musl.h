/* Read before every C++ source compiled against musl with the cross
 * compiler's libstdc++ headers, which were configured for glibc. */
#ifndef ORVA_LIBSTDCXX_MUSL_H
#define ORVA_LIBSTDCXX_MUSL_H

#ifdef __cplusplus
/* The headers ask glibc's version to learn what the C library offers; musl
 * offers what they ask of glibc 2.34: pthread_self() without libpthread, no
 * obsolete isinf/isnan, and every pthread function in libc itself, so the
 * thread primitives are called directly, not through weak references that a
 * static link can leave null (std::mutex would then not lock). */
#define __GLIBC_PREREQ(major, minor) ((major) < 2 || ((major) == 2 && (minor) <= 34))

#include <locale.h>
typedef locale_t __locale_t;

/* The character classes of <locale> are glibc's bits, which libstdc++ was
 * built with; musl's __ctype_b_loc() table has the same ones. */
#define ORVA_ISBIT(bit) ((bit) < 8 ? ((1 << (bit)) << 8) : ((1 << (bit)) >> 8))
enum {
    _ISupper = ORVA_ISBIT(0),
    _ISlower = ORVA_ISBIT(1),
    _ISalpha = ORVA_ISBIT(2),
    _ISdigit = ORVA_ISBIT(3),
    _ISxdigit = ORVA_ISBIT(4),
    _ISspace = ORVA_ISBIT(5),
    _ISprint = ORVA_ISBIT(6),
    _ISgraph = ORVA_ISBIT(7),
    _ISblank = ORVA_ISBIT(8),
    _IScntrl = ORVA_ISBIT(9),
    _ISpunct = ORVA_ISBIT(10),
    _ISalnum = ORVA_ISBIT(11)
};
#undef ORVA_ISBIT

/* Timed waits on a chosen clock are glibc 2.30's; musl waits on the clock
 * the condition or mutex was made with. */
#include <bits/c++config.h>
#undef _GLIBCXX_USE_PTHREAD_COND_CLOCKWAIT
#undef _GLIBCXX_USE_PTHREAD_MUTEX_CLOCKLOCK
#undef _GLIBCXX_USE_PTHREAD_RWLOCK_CLOCKLOCK

/* The one glibc datum the run-time libraries read (glibc 2.32): zero, "other
 * threads may run", always takes the atomic path.  Weak, as every C++ object
 * carries it. */
extern "C" {
__attribute__((weak)) char __libc_single_threaded = 0;
}

/* An empty std::function called: its thrower lives in the part of libstdc++
 * built for glibc, which the tool does not link.  No caller holds an empty
 * one; should one, the program stops there.  Weak, as above. */
namespace std {
__attribute__((weak, noreturn)) void __throw_bad_function_call() { __builtin_trap(); }
}  // namespace std
#endif

#endif
