// SHA-1 blocks through the x86 SHA extensions, several times faster than the portable code.
// Only this file is compiled for those instructions, so the binary still runs on CPUs without them.
#include "sha1.h"

#if VELMO_SHA1_X86

#include <cpuid.h>
#include <immintrin.h>

namespace _VelmoUpload {
namespace sha1_detail {

bool ShaNiSupported() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool bSsse3 = (ecx & (1u << 9)) != 0;
    const bool bSse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool bSha = (ebx & (1u << 29)) != 0;
    return bSha && bSsse3 && bSse41;
}

// Lanes hold words highest-first: a is in bits 127..96 of abcd, e in the top lane of its
// register, and W[t] above W[t+1]. Reversing all 16 bytes of a load gives both that order and the
// big-endian word value in one shuffle.
//
// Four message words come out of each schedule step: W[t..t+3] from the groups 16, 12, 8 and 4
// words back. sha1rnds4 takes e already added to the first word; sha1nexte derives that e from
// the a of four rounds earlier (prev), which is why prev trails abcd by one step.
#define VELMO_SCHED(x0, x1, x2, x3) \
    x0 = _mm_sha1msg2_epu32(_mm_xor_si128(_mm_sha1msg1_epu32(x0, x1), x2), x3)
#define VELMO_QUAD(msg, f)               \
    we = _mm_sha1nexte_epu32(prev, msg); \
    prev = abcd;                         \
    abcd = _mm_sha1rnds4_epu32(abcd, we, f)
#define VELMO_NEXT(x0, x1, x2, x3, f) \
    VELMO_SCHED(x0, x1, x2, x3);      \
    VELMO_QUAD(x0, f)

__attribute__((target("sha,sse4.1,ssse3"))) void CompressShaNi(uint32_t state[5],
                                                               const unsigned char* pBlocks,
                                                               size_t nBlocks) {
    const __m128i kByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (; nBlocks > 0; --nBlocks, pBlocks += 64) {
        const __m128i* p = reinterpret_cast<const __m128i*>(pBlocks);
        const __m128i abcdStart = abcd;
        const __m128i eStart = e;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(p), kByteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(p + 1), kByteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(p + 2), kByteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(p + 3), kByteSwap);

        // Rounds 0-3 take e from the chaining value rather than from a previous round.
        __m128i we = _mm_add_epi32(e, m0);
        __m128i prev = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, we, 0);
        VELMO_QUAD(m1, 0);
        VELMO_QUAD(m2, 0);
        VELMO_QUAD(m3, 0);
        VELMO_NEXT(m0, m1, m2, m3, 0);  // rounds 16-19

        VELMO_NEXT(m1, m2, m3, m0, 1);
        VELMO_NEXT(m2, m3, m0, m1, 1);
        VELMO_NEXT(m3, m0, m1, m2, 1);
        VELMO_NEXT(m0, m1, m2, m3, 1);
        VELMO_NEXT(m1, m2, m3, m0, 1);  // rounds 36-39

        VELMO_NEXT(m2, m3, m0, m1, 2);
        VELMO_NEXT(m3, m0, m1, m2, 2);
        VELMO_NEXT(m0, m1, m2, m3, 2);
        VELMO_NEXT(m1, m2, m3, m0, 2);
        VELMO_NEXT(m2, m3, m0, m1, 2);  // rounds 56-59

        VELMO_NEXT(m3, m0, m1, m2, 3);
        VELMO_NEXT(m0, m1, m2, m3, 3);
        VELMO_NEXT(m1, m2, m3, m0, 3);
        VELMO_NEXT(m2, m3, m0, m1, 3);
        VELMO_NEXT(m3, m0, m1, m2, 3);  // rounds 76-79

        // The final e is rol30 of the a from four rounds back, plus the chaining e.
        e = _mm_sha1nexte_epu32(prev, eStart);
        abcd = _mm_add_epi32(abcd, abcdStart);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<uint32_t>(_mm_extract_epi32(e, 3));
}

