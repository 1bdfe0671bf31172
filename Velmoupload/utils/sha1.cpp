// SHA-1 context (padding, length, misuse guard) and the portable block function, with the
// run-time choice between it and the SHA extension code in sha1_shani.cpp.
#include "sha1.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace _VelmoUpload {

namespace {

std::atomic<bool> g_bForcePortable{false};

// Decided once: cpuid does not change while the process runs.
bool CpuHasShaNi() {
    static const bool bShaNi = sha1_detail::ShaNiSupported();
    return bShaNi;
}

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

// Shifts rather than a cast: the input is not aligned, and the compiler turns this into one
// byte-swapping load anyway.
inline uint32_t LoadBe32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

namespace sha1_detail {

// The schedule lives in a 16-word ring, expanded just before each round needs a word, so it stays
// in registers; the five working variables rotate by renaming in the macro arguments instead of
// being shuffled each round.
#define VELMO_W0(i) (w[i] = LoadBe32(p + 4 * (i)))
#define VELMO_WX(i) \
    (w[(i)&15] = Rol(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))
#define VELMO_STEP(a, b, c, d, e, f, k, wi) \
    e += Rol(a, 5) + (f) + (k) + (wi);      \
    b = Rol(b, 30);
// Choice as d ^ (b & (c ^ d)) and majority as (b & c) + (d & (b ^ c)) take fewer operations than
// the textbook forms; the majority's two terms never share a set bit, so + can stand for | and
// folds into the round's sum.
#define VELMO_R0(a, b, c, d, e, i) \
    VELMO_STEP(a, b, c, d, e, (d ^ (b & (c ^ d))), 0x5A827999u, VELMO_W0(i))
#define VELMO_R1(a, b, c, d, e, i) \
    VELMO_STEP(a, b, c, d, e, (d ^ (b & (c ^ d))), 0x5A827999u, VELMO_WX(i))
#define VELMO_R2(a, b, c, d, e, i) VELMO_STEP(a, b, c, d, e, (b ^ c ^ d), 0x6ED9EBA1u, VELMO_WX(i))
#define VELMO_R3(a, b, c, d, e, i) \
    VELMO_STEP(a, b, c, d, e, ((b & c) + (d & (b ^ c))), 0x8F1BBCDCu, VELMO_WX(i))
#define VELMO_R4(a, b, c, d, e, i) VELMO_STEP(a, b, c, d, e, (b ^ c ^ d), 0xCA62C1D6u, VELMO_WX(i))
#define VELMO_FIVE(R, i)       \
    R(a, b, c, d, e, (i));     \
    R(e, a, b, c, d, (i) + 1); \
    R(d, e, a, b, c, (i) + 2); \
    R(c, d, e, a, b, (i) + 3); \
    R(b, c, d, e, a, (i) + 4);

void CompressPortable(uint32_t state[5], const unsigned char* pBlocks, size_t nBlocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
    for (; nBlocks > 0; --nBlocks, pBlocks += 64) {
        const unsigned char* p = pBlocks;
        uint32_t w[16];
        const uint32_t a0 = a, b0 = b, c0 = c, d0 = d, e0 = e;

        VELMO_FIVE(VELMO_R0, 0)
        VELMO_FIVE(VELMO_R0, 5)
        VELMO_FIVE(VELMO_R0, 10)
        VELMO_R0(a, b, c, d, e, 15);
        VELMO_R1(e, a, b, c, d, 16);
        VELMO_R1(d, e, a, b, c, 17);
        VELMO_R1(c, d, e, a, b, 18);
        VELMO_R1(b, c, d, e, a, 19);

        VELMO_FIVE(VELMO_R2, 20)
        VELMO_FIVE(VELMO_R2, 25)
        VELMO_FIVE(VELMO_R2, 30)
        VELMO_FIVE(VELMO_R2, 35)

        VELMO_FIVE(VELMO_R3, 40)
        VELMO_FIVE(VELMO_R3, 45)
        VELMO_FIVE(VELMO_R3, 50)
        VELMO_FIVE(VELMO_R3, 55)

        VELMO_FIVE(VELMO_R4, 60)
        VELMO_FIVE(VELMO_R4, 65)
        VELMO_FIVE(VELMO_R4, 70)
        VELMO_FIVE(VELMO_R4, 75)

        a += a0;
        b += b0;
        c += c0;
        d += d0;
        e += e0;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
    state[4] = e;
}

#undef VELMO_W0
#undef VELMO_WX
#undef VELMO_STEP
#undef VELMO_R0
#undef VELMO_R1
#undef VELMO_R2
#undef VELMO_R3
#undef VELMO_R4
#undef VELMO_FIVE

#if !VELMO_SHA1_X86
bool ShaNiSupported() {
    return false;
}

void CompressShaNi(uint32_t state[5], const unsigned char* pBlocks, size_t nBlocks) {
    CompressPortable(state, pBlocks, nBlocks);
}

void CompressShaNiPair(uint32_t first[5], uint32_t second[5], const unsigned char* pBlocks,
                       size_t nBlocks) {
    CompressPortable(first, pBlocks, nBlocks);
    CompressPortable(second, pBlocks, nBlocks);
}
#endif

}  // namespace sha1_detail

void SHA1::ForcePortable(bool bForce) {
    g_bForcePortable.store(bForce, std::memory_order_relaxed);
}

bool SHA1::HardwareAvailable() {
    return CpuHasShaNi();
}

bool SHA1::HardwareActive() {
    return CpuHasShaNi() && !g_bForcePortable.load(std::memory_order_relaxed);
}

void SHA1::Reset() {
    m_state[0] = 0x67452301u;
    m_state[1] = 0xEFCDAB89u;
    m_state[2] = 0x98BADCFEu;
    m_state[3] = 0x10325476u;
    m_state[4] = 0xC3D2E1F0u;
    m_nTotalBytes = 0;
    m_nBlockUsed = 0;
    m_bComputed = false;
    m_bCorrupted = false;
}

void SHA1::Compress(const unsigned char* pBlocks, size_t nBlocks) {
    if (HardwareActive())
        sha1_detail::CompressShaNi(m_state, pBlocks, nBlocks);
    else
        sha1_detail::CompressPortable(m_state, pBlocks, nBlocks);
}

bool SHA1::Admit(size_t nLength) {
    if (m_bComputed)
        m_bCorrupted = true;
    // The length field holds bits in 64 bits, so 2^61 bytes is the most a message can carry.
    const uint64_t nMaxBytes = uint64_t(1) << 61;
    if (!m_bCorrupted && (nLength >= nMaxBytes || m_nTotalBytes > nMaxBytes - 1 - nLength))
        m_bCorrupted = true;
    if (m_bCorrupted)
        return false;
    m_nTotalBytes += nLength;
    return true;
}

bool SHA1::InputPair(SHA1& first, SHA1& second, const unsigned char* pData, size_t nLength) {
    if (!HardwareActive() || first.m_nBlockUsed != second.m_nBlockUsed || pData == nullptr ||
        first.m_bComputed || second.m_bComputed) {
        const bool bFirst = first.Input(pData, nLength);
        return second.Input(pData, nLength) && bFirst;
    }
    bool bOk = true;
    // up to the next block boundary, then whole blocks together, then the rest, each as Input
    const size_t nHead =
        first.m_nBlockUsed > 0 ? std::min(nLength, BlockSize - first.m_nBlockUsed) : 0;
    if (nHead > 0) {
        bOk = first.Input(pData, nHead) && bOk;
        bOk = second.Input(pData, nHead) && bOk;
        pData += nHead;
        nLength -= nHead;
    }
    const size_t nBlocks = nLength / BlockSize;
    if (nBlocks > 0) {
        const size_t nBytes = nBlocks * BlockSize;
        const bool bFirst = first.Admit(nBytes);
        const bool bSecond = second.Admit(nBytes);
        if (bFirst && bSecond)
            sha1_detail::CompressShaNiPair(first.m_state, second.m_state, pData, nBlocks);
        else if (bFirst)
            first.Compress(pData, nBlocks);
        else if (bSecond)
            second.Compress(pData, nBlocks);
        bOk = bOk && bFirst && bSecond;
        pData += nBytes;
        nLength -= nBytes;
    }
    if (nLength > 0) {
        bOk = first.Input(pData, nLength) && bOk;
        bOk = second.Input(pData, nLength) && bOk;
    }
    return bOk;
}

bool SHA1::Input(const unsigned char* pData, size_t nLength) {
    if (nLength == 0)
        return !m_bCorrupted;
    if (pData == nullptr) {
        Admit(0);  // input after Result still corrupts the context
        return false;
    }
    if (!Admit(nLength))
        return false;

    if (m_nBlockUsed > 0) {
        const size_t nTake =
            nLength < BlockSize - m_nBlockUsed ? nLength : BlockSize - m_nBlockUsed;
        memcpy(m_block + m_nBlockUsed, pData, nTake);
        m_nBlockUsed += nTake;
        pData += nTake;
        nLength -= nTake;
        if (m_nBlockUsed < BlockSize)
            return true;
        Compress(m_block, 1);
        m_nBlockUsed = 0;
    }
    // Whole blocks are hashed straight from the caller's buffer, in one call, with no copy.
    const size_t nBlocks = nLength / BlockSize;
    if (nBlocks > 0) {
        Compress(pData, nBlocks);
        pData += nBlocks * BlockSize;
        nLength -= nBlocks * BlockSize;
    }
    if (nLength > 0) {
        memcpy(m_block, pData, nLength);
        m_nBlockUsed = nLength;
    }
    return true;
}

bool SHA1::Result(unsigned char digest[DigestSize]) {
    if (m_bCorrupted || digest == nullptr)
        return false;
    if (!m_bComputed) {
        const uint64_t nBits = m_nTotalBytes * 8;
        m_block[m_nBlockUsed++] = 0x80;
        if (m_nBlockUsed > BlockSize - 8) {
            memset(m_block + m_nBlockUsed, 0, BlockSize - m_nBlockUsed);
            Compress(m_block, 1);
            m_nBlockUsed = 0;
        }
        memset(m_block + m_nBlockUsed, 0, BlockSize - 8 - m_nBlockUsed);
        for (int i = 0; i < 8; ++i)
            m_block[BlockSize - 1 - i] = static_cast<unsigned char>(nBits >> (8 * i));
        Compress(m_block, 1);
        // The padded tail may hold message bytes; nothing of it is needed any more.
        memset(m_block, 0, sizeof(m_block));
        m_nBlockUsed = 0;
        m_bComputed = true;
    }
    for (int i = 0; i < 5; ++i) {
        digest[4 * i] = static_cast<unsigned char>(m_state[i] >> 24);
        digest[4 * i + 1] = static_cast<unsigned char>(m_state[i] >> 16);
        digest[4 * i + 2] = static_cast<unsigned char>(m_state[i] >> 8);
        digest[4 * i + 3] = static_cast<unsigned char>(m_state[i]);
    }
    return true;
}

}  // namespace _VelmoUpload
