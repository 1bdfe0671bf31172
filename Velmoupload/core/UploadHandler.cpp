// The upload of one file: the upload thread's steps, the three service exchanges (dispatch,
// check, piece) with their signatures and reply readers, and the ending of the task.
#include "core/UploadHandler.h"

#include <json/json.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "ServiceConstants.h"
#include "Velmoupload.h"
#include "core/ErrorManager.h"
#include "core/FolderManager.h"
#include "core/JsonRead.h"
#include "core/LoginManager.h"
#include "core/ResumeManager.h"
#include "http/FormText.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

HttpClient UploadHandler::m_httpClient;
Mutex UploadHandler::m_mutex;

namespace {

// the task this thread is hashing: the progress hook answers for it alone, not for a newer
// task that took the same path after a stop
thread_local PTaskInfo t_pHashingTask = nullptr;

// a pause or a retry wait looks at the task this often, so a stop is honoured quickly
constexpr int kPauseSliceMs = 100;

TaskStatus StatusOf(PTaskInfo pTaskInfo) {
    MutexLocker lock(pTaskInfo->mutex);
    return pTaskInfo->status;
}

bool IsHalted(PTaskInfo pTaskInfo) {
    TaskStatus status = StatusOf(pTaskInfo);
    return status == TaskStatusStop || status == TaskStatusCancel;
}

void SetError(PTaskInfo pTaskInfo, int nErrorCode) {
    MutexLocker lock(pTaskInfo->mutex);
    pTaskInfo->nErrorCode = nErrorCode;
}

int ErrorOf(PTaskInfo pTaskInfo) {
    MutexLocker lock(pTaskInfo->mutex);
    return pTaskInfo->nErrorCode;
}

std::string PickCodeOf(PTaskInfo pTaskInfo) {
    MutexLocker lock(pTaskInfo->mutex);
    return pTaskInfo->strPickCode;
}

// Refreshes the task's resume record, unless the record is no longer the task's to write: a
// cancel has deleted it, or the session the task ran in has ended (a logout, perhaps followed
// by another account's login, whose store must not receive this account's files).
void UpdateRecord(PTaskInfo pTaskInfo, bool bSave) {
    if (StatusOf(pTaskInfo) == TaskStatusCancel || !UploadManager::IsCurrentSession(pTaskInfo))
        return;
    ResumeManager::Update(pTaskInfo, bSave);
}

long long UploadSizeOf(PTaskInfo pTaskInfo) {
    MutexLocker lock(pTaskInfo->mutex);
    return pTaskInfo->nUploadSize;
}

// Sleeps nMs; false as soon as the task is stopped or cancelled.
bool PauseUnlessHalted(PTaskInfo pTaskInfo, long long nMs) {
    for (long long nSlept = 0; nSlept < nMs; nSlept += kPauseSliceMs) {
        if (IsHalted(pTaskInfo))
            return false;
        usleep(static_cast<useconds_t>(std::min<long long>(kPauseSliceMs, nMs - nSlept)) * 1000);
    }
    return !IsHalted(pTaskInfo);
}

// The query that signs check and piece requests.
std::string UploadQuery(PTaskInfo pTaskInfo, const std::string& strSignature) {
    FormText query;
    query.Add("appid", kAppId)
        .Add("appversion", kPluginVersion)
        .Add("format", "json")
        .Add("ets", Utils::StringI2S(pTaskInfo->pUploadInfo->tUploadTime))
        .Add("filesize", Utils::StringI2S(pTaskInfo->nFileSize))
        .Add("userid", LoginManager::GetUserId())
        .Add("pickcode", PickCodeOf(pTaskInfo))
        .Add("sig", strSignature);
    return query.Text();
}

// Reads the members every upload reply has; false (with the service's code and message on
// the task) when the service refused.
bool ReadReplyStatus(PTaskInfo pTaskInfo, const Json::Value& root, int& nStatus) {
    nStatus = JsonInt(JsonField(root, "status"));
    int nStatusCode = JsonInt(JsonField(root, "statuscode"));
    std::string strStatusMsg = JsonText(JsonField(root, "statusmsg"));
    if (nStatusCode == ServiceCode::kOk)
        return true;
    MutexLocker lock(pTaskInfo->mutex);
    pTaskInfo->nErrorCode = nStatusCode;
    pTaskInfo->strErrorMsg = Utils::StringU2G(strStatusMsg);
    return false;
}

// The check and piece replies: the offset where the next piece starts.
bool ReadOffsetReply(PTaskInfo pTaskInfo, const std::string& strResponse, bool bSetUploadSize) {
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    Json::Value root;
    if (!pUploadInfo || !JsonParse(strResponse, root))
        return false;
    try {
        int nStatus = 0;
        if (!ReadReplyStatus(pTaskInfo, root, nStatus))
            return false;
        long long nOffset = JsonInt64(JsonField(root, "offset"));
        MutexLocker lock(pTaskInfo->mutex);
        pUploadInfo->nOffset = nOffset;
        if (bSetUploadSize)
            pTaskInfo->nUploadSize = nOffset;
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------- start

bool UploadHandler::StartUploadFile(PTaskInfo pTaskInfo) {
    if (!pTaskInfo)
        return false;
    TaskStatus next = (pTaskInfo->strFileHash.empty() || pTaskInfo->strFileMDVelmo.empty())
                          ? TaskStatusHash
                          : TaskStatusUpload;
    if (!UploadManager::UpdateTaskStatus(pTaskInfo, next, true))
        return false;
    // the upload thread: starts here, ends at the bottom of _UploadFileThread
    if (StartDetachedThread("velmo-upload", [pTaskInfo] { _UploadFileThread(pTaskInfo); }))
        return true;
    UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusInit, false);
    return false;
}

void* UploadHandler::_UploadFileThread(void* pArguments) {
    if (!pArguments)
        return reinterpret_cast<void*>(-1);
    PTaskInfo pTaskInfo = static_cast<PTaskInfo>(pArguments);
    bool bComplete = _RunUpload(pTaskInfo);
    _EndUpload(pTaskInfo, bComplete);
    return nullptr;
}

// ---------------------------------------------------------------- the steps

bool UploadHandler::_HashSha1(PTaskInfo pTaskInfo, PieceDigests& pieces, int& nErrorCode) {
    t_pHashingTask = pTaskInfo;
    bool bOk = GetFileHashAndPieces(pTaskInfo->strFilePath, pTaskInfo->strFileHash, nErrorCode,
                                    &UploadHandler::_HashProgressCallbackFun, pieces);
    t_pHashingTask = nullptr;
    return bOk;
}

bool UploadHandler::_HashFile(PTaskInfo pTaskInfo, PieceDigests& pieces) {
    HashType hashType = LoginManager::NeedHashAll(pTaskInfo->strFilePath)
                            ? HashTypeALL
                            : LoginManager::GetHashType(pTaskInfo->nFileSize);
    int nErrorCode = 0;
    if ((hashType == HashTypeMDVelmo || hashType == HashTypeALL) &&
        pTaskInfo->strFileMDVelmo.empty() &&
        !Utils::GetFileMDVelmo(pTaskInfo->strFilePath, pTaskInfo->strFileMDVelmo, nErrorCode)) {
        SetError(pTaskInfo, nErrorCode);
        return false;
    }
    if ((hashType == HashTypeSHA1 || hashType == HashTypeALL) && pTaskInfo->strFileHash.empty() &&
        !_HashSha1(pTaskInfo, pieces, nErrorCode)) {
        SetError(pTaskInfo, nErrorCode);
        return false;
    }
    return hashType == HashTypeSHA1 || hashType == HashTypeMDVelmo || hashType == HashTypeALL;
}

bool UploadHandler::_OpenTransfer(PTaskInfo pTaskInfo) {
    PUploadInfo pUploadInfo = new (std::nothrow) UploadInfo;
    if (!pUploadInfo) {
        SetError(pTaskInfo, kErrNoMemory);
        return false;
    }
    {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->pUploadInfo = pUploadInfo;
    }
    errno = 0;
    pUploadInfo->pFile = Utils::FileOpenEx(pTaskInfo->strFilePath, "rb");
    if (!pUploadInfo->pFile) {
        SetError(pTaskInfo, errno != 0 ? errno : ENOENT);
        return false;
    }
    pUploadInfo->nSize = std::min<long long>(kPieceSize, pTaskInfo->nFileSize);
    return true;
}

bool UploadHandler::_PauseAndWaitForSpace(PTaskInfo pTaskInfo) {
    // the account's pause, whole seconds
    long long nPauseMs = static_cast<long long>(LoginManager::GetTimeLimit()) * 1000;
    if (nPauseMs > 0 && !PauseUnlessHalted(pTaskInfo, nPauseMs))
        return false;
    return _WaitForSpace(pTaskInfo);
}

bool UploadHandler::_WaitForSpace(PTaskInfo pTaskInfo) {
    for (;;) {
        bool bRequest = false;
        if (_UploadSpaceEnough(pTaskInfo, bRequest))
            return true;
        if (bRequest) {
            SetError(pTaskInfo, kErrNoSpace);
            return false;
        }
        // the quota query itself failed: ask again in a second
        if (!PauseUnlessHalted(pTaskInfo, 1000))
            return false;
    }
}

bool UploadHandler::_RetryDispatch(PTaskInfo pTaskInfo, bool bCarriedSha1, PieceDigests& pieces) {
    int nErrorCode = ErrorOf(pTaskInfo);
    if (nErrorCode != ServiceCode::kNeedSha1) {
        if (nErrorCode == 0)
            SetError(pTaskInfo, kErrDispatchReply);
        return false;
    }
    // the service wants the SHA-1; asked again after sending it, it would ask for ever
    if (bCarriedSha1 || !UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusHash, true))
        return false;
    int nHashError = 0;
    if (!_HashSha1(pTaskInfo, pieces, nHashError)) {
        SetError(pTaskInfo, nHashError);
        return false;
    }
    {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nErrorCode = 0;
        pTaskInfo->strErrorMsg.clear();
    }
    return UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusUpload, true);
}

