// C runtime stand-ins.
#include "platform/win32/crt.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <thread>

namespace
{
TEST(Rand, FollowsTheOriginalSequencePerThread)
{
    srand(1);
    EXPECT_EQ(rand(), 41);
    EXPECT_EQ(rand(), 18467);
    EXPECT_EQ(rand(), 6334);
    EXPECT_EQ(RAND_MAX, 0x7FFF);
    int firstOnOtherThread = -1;
    std::thread other([&] { firstOnOtherThread = rand(); }); // a new thread starts at seed 1
    other.join();
    EXPECT_EQ(firstOnOtherThread, 41);
    EXPECT_EQ(rand(), 26500) << "this thread's sequence went on undisturbed";
    srand(1);
    EXPECT_EQ(rand(), 41);
}

unsigned short X87ControlWord()
{
    unsigned short cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}

TEST(ControlFp, EngineWordSetsHardwareAndRestoresExactly)
{
    const unsigned short x87Before = X87ControlWord();
    const unsigned sseBefore = _mm_getcsr();
    const unsigned saved = _controlfp(0, 0);

    unsigned now = _controlfp(0x9001F, 0xFFFFF);
    EXPECT_EQ(now & 0xFFFFF, 0x9001Fu);
    EXPECT_EQ(now & _MCW_PC, _PC_53);
    EXPECT_EQ((X87ControlWord() >> 8) & 3, 2) << "53-bit precision on the x87";
    EXPECT_EQ(X87ControlWord() & 0x3F, 0x3F) << "every exception masked";
    EXPECT_EQ((_mm_getcsr() >> 13) & 3, 0u) << "round to nearest on SSE";

    struct Case
    {
        unsigned value, mask;
    } cases[] = {{_RC_CHOP, _MCW_RC},
                 {_RC_UP, _MCW_RC},
                 {_PC_24, _MCW_PC},
                 {_DN_FLUSH, _MCW_DN},
                 {_DN_SAVE_OPERANDS_FLUSH_RESULTS, _MCW_DN},
                 {_IC_AFFINE, _MCW_IC},
                 {_EM_INEXACT | _EM_UNDERFLOW, _MCW_EM & ~_EM_INVALID}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.value);
        // Changed and restored before any check, so no unmasked exception can meet other code.
        _clearfp();
        unsigned before = _controlfp(0, 0);
        unsigned changed = _controlfp(c.value, c.mask);
        unsigned restored = _controlfp(before, 0xFFFFFFFFu & ~_EM_AMBIGUOUS);
        EXPECT_EQ(changed & c.mask, c.value);
        EXPECT_EQ(changed & ~c.mask & ~_EM_AMBIGUOUS, before & ~c.mask & ~_EM_AMBIGUOUS)
            << "other fields kept";
        EXPECT_EQ(restored, before);
    }

    _controlfp(saved, 0xFFFFF);
    _controlfp(saved, _MCW_DN);
    EXPECT_EQ(X87ControlWord(), x87Before);
    EXPECT_EQ(_mm_getcsr() & ~0x3Fu, sseBefore & ~0x3Fu) << "control bits; the low six are sticky flags";
    EXPECT_EQ(_controlfp(0, 0), saved);
}

TEST(CrtStrings, ComparisonsAndCase)
{
    auto u = [](const char* s) { return reinterpret_cast<const unsigned char*>(s); };
    EXPECT_EQ(_mbscmp(u("ABC"), u("ABC")), 0);
    EXPECT_LT(_mbscmp(u("ABC"), u("ABD")), 0);
    EXPECT_GT(_mbscmp(u("\xC3\x84"), u("Z")), 0) << "bytes compare unsigned";
    EXPECT_EQ(_stricmp("wood.JPG", "WOOD.jpg"), 0);
    char text[] = "Wood.jpg";
    EXPECT_STREQ(_strupr(text), "WOOD.JPG");
    EXPECT_STREQ(_strlwr(text), "wood.jpg");
}
} // namespace
