// Utils digests: SHA-1 of texts, buffers and whole files (with their pieces' digests on the way),
// the sampled MDVelmo identity of a file, and MD5 texts for request signatures.
#include "utils/UtilsHash.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <condition_variable>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "ServiceConstants.h"
#include "core/ErrorManager.h"
#include "utils/NamedThread.h"
#include "utils/md5.h"
#include "utils/sha1.h"

namespace _VelmoUpload {

namespace {

const size_t kHashStep = 8192;
const size_t kFileReadChunk = 256 * 1024;
const size_t kSampleBlock = 5120;
const int kSampleCount = 5;
const long long kWholeFileLimit = static_cast<long long>(kSampleBlock) * kSampleCount;

struct FileCloser {
    void operator()(FILE* pFile) const { fclose(pFile); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// A failure reported as 0 would read as success to callers that test the code.
int LastSystemError() {
    return errno != 0 ? errno : EIO;
}

std::string ShaText(const unsigned char digest[SHA1::DigestSize]) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string strText(2 * SHA1::DigestSize, '0');
    for (int i = 0; i < SHA1::DigestSize; ++i) {
        strText[2 * i] = kHex[digest[i] >> 4];
        strText[2 * i + 1] = kHex[digest[i] & 15];
    }
    return strText;
}

bool HashBytes(const unsigned char* pData, size_t nLength, std::string& strHash) {
    SHA1 sha;
    unsigned char digest[SHA1::DigestSize];
    if (!sha.Input(pData, nLength) || !sha.Result(digest))
        return false;
    strHash = ShaText(digest);
    return true;
}

// Cuts the stream into pieces of kPieceSize and keeps the SHA-1 of each, the last one whatever
// its length. Its bytes go in together with the whole-file digest's, block by block through both
// (a piece starts at a multiple of 64 bytes, so the two stay in step).
class PieceHasher {
public:
    explicit PieceHasher(std::vector<unsigned char>& digests) : m_digests(digests) {}

    // Feeds whole, the whole-file digest, and the pieces with the same bytes.
    void FeedWith(SHA1& whole, const unsigned char* pData, size_t nLength) {
        while (nLength > 0) {
            const size_t nTake = std::min(nLength, kPiece - m_nInPiece);
            SHA1::InputPair(whole, m_sha, pData, nTake);
            m_nInPiece += nTake;
            m_nTotal += static_cast<long long>(nTake);
            pData += nTake;
            nLength -= nTake;
            if (m_nInPiece == kPiece)
                ClosePiece();
        }
    }

    // Closes the last piece; false when a digest could not be taken.
    bool Finish() {
        if (m_nInPiece > 0)
            ClosePiece();
        return m_bAllDigests;
    }

    long long Total() const { return m_nTotal; }

private:
    static constexpr size_t kPiece = static_cast<size_t>(kPieceSize);

    void ClosePiece() {
        unsigned char digest[SHA1::DigestSize];
        if (m_sha.Result(digest))
            m_digests.insert(m_digests.end(), digest, digest + SHA1::DigestSize);
        else
            m_bAllDigests = false;
        m_sha.Reset();
        m_nInPiece = 0;
    }

    std::vector<unsigned char>& m_digests;
    SHA1 m_sha;
    size_t m_nInPiece = 0;
    long long m_nTotal = 0;
    bool m_bAllDigests = true;
};

// Whole-file SHA-1 with the progress contract: the callback hears about every 8 KiB step after
// it is hashed, however large the reads behind it are.
class ProgressHasher {
public:
    // pPieces, when given, takes the same bytes in the same pass.
    ProgressHasher(const std::string& strPath, HashProgressFun progressFun, PieceHasher* pPieces)
        : m_strPath(strPath), m_progressFun(progressFun), m_pPieces(pPieces) {}

    // False once the callback has asked to stop.
    bool Feed(const unsigned char* pData, size_t nLength) {
        if (m_progressFun == nullptr) {
            Take(pData, nLength);
            m_nTotal += static_cast<long long>(nLength);
            return true;
        }
        for (size_t nDone = 0; nDone < nLength;) {
            const size_t nStep = nLength - nDone < kHashStep ? nLength - nDone : kHashStep;
            Take(pData + nDone, nStep);
            nDone += nStep;
            m_nTotal += static_cast<long long>(nStep);
            if (m_progressFun(m_strPath, m_nTotal) != true)
                return false;
        }
        return true;
    }

