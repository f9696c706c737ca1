#pragma once
// Stand-ins for the original C runtime where its behaviour differs from the C library here: rand's
// sequence, the floating-point control word, multibyte comparison, and file names with the original's
// path rules.
#include <algorithm> // before the rand macro below: the standard headers keep their own rand
#include <cstdio>
#include <cstdlib>
#include <stdlib.h> // its C++ wrapper names std::rand too
#include <cstring>

// rand and srand give the original's sequence (state = state * 214013 + 2531011, result bits 16..30),
// with one state per thread starting at seed 1.
extern "C" int ferolt_crt_rand(void) noexcept;
extern "C" void ferolt_crt_srand(unsigned int seed) noexcept;
#undef RAND_MAX
#define RAND_MAX 0x7FFF
#define rand ferolt_crt_rand
#define srand ferolt_crt_srand

// Floating-point control word in the original's encoding. Exception-mask, rounding, precision and
// infinity fields go to the x87 control word (precision and infinity exist only there); masks and
// rounding also go to SSE, and the denormal field to SSE's flush-to-zero and denormals-are-zero bits.
// The value read back holds what was set, so saving and restoring a word is exact. When x87 and SSE
// disagree on masks or rounding the result carries _EM_AMBIGUOUS.
#define _MCW_EM 0x0008001Fu
#define _EM_INEXACT 0x00000001u
#define _EM_UNDERFLOW 0x00000002u
#define _EM_OVERFLOW 0x00000004u
#define _EM_ZERODIVIDE 0x00000008u
#define _EM_INVALID 0x00000010u
#define _EM_DENORMAL 0x00080000u
#define _EM_AMBIGUOUS 0x80000000u
#define _MCW_RC 0x00000300u
#define _RC_NEAR 0x00000000u
#define _RC_DOWN 0x00000100u
#define _RC_UP 0x00000200u
#define _RC_CHOP 0x00000300u
#define _MCW_PC 0x00030000u
#define _PC_64 0x00000000u
#define _PC_53 0x00010000u
#define _PC_24 0x00020000u
#define _MCW_IC 0x00040000u
#define _IC_PROJECTIVE 0x00000000u
#define _IC_AFFINE 0x00040000u
#define _MCW_DN 0x03000000u
#define _DN_SAVE 0x00000000u
#define _DN_FLUSH 0x01000000u
#define _DN_FLUSH_OPERANDS_SAVE_RESULTS 0x02000000u
#define _DN_SAVE_OPERANDS_FLUSH_RESULTS 0x03000000u
#define _CW_DEFAULT                                                                                          \
    (_RC_NEAR + _PC_53 + _EM_INVALID + _EM_ZERODIVIDE + _EM_OVERFLOW + _EM_UNDERFLOW + _EM_INEXACT +         \
     _EM_DENORMAL)

// Changes the bits of `mask` to those of `value` and returns the new control word.
unsigned int _controlfp(unsigned int value, unsigned int mask);
unsigned int _control87(unsigned int value, unsigned int mask);
// Clears the pending exception flags of x87 and SSE; returns the status before clearing.
unsigned int _clearfp();

// Byte-wise comparison of multibyte (UTF-8) strings; the order of code points.
int _mbscmp(const unsigned char* a, const unsigned char* b);
// ASCII case-insensitive comparison and case conversion in place.
int _stricmp(const char* a, const char* b);
int _strnicmp(const char* a, const char* b, size_t count);
char* _strupr(char* text);
char* _strlwr(char* text);

// fopen with the original's path rules (platform/win32/paths.h); the share flag is ignored.
#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40
FILE* _fsopen(const char* path, const char* mode, int shareFlag);
// A name in the temporary directory that does not exist yet: $TMPDIR when it is a directory, else the
// given directory, else /tmp. The result is allocated with malloc; the caller frees it.
char* _tempnam(const char* directory, const char* prefix);
