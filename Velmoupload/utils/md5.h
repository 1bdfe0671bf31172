// MD5 (RFC 1321) for the request signatures of the login session; not used on file contents.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace _VelmoUpload {

class MD5 {
public:
    enum { DigestSize = 16 };

    MD5();
    // Starts a digest and feeds it the text; call finalize() before reading the result.
    explicit MD5(const std::string& strText);

    // Ignored after finalize(): the digest is fixed by then.
    void update(const unsigned char* pInput, size_t nLength);
    void update(const char* pInput, size_t nLength);
    MD5& finalize();

    // False (and out untouched) before finalize().
    bool digest(unsigned char out[DigestSize]) const;
    // 32 lower-case hex digits; empty before finalize().
    std::string hexdigest() const;

private:
    void Init();
    void Transform(const unsigned char block[64]);

    uint32_t m_state[4];
    uint64_t m_nTotalBytes;
    unsigned char m_buffer[64];
    bool m_bFinalized;
    unsigned char m_digest[DigestSize];
};

}  // namespace _VelmoUpload
