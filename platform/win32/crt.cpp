// C runtime stand-ins: rand, the floating-point control word, string helpers.
#include "platform/win32/crt.h"

#include <strings.h>
#include <xmmintrin.h>

namespace
{
thread_local unsigned int t_randState = 1;

// x87 control word fields.
constexpr unsigned kX87MaskInvalid = 0x01, kX87MaskDenormal = 0x02, kX87MaskZeroDivide = 0x04,
                   kX87MaskOverflow = 0x08, kX87MaskUnderflow = 0x10, kX87MaskInexact = 0x20;
constexpr unsigned kX87Masks = 0x3F, kX87PrecisionShift = 8, kX87RoundingShift = 10, kX87Infinity = 0x1000;
// MXCSR fields.
constexpr unsigned kSseMaskShift = 7, kSseRoundingShift = 13, kSseFlushToZero = 0x8000,
                   kSseDenormalsAreZero = 0x40;

// The six exception masks share one bit order in x87 and SSE.
constexpr struct
{
    unsigned word;
    unsigned hardware;
} kMaskBits[] = {{_EM_INVALID, kX87MaskInvalid},       {_EM_DENORMAL, kX87MaskDenormal},
                 {_EM_ZERODIVIDE, kX87MaskZeroDivide}, {_EM_OVERFLOW, kX87MaskOverflow},
                 {_EM_UNDERFLOW, kX87MaskUnderflow},   {_EM_INEXACT, kX87MaskInexact}};

unsigned short ReadX87()
{
    unsigned short cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

void WriteX87(unsigned short cw)
{
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
}

// Hardware rounding codes: 0 nearest, 1 down, 2 up, 3 toward zero, the same order as _RC_*.
unsigned WordFromHardware(unsigned short x87, unsigned sse)
{
    unsigned word = 0;
    for (const auto& bit : kMaskBits)
        if (x87 & bit.hardware) word |= bit.word;
    word |= ((x87 >> kX87RoundingShift) & 3u) << 8;
    switch ((x87 >> kX87PrecisionShift) & 3u)
    {
    case 0:
        word |= _PC_24;
        break;
    case 2:
        word |= _PC_53;
        break;
    default:
        word |= _PC_64;
        break;
    }
    if (x87 & kX87Infinity) word |= _IC_AFFINE;
    bool ftz = sse & kSseFlushToZero, daz = sse & kSseDenormalsAreZero;
    word |= ftz && daz ? _DN_FLUSH
            : daz      ? _DN_FLUSH_OPERANDS_SAVE_RESULTS
            : ftz      ? _DN_SAVE_OPERANDS_FLUSH_RESULTS
                       : _DN_SAVE;
    if (((sse >> kSseMaskShift) & kX87Masks) != (x87 & kX87Masks) ||
        ((sse >> kSseRoundingShift) & 3u) != ((x87 >> kX87RoundingShift) & 3u))
        word |= _EM_AMBIGUOUS;
    return word;
}

unsigned SetControl(unsigned value, unsigned mask)
{
    unsigned short x87 = ReadX87();
    unsigned sse = _mm_getcsr();
    if (mask & _MCW_EM)
        for (const auto& bit : kMaskBits)
            if (mask & bit.word)
            {
                x87 = static_cast<unsigned short>((value & bit.word) ? (x87 | bit.hardware)
                                                                     : (x87 & ~bit.hardware));
                unsigned sseBit = bit.hardware << kSseMaskShift;
                sse = (value & bit.word) ? (sse | sseBit) : (sse & ~sseBit);
            }
    if (mask & _MCW_RC)
    {
        unsigned rounding = (value & _MCW_RC) >> 8;
        x87 =
            static_cast<unsigned short>((x87 & ~(3u << kX87RoundingShift)) | (rounding << kX87RoundingShift));
        sse = (sse & ~(3u << kSseRoundingShift)) | (rounding << kSseRoundingShift);
    }
    if (mask & _MCW_PC)
    {
        unsigned precision = (value & _MCW_PC) == _PC_24 ? 0u : (value & _MCW_PC) == _PC_53 ? 2u : 3u;
        x87 = static_cast<unsigned short>((x87 & ~(3u << kX87PrecisionShift)) |
                                          (precision << kX87PrecisionShift));
    }
    if (mask & _MCW_IC)
        x87 =
            static_cast<unsigned short>((value & _IC_AFFINE) ? (x87 | kX87Infinity) : (x87 & ~kX87Infinity));
    if (mask & _MCW_DN)
    {
        unsigned dn = value & _MCW_DN;
        sse &= ~(kSseFlushToZero | kSseDenormalsAreZero);
        if (dn == _DN_FLUSH || dn == _DN_SAVE_OPERANDS_FLUSH_RESULTS) sse |= kSseFlushToZero;
        if (dn == _DN_FLUSH || dn == _DN_FLUSH_OPERANDS_SAVE_RESULTS) sse |= kSseDenormalsAreZero;
    }
    if (mask)
    {
        WriteX87(x87);
        _mm_setcsr(sse);
    }
    return WordFromHardware(x87, sse);
}
} // namespace

extern "C" int ferolt_crt_rand(void) noexcept
{
    t_randState = t_randState * 214013u + 2531011u;
    return static_cast<int>((t_randState >> 16) & 0x7FFFu);
}

extern "C" void ferolt_crt_srand(unsigned int seed) noexcept
{
    t_randState = seed;
}

unsigned int _controlfp(unsigned int value, unsigned int mask)
{
    return SetControl(value, mask);
}
unsigned int _control87(unsigned int value, unsigned int mask)
{
    return SetControl(value, mask);
}

unsigned int _clearfp()
{
    unsigned short status = 0;
    __asm__ __volatile__("fnstsw %0" : "=m"(status));
    unsigned sse = _mm_getcsr();
    __asm__ __volatile__("fnclex");
    _mm_setcsr(sse & ~0x3Fu);
    unsigned flags = (status | sse) & 0x3Fu;
    unsigned result = 0;
    if (flags & 0x01) result |= 0x10;       // _SW_INVALID
    if (flags & 0x02) result |= 0x00080000; // _SW_DENORMAL
    if (flags & 0x04) result |= 0x08;       // _SW_ZERODIVIDE
    if (flags & 0x08) result |= 0x04;       // _SW_OVERFLOW
    if (flags & 0x10) result |= 0x02;       // _SW_UNDERFLOW
    if (flags & 0x20) result |= 0x01;       // _SW_INEXACT
    return result;
}

int _mbscmp(const unsigned char* a, const unsigned char* b)
{
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    int c = strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int _stricmp(const char* a, const char* b)
{
    return strcasecmp(a, b);
}
int _strnicmp(const char* a, const char* b, size_t count)
{
    return strncasecmp(a, b, count);
}

char* _strupr(char* text)
{
    for (char* c = text; c && *c; ++c)
        if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 32);
    return text;
}

char* _strlwr(char* text)
{
    for (char* c = text; c && *c; ++c)
        if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c + 32);
    return text;
}
