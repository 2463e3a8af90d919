// printf-style functions of ours, checked by the compiler.
#pragma once

// MinGW builds use its C99 printf (%zu, %lld): checked as GNU's, not msvcrt's.
#ifdef __MINGW32__
#define STUB_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#define STUB_PRINTF_FORMAT(formatIndex, firstArg) \
    __attribute__((format(printf, formatIndex, firstArg)))
#endif