    bool Result(unsigned char digest[SHA1::DigestSize]) { return m_sha.Result(digest); }
    long long Total() const { return m_nTotal; }

private:
    void Take(const unsigned char* pData, size_t nLength) {
        if (m_pPieces)
            m_pPieces->FeedWith(m_sha, pData, nLength);
        else
            m_sha.Input(pData, nLength);
    }

    SHA1 m_sha;
    const std::string& m_strPath;
    HashProgressFun m_progressFun;
    PieceHasher* m_pPieces;
    long long m_nTotal = 0;
};

// Reads the rest of a file on a helper thread, so copying it out of the page cache (about a tenth
// of the time for a cached file) overlaps hashing instead of adding to it. A few chunks in
// rotation bound the memory; the helper waits when it is that far ahead.
class ReadAhead {
public:
    explicit ReadAhead(FILE* pFile) : m_pFile(pFile) {}
    ~ReadAhead() { Stop(); }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // False when no memory or thread is to be had; the caller then reads on its own.
    bool Start() {
        m_buffers.reset(new (std::nothrow) unsigned char[kSlots * kFileReadChunk]);
        if (!m_buffers)
            return false;
        try {
            m_thread = StartNamedThread("velmo-readahead", [this] { Run(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // The next chunk, valid until the following call; null at the end of the file (or after a
    // read error, which the stream's error flag then shows).
    const unsigned char* Next(size_t& nLength) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (m_bHolding) {
            ++m_nConsumed;
            m_bHolding = false;
            m_space.notify_one();
        }
        m_data.wait(lock, [this] { return m_nProduced > m_nConsumed; });
        const size_t nSlot = m_nConsumed % kSlots;
        nLength = m_lengths[nSlot];
        if (nLength == 0)
            return nullptr;
        m_bHolding = true;
        return m_buffers.get() + nSlot * kFileReadChunk;
    }

    // Returns once the helper has finished with the stream, so the caller may close it.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_bStop = true;
        }
        m_space.notify_one();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    static const size_t kSlots = 3;

    void Run() {
        for (;;) {
            size_t nSlot;
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_space.wait(lock,
                             [this] { return m_bStop || m_nProduced - m_nConsumed < kSlots; });
                if (m_bStop)
                    return;
                nSlot = m_nProduced % kSlots;
            }
            // The reader never touches this slot until it is published below.
            const size_t nRead =
                fread(m_buffers.get() + nSlot * kFileReadChunk, 1, kFileReadChunk, m_pFile);
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_lengths[nSlot] = nRead;
                ++m_nProduced;
            }
            m_data.notify_one();
            if (nRead == 0)
                return;
        }
    }

    FILE* m_pFile;
    std::unique_ptr<unsigned char[]> m_buffers;
    size_t m_lengths[kSlots] = {};
    // Chunks published by the helper and chunks handed back by the reader, since the start.
    uint64_t m_nProduced = 0;
    uint64_t m_nConsumed = 0;
    bool m_bHolding = false;
    bool m_bStop = false;
    std::mutex m_lock;
    std::condition_variable m_data;
    std::condition_variable m_space;
    std::thread m_thread;
};

int BitLength(unsigned __int128 v) {
    const uint64_t nHigh = static_cast<uint64_t>(v >> 64);
    const uint64_t nLow = static_cast<uint64_t>(v);
    if (nHigh != 0)
        return 128 - __builtin_clzll(nHigh);
    return nLow != 0 ? 64 - __builtin_clzll(nLow) : 0;
}

// trunc(nValue * fConstant) with the product rounded to nearest-even at 64 significant bits, the
// x87 extended result the service's offsets come from. Done in integers so every platform, and
// every compiler setting, agrees.
long long ScaleLikeExtended(long long nValue, double fConstant) {
    const bool bNegative = nValue < 0;
    const unsigned long long nMagnitude = bNegative ? 0ULL - static_cast<unsigned long long>(nValue)
                                                    : static_cast<unsigned long long>(nValue);

    int nExp = 0;
    const double fMantissa = std::frexp(fConstant, &nExp);
    // fConstant == nMantissa * 2^nExp exactly, nMantissa below 2^53.
    const uint64_t nMantissa = static_cast<uint64_t>(std::ldexp(fMantissa, 53));
    nExp -= 53;

    unsigned __int128 nProduct = static_cast<unsigned __int128>(nMagnitude) * nMantissa;
    const int nBits = BitLength(nProduct);
    if (nBits > 64) {
        const int nDrop = nBits - 64;
        const unsigned __int128 nOne = 1;
        const unsigned __int128 nRest = nProduct & ((nOne << nDrop) - 1);
        const unsigned __int128 nHalf = nOne << (nDrop - 1);
        nProduct >>= nDrop;
        if (nRest > nHalf || (nRest == nHalf && (nProduct & 1) != 0))
            ++nProduct;
        nExp += nDrop;
    }

    unsigned __int128 nResult;
    if (nExp >= 0)
        nResult = nProduct << nExp;
    else
        nResult = -nExp >= 128 ? 0 : nProduct >> -nExp;
    const long long nTruncated = static_cast<long long>(nResult);
    return bNegative ? -nTruncated : nTruncated;
}

}  // namespace

bool Utils::GetHash(const std::string& strContent, std::string& strHash) {
    if (strContent.empty())
        return false;
    return HashBytes(reinterpret_cast<const unsigned char*>(strContent.data()), strContent.size(),
                     strHash);
}

bool Utils::GetHash(const unsigned char* lpContent, unsigned nLength, std::string& strHash) {
    if (lpContent == nullptr || nLength == 0)
        return false;
    return HashBytes(lpContent, nLength, strHash);
}

namespace {

// The whole-file digest, as text and bytes, and how many bytes it covers; pPieces, when given, is
// fed every byte in order as well.
bool HashFile(const std::string& strFilePath, std::string& strFileHash, int& nErrorCode,
              HashProgressFun hashProgressFun, PieceHasher* pPieces,
              unsigned char digest[SHA1::DigestSize], long long& nHashed) {
    FilePtr file(fopen(strFilePath.c_str(), "rb"));
    if (!file) {
        nErrorCode = LastSystemError();
        return false;
    }
    // Files are read once front to back; a larger read-ahead keeps the disk ahead of the hashing.
    posix_fadvise(fileno(file.get()), 0, 0, POSIX_FADV_SEQUENTIAL);

    // Reads are much larger than the 8 KiB hashing steps: on a cached file the per-read system
    // call costs more than the hashing itself. A request this large bypasses the stream's own
    // buffer, so each byte is copied once, and memory stays the same whatever the file size.
    unsigned char smallBuffer[kHashStep];
    std::unique_ptr<unsigned char[]> bigBuffer(new (std::nothrow) unsigned char[kFileReadChunk]);
    unsigned char* pBuffer = bigBuffer ? bigBuffer.get() : smallBuffer;
    const size_t nBufferSize = bigBuffer ? kFileReadChunk : sizeof(smallBuffer);

    ProgressHasher hasher(strFilePath, hashProgressFun, pPieces);
    size_t nRead = fread(pBuffer, 1, nBufferSize, file.get());
    bool bGoOn = hasher.Feed(pBuffer, nRead);
    // Only a file longer than one read is worth a helper thread; the small ones that make up most
    // folders are done before one could start.
    if (bGoOn && nRead == kFileReadChunk) {
        ReadAhead ahead(file.get());
        if (ahead.Start()) {
            const unsigned char* pChunk;
            while (bGoOn && (pChunk = ahead.Next(nRead)) != nullptr)
                bGoOn = hasher.Feed(pChunk, nRead);
            ahead.Stop();
            nRead = 0;
        }
    }
    while (bGoOn && nRead > 0) {
        nRead = fread(pBuffer, 1, nBufferSize, file.get());
        bGoOn = hasher.Feed(pBuffer, nRead);
    }
    if (!bGoOn) {
        nErrorCode = kErrHashCancelled;
        return false;
    }
    const bool bReadError = ferror(file.get()) != 0;
    file.reset();
    if (bReadError) {
        nErrorCode = kErrHashRead;
        return false;
    }

    if (!hasher.Result(digest)) {
        nErrorCode = kErrHashDigest;
        return false;
    }
    nHashed = hasher.Total();
    strFileHash = ShaText(digest);
    return true;
}

}  // namespace

bool Utils::GetFileHash(const std::string& strFilePath, std::string& strFileHash, int& nErrorCode,
                        HashProgressFun hashProgressFun) {
    unsigned char digest[SHA1::DigestSize];
    long long nHashed = 0;
    return HashFile(strFilePath, strFileHash, nErrorCode, hashProgressFun, nullptr, digest,
                    nHashed);
}

std::string DigestText(const unsigned char* pDigest) {
    return ShaText(pDigest);
}

const unsigned char* PieceDigests::Find(long long nCurrentSize, long long nOffset,
                                        long long nSize) const {
    if (nCurrentSize != nFileSize || nOffset < 0 || nOffset % kPieceSize != 0)
        return nullptr;
    const long long nIndex = nOffset / kPieceSize;
    if (nIndex >= static_cast<long long>(Count()) ||
        nSize != std::min(kPieceSize, nFileSize - nOffset))
        return nullptr;
    return digests.data() + nIndex * DigestSize;
}

bool PieceHashAhead::Start(int nFd, long long nFileSize, long long nBase) {
    m_nFd = nFd;
    m_nFileSize = nFileSize;
    m_nBase = nBase;
    m_buffer.reset(new (std::nothrow) unsigned char[kFileReadChunk]);
    if (!m_buffer)
        return false;
    try {
        m_thread = StartNamedThread("velmo-piecehash", [this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool PieceHashAhead::Get(long long nOffset, long long nSize,
                         unsigned char digest[PieceDigests::DigestSize]) {
    if (!m_thread.joinable() || nOffset < m_nBase || (nOffset - m_nBase) % kPieceSize != 0 ||
        nSize != std::min(kPieceSize, m_nFileSize - nOffset))
        return false;
    const long long nIndex = (nOffset - m_nBase) / kPieceSize;
    std::unique_lock<std::mutex> lock(m_lock);
    m_nWanted = std::max(m_nWanted, nIndex);
    m_changed.notify_all();
    m_changed.wait(lock, [&] {
        return m_bEnded ||
               static_cast<long long>(m_digests.size()) > nIndex * PieceDigests::DigestSize;
    });
    if (static_cast<long long>(m_digests.size()) <= nIndex * PieceDigests::DigestSize)
        return false;
    memcpy(digest, m_digests.data() + nIndex * PieceDigests::DigestSize, PieceDigests::DigestSize);
    return true;
}

void PieceHashAhead::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void PieceHashAhead::Run() {
    for (long long nStart = m_nBase, nIndex = 0; nStart < m_nFileSize;
         nStart += kPieceSize, ++nIndex) {
        {
            std::unique_lock<std::mutex> lock(m_lock);
            m_changed.wait(lock, [&] { return m_bStop || nIndex <= m_nWanted + kAhead; });
            if (m_bStop)
                break;
        }
        const long long nEnd = std::min(m_nFileSize, nStart + kPieceSize);
        SHA1 sha;
        bool bWhole = true;
        for (long long nPos = nStart; bWhole && nPos < nEnd;) {
            const size_t nWant = static_cast<size_t>(
                std::min<long long>(nEnd - nPos, static_cast<long long>(kFileReadChunk)));
            const ssize_t nRead = pread(m_nFd, m_buffer.get(), nWant, static_cast<off_t>(nPos));
            if (nRead < 0 && errno == EINTR)
                continue;
            bWhole = nRead > 0;
            if (bWhole) {
                sha.Input(m_buffer.get(), static_cast<size_t>(nRead));
                nPos += nRead;
            }
        }
        unsigned char digest[SHA1::DigestSize];
        if (!bWhole || !sha.Result(digest))
            break;  // the sender reads this piece itself and meets the same trouble
        std::lock_guard<std::mutex> lock(m_lock);
        m_digests.insert(m_digests.end(), digest, digest + SHA1::DigestSize);
        m_changed.notify_all();
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_bEnded = true;
    m_changed.notify_all();
}

bool GetFileHashAndPieces(const std::string& strFilePath, std::string& strFileHash, int& nErrorCode,
                          HashProgressFun hashProgressFun, PieceDigests& pieces) {
    pieces.Clear();
    // a file of one piece has the file's own digest for it: no second digest of its bytes
    struct stat st;
    const bool bSeveralPieces = stat(strFilePath.c_str(), &st) == 0 && st.st_size > kPieceSize;
    std::vector<unsigned char> digests;
    PieceHasher hasher(digests);
    unsigned char digest[SHA1::DigestSize];
    long long nHashed = 0;
    if (!HashFile(strFilePath, strFileHash, nErrorCode, hashProgressFun,
                  bSeveralPieces ? &hasher : nullptr, digest, nHashed))
        return false;
    if (bSeveralPieces && hasher.Finish()) {
        pieces.nFileSize = hasher.Total();
        pieces.digests.swap(digests);
    } else if (nHashed > 0 && nHashed <= kPieceSize) {
        pieces.nFileSize = nHashed;
        pieces.digests.assign(digest, digest + SHA1::DigestSize);
    }
    return true;
}

bool Utils::GetFileMDVelmo(const std::string& strFilePath, std::string& strFileMDVelmo,
                           int& nErrorCode) {
    long long nFileSize = 0;
    errno = 0;
    if (!GetFileSize(strFilePath, nFileSize)) {
        nErrorCode = LastSystemError();
        return false;
    }

    if (nFileSize <= kWholeFileLimit) {
        std::string strHash;
        int nInnerError = 0;
        if (!GetFileHash(strFilePath, strHash, nInnerError, nullptr)) {
            nErrorCode = kErrSmallFile;
            return false;
        }
        strFileMDVelmo = strHash;
        return true;
    }

    FilePtr file(fopen(strFilePath.c_str(), "rb"));
    if (!file) {
        nErrorCode = LastSystemError();
        return false;
    }
    // Every read is a 5120-byte jump elsewhere: stream buffering would only add a second read.
    setvbuf(file.get(), nullptr, _IONBF, 0);

    const std::string strSize = StringI2S(nFileSize);
    const size_t nSampleBytes = kSampleBlock * kSampleCount;
    const size_t nBufferSize = nSampleBytes + strSize.size();
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[nBufferSize]);
    if (!buffer) {
        nErrorCode = kErrSampleAlloc;
        return false;
    }

    long long offsets[kSampleCount];
    GetMDVelmoOffsets(nFileSize, offsets);
    for (int i = 0; i < kSampleCount; ++i) {
        unsigned char* pBlock = buffer.get() + i * kSampleBlock;
        if (fseeko(file.get(), static_cast<off_t>(offsets[i]), SEEK_SET) != 0 ||
            fread(pBlock, 1, kSampleBlock, file.get()) != kSampleBlock) {
            nErrorCode = kErrSampleRead;
            return false;
        }
    }
    file.reset();
    memcpy(buffer.get() + nSampleBytes, strSize.data(), strSize.size());

    std::string strHash;
    if (!GetHash(buffer.get(), static_cast<unsigned>(nBufferSize), strHash)) {
        nErrorCode = kErrSampleDigest;
        return false;
    }
    strFileMDVelmo = strHash;
    return true;
}

std::string Utils::GetMD5(const std::string& strContent) {
    MD5 md5(strContent);
    return md5.finalize().hexdigest();
}

void Utils::GetMDVelmoOffsets(long long nFileSize, long long offsets[5]) {
    offsets[0] = 0;
    offsets[1] = ScaleLikeExtended(nFileSize, 0.13);
    offsets[2] = ScaleLikeExtended(nFileSize, 0.37);
    offsets[3] = ScaleLikeExtended(nFileSize, 0.62);
    offsets[4] = nFileSize - static_cast<long long>(kSampleBlock);
}

}  // namespace _VelmoUpload
