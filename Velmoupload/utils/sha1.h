// SHA-1 (FIPS 180-1) with a reset / input / result context, as the file and request digests use.
// Blocks go through the x86 SHA extensions when the CPU has them, else through portable code.
#pragma once

#include <cstddef>
#include <cstdint>

// The SHA extension code needs GCC/Clang target attributes and cpuid.h.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define VELMO_SHA1_X86 1
#else
#define VELMO_SHA1_X86 0
#endif

namespace _VelmoUpload {

class SHA1 {
public:
    enum { DigestSize = 20, BlockSize = 64 };

    SHA1() { Reset(); }

    void Reset();
    // False once the context is corrupted: input after Result, or more than 2^64 - 1 bits.
    bool Input(const unsigned char* pData, size_t nLength);
    // Both contexts take the same bytes, as an Input to each would. When they stand at the same
    // place in a block (a piece cut at a multiple of 64 bytes, beside the whole file) their whole
    // blocks go through the SHA extensions side by side, sharing the message schedule, for little
    // more than the cost of one.
    static bool InputPair(SHA1& first, SHA1& second, const unsigned char* pData, size_t nLength);
    // Pads and finishes on the first call; later calls hand out the same digest until Reset.
    bool Result(unsigned char digest[DigestSize]);

    // Process-wide switch so tests and benchmarks can measure and check the portable code on a
    // machine that has the SHA extensions; contexts pick it up at their next block.
    static void ForcePortable(bool bForce);
    // True when this build and this CPU can run the SHA extension path.
    static bool HardwareAvailable();
    // True when blocks currently go through the SHA extension path.
    static bool HardwareActive();

private:
    void Compress(const unsigned char* pBlocks, size_t nBlocks);
    // Counts nLength more bytes in; false (and corrupted) past what a message may hold or after
    // Result.
    bool Admit(size_t nLength);

    uint32_t m_state[5];
    uint64_t m_nTotalBytes;
    unsigned char m_block[BlockSize];
    size_t m_nBlockUsed;
    bool m_bComputed;
    bool m_bCorrupted;
};

namespace sha1_detail {
// Both fold nBlocks consecutive 64-byte blocks into state; they must agree bit for bit.
void CompressPortable(uint32_t state[5], const unsigned char* pBlocks, size_t nBlocks);
// Elsewhere than x86, ShaNiSupported() is false and CompressShaNi is never reached.
void CompressShaNi(uint32_t state[5], const unsigned char* pBlocks, size_t nBlocks);
// CompressShaNi of the same blocks into two states at once.
void CompressShaNiPair(uint32_t first[5], uint32_t second[5], const unsigned char* pBlocks,
                       size_t nBlocks);
bool ShaNiSupported();
}  // namespace sha1_detail

}  // namespace _VelmoUpload
