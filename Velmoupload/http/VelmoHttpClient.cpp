// The multipart piece request, byte for byte: head, five parts, the piece in 8096-byte send
// units (so counts, stop checks and progress move many times a piece), and the tail.
#include "http/VelmoHttpClient.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "core/FolderManager.h"
#include "http/HttpReply.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

namespace {

constexpr size_t kSendUnit = 8096;

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

}  // namespace

bool HttpClient::UploadFile(TaskInfo* pTaskInfo, const std::string& strUrl,
                            const std::string& strBoundary, std::string& strResponse,
                            bool& bRequest) {
    bRequest = true;
    strResponse.clear();
    if (!pTaskInfo)
        return false;
    PUploadInfo pUploadInfo;
    long long nOffset, nSize;
    {
        MutexLocker lock(pTaskInfo->mutex);
        pUploadInfo = pTaskInfo->pUploadInfo;
        if (!pUploadInfo || !pUploadInfo->pFile)
            return false;
        nOffset = pUploadInfo->nOffset;
        nSize = pUploadInfo->nSize;
    }

    CProxySocket socket;
    if (!socket.Initialize())
        return false;

    if (nOffset + nSize > pTaskInfo->nFileSize)
        nSize = pTaskInfo->nFileSize - nOffset;
    if (nSize <= 0 || nOffset < 0)
        return false;
    pUploadInfo->nSize = nSize;

    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[nSize]);
    if (!buffer)
        return false;
    // 64-bit position: pieces past 2 GiB must come from where they say they do
    if (fseeko(pUploadInfo->pFile, static_cast<off_t>(nOffset), SEEK_SET) != 0)
        return false;
    // a short read (the file shrank, an I/O error) fails the piece: a request never carries
    // bytes that were not read from the file
    if (fread(buffer.get(), 1, static_cast<size_t>(nSize), pUploadInfo->pFile) !=
        static_cast<size_t>(nSize))
        return false;

    std::string strPieceHash;
    if (!Utils::GetHash(buffer.get(), static_cast<unsigned>(nSize), strPieceHash))
        return false;

    std::string strScheme, strHost, strPath;
    int nPort = 80;
    GetUrlInfo(strUrl, strScheme, strHost, nPort, strPath);

    std::string strPickCode;
    {
        MutexLocker lock(pTaskInfo->mutex);
        strPickCode = pTaskInfo->strPickCode;
    }
    const std::string strFormHead =
        FormPart(strBoundary, "fileid", pTaskInfo->strFileHash) +
        FormPart(strBoundary, "quickid", pTaskInfo->strFileMDVelmo) +
        FormPart(strBoundary, "ctrange",
                 Utils::StringI2S(nOffset) + "-" + Utils::StringI2S(nOffset + nSize)) +
        FormPart(strBoundary, "cthash", strPieceHash) + "--" + strBoundary +
        "\r\nContent-Disposition: form-data; name=\"uploadfile\"; filename=\"" + strPickCode +
        "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    const std::string strFormTail = "\r\n--" + strBoundary + "--";
    const std::string strHead =
        "POST " + strPath + " HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: " + strHost +
        "\r\nAccept: */*\r\nContent-Length: " +
        Utils::StringI2S(static_cast<long long>(strFormHead.size()) + nSize +
                         static_cast<long long>(strFormTail.size())) +
        "\r\nContent-Type: multipart/form-data; boundary=" + strBoundary +
        "\r\nUser-Agent: " + m_strUserAgent + "\r\n\r\n";

    if (!_connect_server(socket, strHost, nPort)) {
        bRequest = false;
        return false;
    }
    if (!SendText(socket, strHead) || !SendText(socket, strFormHead)) {
        bRequest = false;
        return false;
    }

    FolderRef folderRef(pTaskInfo->strFolderPath);  // keeps the record alive while we use it
    PFolderTaskInfo pFolder = folderRef.get();
    for (long long nSent = 0; nSent < nSize;) {
        {
            MutexLocker lock(pTaskInfo->mutex);
            if (pTaskInfo->status != TaskStatusUpload)
                return false;  // stopped or cancelled
        }
        size_t nUnit = static_cast<size_t>(std::min<long long>(nSize - nSent, kSendUnit));
        int32_t n = socket.Send(buffer.get() + nSent, nUnit);
        if (n <= 0) {
            bRequest = false;
            return false;
        }
        nSent += n;
        {
            MutexLocker lock(pTaskInfo->mutex);
            pTaskInfo->nUploadSize += n;
            pUploadInfo->nUploadSize += n;
        }
        if (pFolder) {
            MutexLocker lock(pFolder->mutex);
            pFolder->nUploadSize += n;
            pFolder->nCurUploadSize += n;
            if (pFolder->nUploadSize > pFolder->nTotalSize)
                pFolder->nUploadSize = pFolder->nTotalSize;
        }
    }
    if (!SendText(socket, strFormTail)) {
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