// Two chains over the same message words: the schedule is worked out once, and the second
// chain's rounds fill the wait on the first one's (sha1rnds4 takes several cycles to give its
// result, and one chain alone leaves the unit idle meanwhile).
#define VELMO_QUAD2(msg, f)                     \
    weA = _mm_sha1nexte_epu32(prevA, msg);      \
    weB = _mm_sha1nexte_epu32(prevB, msg);      \
    prevA = abcdA;                              \
    prevB = abcdB;                              \
    abcdA = _mm_sha1rnds4_epu32(abcdA, weA, f); \
    abcdB = _mm_sha1rnds4_epu32(abcdB, weB, f)
#define VELMO_NEXT2(x0, x1, x2, x3, f) \
    VELMO_SCHED(x0, x1, x2, x3);       \
    VELMO_QUAD2(x0, f)

__attribute__((target("sha,sse4.1,ssse3"))) void CompressShaNiPair(uint32_t first[5],
                                                                   uint32_t second[5],
                                                                   const unsigned char* pBlocks,
                                                                   size_t nBlocks) {
    const __m128i kByteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    __m128i abcdA =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(first)), 0x1B);
    __m128i eA = _mm_set_epi32(static_cast<int>(first[4]), 0, 0, 0);
    __m128i abcdB =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(second)), 0x1B);
    __m128i eB = _mm_set_epi32(static_cast<int>(second[4]), 0, 0, 0);

    for (; nBlocks > 0; --nBlocks, pBlocks += 64) {
        const __m128i* p = reinterpret_cast<const __m128i*>(pBlocks);
        const __m128i abcdStartA = abcdA;
        const __m128i eStartA = eA;
        const __m128i abcdStartB = abcdB;
        const __m128i eStartB = eB;
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(p), kByteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(p + 1), kByteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(p + 2), kByteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(p + 3), kByteSwap);

        __m128i weA = _mm_add_epi32(eA, m0);
        __m128i weB = _mm_add_epi32(eB, m0);
        __m128i prevA = abcdA;
        __m128i prevB = abcdB;
        abcdA = _mm_sha1rnds4_epu32(abcdA, weA, 0);
        abcdB = _mm_sha1rnds4_epu32(abcdB, weB, 0);
        VELMO_QUAD2(m1, 0);
        VELMO_QUAD2(m2, 0);
        VELMO_QUAD2(m3, 0);
        VELMO_NEXT2(m0, m1, m2, m3, 0);

        VELMO_NEXT2(m1, m2, m3, m0, 1);
        VELMO_NEXT2(m2, m3, m0, m1, 1);
        VELMO_NEXT2(m3, m0, m1, m2, 1);
        VELMO_NEXT2(m0, m1, m2, m3, 1);
        VELMO_NEXT2(m1, m2, m3, m0, 1);

        VELMO_NEXT2(m2, m3, m0, m1, 2);
        VELMO_NEXT2(m3, m0, m1, m2, 2);
        VELMO_NEXT2(m0, m1, m2, m3, 2);
        VELMO_NEXT2(m1, m2, m3, m0, 2);
        VELMO_NEXT2(m2, m3, m0, m1, 2);

        VELMO_NEXT2(m3, m0, m1, m2, 3);
        VELMO_NEXT2(m0, m1, m2, m3, 3);
        VELMO_NEXT2(m1, m2, m3, m0, 3);
        VELMO_NEXT2(m2, m3, m0, m1, 3);
        VELMO_NEXT2(m3, m0, m1, m2, 3);

        eA = _mm_sha1nexte_epu32(prevA, eStartA);
        eB = _mm_sha1nexte_epu32(prevB, eStartB);
        abcdA = _mm_add_epi32(abcdA, abcdStartA);
        abcdB = _mm_add_epi32(abcdB, abcdStartB);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(first), _mm_shuffle_epi32(abcdA, 0x1B));
    first[4] = static_cast<uint32_t>(_mm_extract_epi32(eA, 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(second), _mm_shuffle_epi32(abcdB, 0x1B));
    second[4] = static_cast<uint32_t>(_mm_extract_epi32(eB, 3));
}

#undef VELMO_SCHED
#undef VELMO_QUAD
#undef VELMO_NEXT
#undef VELMO_QUAD2
#undef VELMO_NEXT2

}  // namespace sha1_detail
}  // namespace _VelmoUpload

#endif  // VELMO_SHA1_X86