bool UploadHandler::_Dispatch(PTaskInfo pTaskInfo, PieceDigests& pieces) {
    // files that create remote directories dispatch one at a time
    const bool bCreatesFolders = !pTaskInfo->strFolderName.empty();
    if (bCreatesFolders)
        m_mutex.Lock();
    bool bOk = false;
    for (;;) {
        std::string strUrl, strPostData, strResponse;
        if (!_BuildRequestDispatchServer(pTaskInfo, strUrl, strPostData)) {
            SetError(pTaskInfo, kErrDispatchBuild);
            break;
        }
        const bool bCarriedSha1 = !pTaskInfo->strFileHash.empty();
        QvHttpClient client;
        if (!client.Post(strUrl, strPostData, strResponse)) {
            SetError(pTaskInfo, kErrDispatchSend);
            break;
        }
        if (_ParseResponseDispatchServer(pTaskInfo, strResponse)) {
            bOk = true;
            break;
        }
        if (!_RetryDispatch(pTaskInfo, bCarriedSha1, pieces))
            break;
    }
    if (bCreatesFolders)
        m_mutex.Unlock();
    return bOk;
}

void UploadHandler::_TakeFlashUpload(PTaskInfo pTaskInfo, PFolderTaskInfo pFolder) {
    {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nUploadSize = pTaskInfo->nFileSize;
    }
    if (pFolder) {
        MutexLocker lock(pFolder->mutex);
        pFolder->nUploadSize += pTaskInfo->nFileSize;
        pFolder->nCurUploadSize += pTaskInfo->nFileSize;
    }
}

