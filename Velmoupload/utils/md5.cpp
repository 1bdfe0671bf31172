// MD5 (RFC 1321). Only short texts go through it, so it favours plain table-driven rounds over
// unrolling.
#include "md5.h"

#include <cstring>

namespace _VelmoUpload {

namespace {

// floor(|sin(i + 1)| * 2^32), as RFC 1321 defines them.
const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Rotation amounts repeat every four steps within each of the four rounds.
const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t Rol(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

}  // namespace

MD5::MD5() {
    Init();
}

MD5::MD5(const std::string& strText) {
    Init();
    update(strText.data(), strText.size());
}

void MD5::Init() {
    m_state[0] = 0x67452301u;
    m_state[1] = 0xefcdab89u;
    m_state[2] = 0x98badcfeu;
    m_state[3] = 0x10325476u;
    m_nTotalBytes = 0;
    m_bFinalized = false;
    memset(m_buffer, 0, sizeof(m_buffer));
    memset(m_digest, 0, sizeof(m_digest));
}

void MD5::Transform(const unsigned char block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        // MD5 words are little-endian whatever the host order.
        x[i] = uint32_t(block[4 * i]) | (uint32_t(block[4 * i + 1]) << 8) |
               (uint32_t(block[4 * i + 2]) << 16) | (uint32_t(block[4 * i + 3]) << 24);
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int k;
        switch (i / 16) {
            case 0:
                f = (b & c) | (~b & d);
                k = i;
                break;
            case 1:
                f = (b & d) | (c & ~d);
                k = (5 * i + 1) & 15;
                break;
            case 2:
                f = b ^ c ^ d;
                k = (3 * i + 5) & 15;
                break;
            default:
                f = c ^ (b | ~d);
                k = (7 * i) & 15;
                break;
        }
        const uint32_t t = d;
        d = c;
        c = b;
        b = b + Rol(a + f + kSine[i] + x[k], kShift[i / 16][i & 3]);
        a = t;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
}

void MD5::update(const unsigned char* pInput, size_t nLength) {
    if (m_bFinalized || pInput == nullptr)
        return;
    size_t nUsed = static_cast<size_t>(m_nTotalBytes & 63);
    m_nTotalBytes += nLength;
    while (nLength > 0) {
        const size_t nTake = nLength < 64 - nUsed ? nLength : 64 - nUsed;
        memcpy(m_buffer + nUsed, pInput, nTake);
        nUsed += nTake;
        pInput += nTake;
        nLength -= nTake;
        if (nUsed == 64) {
            Transform(m_buffer);
            nUsed = 0;
        }
    }
}

void MD5::update(const char* pInput, size_t nLength) {
    update(reinterpret_cast<const unsigned char*>(pInput), nLength);
}

MD5& MD5::finalize() {
    if (m_bFinalized)
        return *this;
    const uint64_t nBits = m_nTotalBytes * 8;
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(nBits >> (8 * i));
    // One 0x80 then zeros up to 56 mod 64, so the bit count closes a block.
    static const unsigned char kPadding[64] = {0x80};
    const size_t nUsed = static_cast<size_t>(m_nTotalBytes & 63);
    update(kPadding, nUsed < 56 ? 56 - nUsed : 120 - nUsed);
    update(length, 8);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j)
            m_digest[4 * i + j] = static_cast<unsigned char>(m_state[i] >> (8 * j));
    }
    memset(m_buffer, 0, sizeof(m_buffer));
    m_bFinalized = true;
    return *this;
}

bool MD5::digest(unsigned char out[DigestSize]) const {
    if (!m_bFinalized || out == nullptr)
        return false;
    memcpy(out, m_digest, DigestSize);
    return true;
}

std::string MD5::hexdigest() const {
    if (!m_bFinalized)
        return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string strHex(2 * DigestSize, '0');
    for (int i = 0; i < DigestSize; ++i) {
        strHex[2 * i] = kHex[m_digest[i] >> 4];
        strHex[2 * i + 1] = kHex[m_digest[i] & 15];
    }
    return strHex;
}

}  // namespace _VelmoUpload
