#pragma once

// The compiler-specific attributes larkconv uses, each behind one macro that
// every compiler the project builds with accepts (GCC, Clang, MinGW and
// Microsoft's): where a compiler has no such attribute the macro is empty.

#if defined(_MSC_VER)
#define LARKCONV_NOINLINE __declspec(noinline)
#else
#define LARKCONV_NOINLINE __attribute__((noinline))
#endif

// Marks a function whose argument number fmt is a printf pattern for the
// arguments from number first on, so that the compiler checks the pattern.
// MinGW's printf patterns are Microsoft's, which GCC's check does not know.
#if defined(__GNUC__) && !defined(_WIN32)
#define LARKCONV_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define LARKCONV_PRINTF_LIKE(fmt, first)
#endif
