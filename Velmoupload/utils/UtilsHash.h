// The whole-file SHA-1 that also yields the SHA-1 of every piece in the same pass, so an upload
// reads and hashes each byte of a file once before it sends it.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "utils/Utils.h"

namespace _VelmoUpload {

// The SHA-1 of each kPieceSize piece of a file, as it was when it was hashed: 20 bytes a piece
// (20 KiB per GiB). Empty when none were taken (a small file, a failure).
struct PieceDigests {
    enum { DigestSize = 20 };

    // bytes of the file they cover; they serve only a file still of this size
    long long nFileSize = 0;
    std::vector<unsigned char> digests;

    size_t Count() const { return digests.size() / DigestSize; }
    void Clear() {
        nFileSize = 0;
        digests.clear();
    }
    // The digest of the piece [nOffset, nOffset + nSize) of a file of nCurrentSize bytes, or null
    // when that is not one of the pieces taken.
    const unsigned char* Find(long long nCurrentSize, long long nOffset, long long nSize) const;
};

// The 40-character upper-case text of a 20-byte digest, as requests carry it.
std::string DigestText(const unsigned char* pDigest);

// Utils::GetFileHash, with the pieces' digests taken in the same pass: each block of the file
// goes through both digests together (SHA1::InputPair).
bool GetFileHashAndPieces(const std::string& strFilePath, std::string& strFileHash, int& nErrorCode,
                          HashProgressFun hashProgressFun, PieceDigests& pieces);

// Takes the digests of a file's pieces on a thread of its own, a little ahead of the sender: the
// next piece is hashed while the reply to the one before is awaited. For uploads whose hashing
// pass took none (a resumed task, a file known by its quick digest alone). Pieces start at the
// offset it is started from and follow every kPieceSize bytes.
class PieceHashAhead {
public:
    PieceHashAhead() = default;
    ~PieceHashAhead() { Stop(); }
    PieceHashAhead(const PieceHashAhead&) = delete;
    PieceHashAhead& operator=(const PieceHashAhead&) = delete;

    // nFd stays open until Stop; false when no memory or thread is to be had.
    bool Start(int nFd, long long nFileSize, long long nBase);
    // The digest of the piece [nOffset, nOffset + nSize), waited for while the helper is on its
    // way; false when that is not one of its pieces or the file did not give its bytes.
    bool Get(long long nOffset, long long nSize, unsigned char digest[PieceDigests::DigestSize]);
    // Returns once the helper has let go of the file.
    void Stop();

private:
    // pieces hashed ahead of the one last asked for
    static const long long kAhead = 2;

    void Run();

    int m_nFd = -1;
    long long m_nFileSize = 0;
    long long m_nBase = 0;
    std::unique_ptr<unsigned char[]> m_buffer;
    std::thread m_thread;
    std::mutex m_lock;  // guards m_digests, m_nWanted, m_bEnded and m_bStop
    std::condition_variable m_changed;
    std::vector<unsigned char> m_digests;  // pieces done, in order from m_nBase
    long long m_nWanted = 0;               // index of the piece last asked for
    bool m_bEnded = false;                 // no more pieces will come (end, short read)
    bool m_bStop = false;
};

}  // namespace _VelmoUpload