bool UploadHandler::_Check(PTaskInfo pTaskInfo, bool& bNetworkFailure) {
    bNetworkFailure = false;
    std::string strUrl, strResponse;
    if (!_BuildRequestCheckServer(pTaskInfo, strUrl)) {
        SetError(pTaskInfo, kErrCheckBuild);
        return false;
    }
    QvHttpClient client;
    if (!client.Get(strUrl, strResponse)) {
        bNetworkFailure = true;
        SetError(pTaskInfo, kErrCheckSend);
        return false;
    }
    if (!_ParseResponseCheckServer(pTaskInfo, strResponse)) {
        if (ErrorOf(pTaskInfo) == 0)
            SetError(pTaskInfo, kErrCheckReply);
        return false;
    }
    return true;
}

bool UploadHandler::_Resync(PTaskInfo pTaskInfo) {
    for (;;) {
        if (!PauseUnlessHalted(pTaskInfo, 1000))
            return true;  // the piece loop sees the stop
        if (PickCodeOf(pTaskInfo).empty())
            return true;  // nothing to ask: send the piece again
        bool bNetworkFailure = false;
        if (_Check(pTaskInfo, bNetworkFailure))
            return true;
        if (!bNetworkFailure)
            return false;
        SetError(pTaskInfo, 0);
    }
}

