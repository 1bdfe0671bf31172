// The multipart piece request, byte for byte: head, five parts, the piece in 8096-byte send
// units (so counts, stop checks and progress move many times a piece), and the tail.
#include "http/VelmoHttpClient.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "core/FolderManager.h"
#include "http/HttpReply.h"
#include "utils/UtilsHash.h"

namespace _VelmoUpload {

namespace {

constexpr size_t kSendUnit = 8096;

// One piece ready to go: where it lies, its digest, and its bytes when they had to be read
// (null when they go straight from the file).
struct PieceSource {
    long long nOffset = 0;
    long long nSize = 0;
    int nFd = -1;
    std::string strHash;
    std::unique_ptr<unsigned char[]> buffer;
};

// The three texts around the piece bytes.
struct PieceRequest {
    std::string strHead;
    std::string strFormHead;
    std::string strFormTail;
};

std::string FormPart(const std::string& strBoundary, const std::string& strName,
                     const std::string& strValue) {
    return "--" + strBoundary + "\r\nContent-Disposition: form-data; name=\"" + strName +
           "\"\r\n\r\n" + strValue + "\r\n";
}

bool SendText(CProxySocket& socket, const std::string& strText) {
    return socket.Send(reinterpret_cast<const uint8_t*>(strText.data()), strText.size()) > 0;
}

// Statuses a proxy gives when the upload server behind it did not answer: the piece may or
// may not have landed, like a broken connection.
bool IsGatewayFailure(int nStatus) {
    return nStatus == 502 || nStatus == 503 || nStatus == 504;
}

// Where the piece lies, the last one cut to the file's end; false without transfer state.
bool LocatePiece(TaskInfo* pTaskInfo, PieceSource& piece) {
    MutexLocker lock(pTaskInfo->mutex);
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    if (!pUploadInfo || !pUploadInfo->pFile)
        return false;
    piece.nOffset = pUploadInfo->nOffset;
    piece.nSize = std::min<long long>(pUploadInfo->nSize, pTaskInfo->nFileSize - piece.nOffset);
    if (piece.nSize <= 0 || piece.nOffset < 0)
        return false;
    pUploadInfo->nSize = piece.nSize;
    piece.nFd = fileno(pUploadInfo->pFile);
    return true;
}

// With the digest taken when the file was hashed the bytes need not pass through here: they
// go from the file to the socket. A file that no longer holds them fails before anything is
// sent; one whose bytes changed since is refused by the service for the digest.
bool PrepareKnownPiece(const PieceSource& piece) {
    struct stat st;
    return fstat(piece.nFd, &st) == 0 && st.st_size >= piece.nOffset + piece.nSize;
}

// Otherwise the piece is read and hashed here.
bool ReadAndHashPiece(FILE* pFile, PieceSource& piece) {
    piece.buffer.reset(new (std::nothrow) unsigned char[piece.nSize]);
    if (!piece.buffer)
        return false;
    // 64-bit position: pieces past 2 GiB must come from where they say they do
    if (fseeko(pFile, static_cast<off_t>(piece.nOffset), SEEK_SET) != 0)
        return false;
    // a short read (the file shrank, an I/O error) fails the piece: a request never carries
    // bytes that were not read from the file
    if (fread(piece.buffer.get(), 1, static_cast<size_t>(piece.nSize), pFile) !=
        static_cast<size_t>(piece.nSize))
        return false;
    return Utils::GetHash(piece.buffer.get(), static_cast<unsigned>(piece.nSize), piece.strHash);
}

PieceRequest BuildPieceRequest(TaskInfo* pTaskInfo, const PieceSource& piece,
                               const std::string& strHost, const std::string& strPath,
                               const std::string& strBoundary, const std::string& strUserAgent) {
    std::string strPickCode;
    {
        MutexLocker lock(pTaskInfo->mutex);
        strPickCode = pTaskInfo->strPickCode;
    }
    PieceRequest request;
    request.strFormHead = FormPart(strBoundary, "fileid", pTaskInfo->strFileHash) +
                          FormPart(strBoundary, "quickid", pTaskInfo->strFileMDVelmo) +
                          FormPart(strBoundary, "ctrange",
                                   Utils::StringI2S(piece.nOffset) + "-" +
                                       Utils::StringI2S(piece.nOffset + piece.nSize)) +
                          FormPart(strBoundary, "cthash", piece.strHash) + "--" + strBoundary +
                          "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"" +
                          strPickCode + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    request.strFormTail = "\r\n--" + strBoundary + "--";
    request.strHead =
        "POST " + strPath + " HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: " + strHost +
        "\r\nAccept: */*\r\nContent-Length: " +
        Utils::StringI2S(static_cast<long long>(request.strFormHead.size()) + piece.nSize +
                         static_cast<long long>(request.strFormTail.size())) +
        "\r\nContent-Type: multipart/form-data; boundary=" + strBoundary +
        "\r\nUser-Agent: " + strUserAgent + "\r\n\r\n";
    return request;
}

// Bytes that left: the task's, the transfer's and the folder's counts, each under its own lock.
void CountSent(TaskInfo* pTaskInfo, PFolderTaskInfo pFolder, long long nSent) {
    {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nUploadSize += nSent;
        pTaskInfo->pUploadInfo->nUploadSize += nSent;
    }
    if (pFolder) {
        MutexLocker lock(pFolder->mutex);
        pFolder->nUploadSize += nSent;
        pFolder->nCurUploadSize += nSent;
        if (pFolder->nUploadSize > pFolder->nTotalSize)
            pFolder->nUploadSize = pFolder->nTotalSize;
    }
}

// The piece bytes, one send unit at a time, from the buffer or straight from the file. False
// with bRequest false when the connection failed; with it true when the task left the upload
// state or the file ended before the piece did.
bool SendPieceBody(CProxySocket& socket, TaskInfo* pTaskInfo, const PieceSource& piece,
                   bool& bRequest) {
    FolderRef folderRef(pTaskInfo->strFolderPath);  // keeps the record alive while we use it
    PFolderTaskInfo pFolder = folderRef.get();
    SigPipeBlock sigPipeBlock;  // for the bytes that go straight from the file
    for (long long nSent = 0; nSent < piece.nSize;) {
        {
            MutexLocker lock(pTaskInfo->mutex);
            if (pTaskInfo->status != TaskStatusUpload)
                return false;  // stopped or cancelled
        }
        size_t nUnit = static_cast<size_t>(std::min<long long>(piece.nSize - nSent, kSendUnit));
        int32_t n = piece.buffer ? socket.Send(piece.buffer.get() + nSent, nUnit)
                                 : socket.SendFile(piece.nFd, piece.nOffset + nSent, nUnit);
        // Send gives 0 only for a dead socket; SendFile on a live one when the file ended
        if (n < 0 || (n == 0 && piece.buffer)) {
            bRequest = false;
            return false;
        }
        if (n > 0)
            CountSent(pTaskInfo, pFolder, n);
        nSent += n;
        if (static_cast<size_t>(n) < nUnit)
            return false;  // the file shrank under the send: the service gets a cut body
    }
    return true;
}

}  // namespace

bool HttpClient::UploadFile(TaskInfo* pTaskInfo, const std::string& strUrl,
                            const std::string& strBoundary, std::string& strResponse,
                            bool& bRequest, const unsigned char* pPieceDigest) {
    bRequest = true;
    strResponse.clear();
    PieceSource piece;
    if (!pTaskInfo || !LocatePiece(pTaskInfo, piece))
        return false;

    CProxySocket socket;
    if (!socket.Initialize())
        return false;
    if (pPieceDigest) {
        if (!PrepareKnownPiece(piece))
            return false;
        piece.strHash = DigestText(pPieceDigest);
    } else if (!ReadAndHashPiece(pTaskInfo->pUploadInfo->pFile, piece)) {
        return false;
    }

    std::string strScheme, strHost, strPath;
    int nPort = 80;
    GetUrlInfo(strUrl, strScheme, strHost, nPort, strPath);
    const PieceRequest request =
        BuildPieceRequest(pTaskInfo, piece, strHost, strPath, strBoundary, m_strUserAgent);

    if (!_connect_server(socket, strHost, nPort) || !SendText(socket, request.strHead) ||
        !SendText(socket, request.strFormHead)) {
        bRequest = false;
        return false;
    }
    if (!SendPieceBody(socket, pTaskInfo, piece, bRequest))
        return false;
    if (!SendText(socket, request.strFormTail)) {
        bRequest = false;
        return false;
    }

    bool bRead = _read_reply(socket, strResponse);
    socket.Close();
    // a connection that broke before the whole reply came, or a gateway that lost the upload
    // server, leaves the piece's fate unknown: the caller asks the service where it stands
    if (!bRead || HttpReply::IsCutShort(strResponse) ||
        IsGatewayFailure(HttpReply::StatusCode(strResponse))) {
        bRequest = false;
        return false;
    }
    return _get_body(strResponse);
}

}  // namespace _VelmoUpload
