// The whole-file SHA-1 that also yields the SHA-1 of every piece in the same pass, so an upload
// reads and hashes each byte of a file once before it sends it.
#pragma once

#include <string>
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

// Utils::GetFileHash, with the pieces' digests taken on the way (on the read-ahead thread, so
// the wall time of the pass stays that of the whole-file digest).
bool GetFileHashAndPieces(const std::string& strFilePath, std::string& strFileHash, int& nErrorCode,
                          HashProgressFun hashProgressFun, PieceDigests& pieces);

}  // namespace _VelmoUpload