UploadHandler::PieceOutcome UploadHandler::_SendOnePiece(PTaskInfo pTaskInfo,
                                                         const std::string& strUrl,
                                                         const PieceDigests& pieces,
                                                         PieceHashAhead& ahead) {
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    long long nOffset;
    {
        MutexLocker lock(pTaskInfo->mutex);
        nOffset = pUploadInfo->nOffset;
    }
    // the digest taken when the file was hashed, or by the helper meanwhile, when the piece is
    // one of theirs; else UploadFile reads and hashes it
    const long long nSize = std::min<long long>(kPieceSize, pTaskInfo->nFileSize - nOffset);
    unsigned char aheadDigest[PieceDigests::DigestSize];
    const unsigned char* pDigest = pieces.Find(pTaskInfo->nFileSize, nOffset, nSize);
    if (!pDigest && ahead.Get(nOffset, nSize, aheadDigest))
        pDigest = aheadDigest;
    uint32_t tBegin = Utils::GetCurTime();
    std::string strResponse;
    bool bRequest = true;
    if (!m_httpClient.UploadFile(pTaskInfo, strUrl, kUploadBoundary, strResponse, bRequest,
                                 pDigest)) {
        if (IsHalted(pTaskInfo))
            return PieceOutcome::Halted;
        if (bRequest) {
            SetError(pTaskInfo, kErrPieceSend);
            return PieceOutcome::Failed;
        }
        // the network failed somewhere in the piece: learn where the service stands
        if (!_Resync(pTaskInfo))
            return PieceOutcome::Failed;
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nUploadSize = pUploadInfo->nOffset;
        return PieceOutcome::Again;
    }
    uint32_t tEnd = Utils::GetCurTime();
    if (!_ParseResponseUploadServer(pTaskInfo, strResponse)) {
        if (ErrorOf(pTaskInfo) == 0)
            SetError(pTaskInfo, kErrPieceReply);
        return PieceOutcome::Failed;
    }
    uint32_t nElapsed = tEnd - tBegin;
    MutexLocker lock(pTaskInfo->mutex);
    if (nElapsed > 0)
        pUploadInfo->nSpeed = static_cast<int>(pUploadInfo->nSize / nElapsed * 1000);
    if (pUploadInfo->nSpeed <= 0)
        pUploadInfo->nSpeed = static_cast<int>(pUploadInfo->nSize);
    // the service's offset, so bytes of a failed attempt are not counted twice
    pTaskInfo->nUploadSize = pUploadInfo->nOffset;
    return PieceOutcome::Sent;
}

bool UploadHandler::_SendPieces(PTaskInfo pTaskInfo, PFolderTaskInfo pFolder,
                                const PieceDigests& pieces) {
    std::string strUrl;
    if (!_BuildRequestUploadServer(pTaskInfo, strUrl)) {
        SetError(pTaskInfo, kErrPieceUrl);
        return false;
    }
    if (pFolder) {
        MutexLocker lock(pFolder->mutex);
        if (pFolder->tBeginTime == 0)
            pFolder->tBeginTime = Utils::GetCurTime();
    }
    // without the digests of the hashing pass, a helper takes them while replies are awaited
    PieceHashAhead ahead;
    long long nStart;
    {
        MutexLocker lock(pTaskInfo->mutex);
        nStart = pTaskInfo->pUploadInfo->nOffset;
    }
    if (pTaskInfo->nFileSize - nStart > kPieceSize &&
        !pieces.Find(pTaskInfo->nFileSize, nStart, kPieceSize))
        ahead.Start(fileno(pTaskInfo->pUploadInfo->pFile), pTaskInfo->nFileSize, nStart);
    while (UploadSizeOf(pTaskInfo) < pTaskInfo->nFileSize) {
        if (IsHalted(pTaskInfo))
            break;
        long long nMaxUploadSize;
        {
            MutexLocker lock(pTaskInfo->mutex);
            nMaxUploadSize = pTaskInfo->nMaxUploadSize;
        }
        // a single file that filled the free space it was given asks for the quota again
        if (!pFolder && nMaxUploadSize > 0 && UploadSizeOf(pTaskInfo) >= nMaxUploadSize &&
            !_WaitForSpace(pTaskInfo))
            return false;
        PieceOutcome outcome = _SendOnePiece(pTaskInfo, strUrl, pieces, ahead);
        if (outcome == PieceOutcome::Failed)
            return false;
        if (outcome == PieceOutcome::Halted)
            break;
        if (outcome == PieceOutcome::Sent)
            UpdateRecord(pTaskInfo, false);
    }
    return true;
}

bool UploadHandler::_RunUpload(PTaskInfo pTaskInfo) {
    // the pieces' digests, when this upload hashes the file; 20 bytes a MiB
    PieceDigests pieces;
    // 1. digests, when the task was started for them
    if (StatusOf(pTaskInfo) == TaskStatusHash && !_HashFile(pTaskInfo, pieces))
        return false;

    // 2. remember them; a logout meanwhile stops the task
    UpdateRecord(pTaskInfo, false);
    if (!LoginManager::IsLogin())
        UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusStop, true);
    if (IsHalted(pTaskInfo))
        return false;

    // 3. transfer state and the open file; 4. uploading from here on
    if (!_OpenTransfer(pTaskInfo))
        return false;
    if (StatusOf(pTaskInfo) != TaskStatusUpload &&
        !UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusUpload, true))
        return false;

    // 5, 6. the account's pause and room on the account; 7. where, and whether, to send it
    if (!_PauseAndWaitForSpace(pTaskInfo) || !_Dispatch(pTaskInfo, pieces))
        return false;

    // 8. a file the service already holds is done
    UpdateRecord(pTaskInfo, false);
    FolderRef folderRef(pTaskInfo->strFolderPath);  // keeps the record alive while we use it
    PFolderTaskInfo pFolder = folderRef.get();
    bool bFlashUpload;
    {
        MutexLocker lock(pTaskInfo->mutex);
        bFlashUpload = pTaskInfo->bFlashUpload;
    }
    if (bFlashUpload) {
        _TakeFlashUpload(pTaskInfo, pFolder);
        return true;
    }

    // 9. how much of it the service already has
    if (!PickCodeOf(pTaskInfo).empty()) {
        bool bNetworkFailure = false;
        if (!_Check(pTaskInfo, bNetworkFailure))
            return false;
    }

    // 10, 11. the pieces
    return _SendPieces(pTaskInfo, pFolder, pieces);
}

void UploadHandler::_EndUpload(PTaskInfo pTaskInfo, bool bComplete) {
    TaskStatus status = StatusOf(pTaskInfo);
    if (status == TaskStatusStop) {
        UpdateRecord(pTaskInfo, true);
    } else if (status == TaskStatusCancel) {
        // after a logout the request would go out with no account, or with the next one's
        const bool bOwnSession = UploadManager::IsCurrentSession(pTaskInfo);
        if (bOwnSession && !PickCodeOf(pTaskInfo).empty()) {
            // tell the service to drop the unfinished upload; its answer changes nothing here
            std::string strUrl, strPostData, strResponse;
            if (_BuildRequestDispatchServer(pTaskInfo, strUrl, strPostData)) {
                QvHttpClient client;
                client.Post(strUrl, strPostData, strResponse);
            }
        }
        // a record refreshed between the cancel and here would bring the file back at the next
        // login; a newer task of the same path owns the record
        if (bOwnSession && !UploadManager::GetTask(pTaskInfo->strFilePath))
            ResumeManager::Remove(pTaskInfo->strFilePath, true);
    } else if (bComplete) {
        UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusSucceed, true);
        ResumeManager::Remove(pTaskInfo->strFilePath, true);
    } else {
        int nErrorCode = ErrorOf(pTaskInfo);
        if (nErrorCode == ServiceCode::kNoSpace || nErrorCode == kErrNoSpace)
            UploadManager::StopAllTask(true);
        UploadManager::UpdateTaskStatus(pTaskInfo, TaskStatusError, true);
        FolderManager::UpdateTargetHandleStatus(pTaskInfo->strFolderPath,
                                                Utils::GetParentDir(pTaskInfo->strFilePath));
    }
    UploadManager::DelTask(pTaskInfo);
}

// ---------------------------------------------------------------- hooks and checks

bool UploadHandler::_HashProgressCallbackFun(std::string strFilePath, long long nHashSize) {
    if (!LoginManager::IsLogin())
        return false;
    PTaskInfo pTaskInfo = UploadManager::GetTask(strFilePath);
    if (!pTaskInfo || pTaskInfo != t_pHashingTask)
        return false;  // stopped: no longer ours
    MutexLocker lock(pTaskInfo->mutex);
    if (pTaskInfo->status != TaskStatusHash || pTaskInfo->nFileSize <= 0)
        return false;
    pTaskInfo->fHashPercent =
        static_cast<double>(nHashSize) / static_cast<double>(pTaskInfo->nFileSize) * 100.0;
    return true;
}

bool UploadHandler::_UploadSpaceEnough(PTaskInfo pTaskInfo, bool& bRquest) {
    if (!LoginManager::GetSpace()) {
        bRquest = false;
        return false;
    }
    bRquest = true;
    long long nFree = LoginManager::GetRemainSize();
    MutexLocker lock(pTaskInfo->mutex);
    long long nRemainFile = pTaskInfo->nFileSize - pTaskInfo->nUploadSize;
    if (nFree <= 0)
        return false;
    // more file than room: upload up to the room, then ask again
    pTaskInfo->nMaxUploadSize = nRemainFile > nFree ? pTaskInfo->nUploadSize + nFree : 0;
    return true;
}

// ---------------------------------------------------------------- requests and signatures

bool UploadHandler::_GetDispatchSignature(PTaskInfo pTaskInfo, std::string& strSignature) {
    std::string strInner;
    if (!Utils::GetHash(LoginManager::GetUserId() + pTaskInfo->strFileHash +
                            pTaskInfo->strFileMDVelmo + PickCodeOf(pTaskInfo) +
                            pTaskInfo->strTarget + kAppId,
                        strInner))
        return false;
    return Utils::GetHash(LoginManager::GetUserKey() + Utils::StringToLowerCase(strInner) + kAppKey,
                          strSignature);
}

bool UploadHandler::_GetUploadSignature(const std::string& strUploadKey,
                                        std::string& strSignature) {
    return Utils::GetHash(std::string(kAppKey) + strUploadKey + kAppId, strSignature);
}

bool UploadHandler::_BuildRequestDispatchServer(PTaskInfo pTaskInfo, std::string& strRequestUrl,
                                                std::string& strPostData) {
    TaskStatus status = StatusOf(pTaskInfo);
    const std::string strPickCode = PickCodeOf(pTaskInfo);
    std::string strBase;
    if (status == TaskStatusCancel)
        strBase = LoginManager::GetCancelUrl();
    else if (status == TaskStatusUpload)
        strBase = strPickCode.empty() ? LoginManager::GetUploadUrl() : LoginManager::GetResumeUrl();
    else
        return false;
    std::string strSignature;
    if (!_GetDispatchSignature(pTaskInfo, strSignature))
        return false;

    FormText query;
    query.Add("appid", kAppId)
        .Add("appversion", kPluginVersion)
        .Add("format", "json")
        .Add("isp", Utils::StringI2S(static_cast<unsigned>(pTaskInfo->ispType)))
        .Add("sig", strSignature);
    strRequestUrl = strBase + "?" + query.Text();

    FormText body;
    body.Add("userid", LoginManager::GetUserId())
        .Add("filename", Utils::GetFileName(pTaskInfo->strFilePath))
        .Add("filesize", Utils::StringI2S(pTaskInfo->nFileSize))
        .Add("target", pTaskInfo->strTarget)
        .Add("path", pTaskInfo->strFolderName)
        .Add("fileid", pTaskInfo->strFileHash)
        .Add("quickid", pTaskInfo->strFileMDVelmo)
        .Add("pickcode", strPickCode);
    strPostData = body.Text();
    Utils::OutputDebugStringEx("TARGET: " + pTaskInfo->strTarget);
    Utils::OutputDebugStringEx("PATH: " + pTaskInfo->strFolderName);
    return true;
}

bool UploadHandler::_BuildRequestCheckServer(PTaskInfo pTaskInfo, std::string& strRequestUrl) {
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    std::string strSignature;
    if (!pUploadInfo || !_GetUploadSignature(pUploadInfo->strUploadKey, strSignature))
        return false;
    strRequestUrl =
        pUploadInfo->strUploadUrl + "/2.0/check?" + UploadQuery(pTaskInfo, strSignature);
    return true;
}

bool UploadHandler::_BuildRequestUploadServer(PTaskInfo pTaskInfo, std::string& strRequestUrl) {
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    std::string strSignature;
    if (!pUploadInfo || !_GetUploadSignature(pUploadInfo->strUploadKey, strSignature))
        return false;
    strRequestUrl =
        pUploadInfo->strUploadUrl + "/2.0/bigupload?" + UploadQuery(pTaskInfo, strSignature);
    return true;
}

// ---------------------------------------------------------------- replies

bool UploadHandler::_ParseResponseDispatchServer(PTaskInfo pTaskInfo,
                                                 const std::string& strResponse) {
    PUploadInfo pUploadInfo = pTaskInfo->pUploadInfo;
    Json::Value root;
    if (!pUploadInfo || !JsonParse(strResponse, root))
        return false;
    try {
        int nStatus = 0;
        if (!ReadReplyStatus(pTaskInfo, root, nStatus))
            return false;
        if (nStatus == kStatusHeld) {
            MutexLocker lock(pTaskInfo->mutex);
            pTaskInfo->bFlashUpload = true;
        }
        pUploadInfo->strUploadKey = JsonText(JsonField(root, "uploadkey"));
        pUploadInfo->strUploadUrl = JsonText(JsonField(root, "uploadurl"));
        pUploadInfo->tUploadTime = JsonInt64(JsonField(root, "uploadtime"));
        std::string strTarget = JsonText(JsonField(root, "target"));
        if (!strTarget.empty())
            FolderManager::UpdateTarget(pTaskInfo->strFolderPath,
                                        Utils::GetParentDir(pTaskInfo->strFilePath),
                                        Utils::GetFileName(strTarget));
        std::string strPickCode = JsonText(JsonField(root, "pickcode"));
        MutexLocker lock(pTaskInfo->mutex);
        if (pTaskInfo->strPickCode.empty())
            pTaskInfo->strPickCode = strPickCode;
    } catch (...) {
        return false;
    }
    return true;
}

bool UploadHandler::_ParseResponseCheckServer(PTaskInfo pTaskInfo, const std::string& strResponse) {
    // the check says where the service stands: that is also how much is uploaded
    return ReadOffsetReply(pTaskInfo, strResponse, true);
}

bool UploadHandler::_ParseResponseUploadServer(PTaskInfo pTaskInfo,
                                               const std::string& strResponse) {
    return ReadOffsetReply(pTaskInfo, strResponse, false);
}

}  // namespace _VelmoUpload
