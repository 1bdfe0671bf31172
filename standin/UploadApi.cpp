// Dispatch, check and piece: every verification a real service makes, answered with its status
// code. Lock order: an upload's own lock first, then the store's.
#include "UploadApi.h"

#include <cerrno>
#include <cstring>
#include <future>

#include "AccountApi.h"
#include "PieceBody.h"
#include "ServiceConstants.h"
#include "ServiceReplies.h"
#include "Signatures.h"
#include "utils/Utils.h"

namespace standin {

// Pieces from this size on are hashed on helper threads while the request's thread writes them.
const size_t kHandOverBytes = 64 << 10;

const std::vector<std::string> kUploadQueryKeys = {"appid",    "appversion", "format",   "ets",
                                                   "filesize", "userid",     "pickcode", "sig"};
const std::vector<std::string> kDispatchQueryKeys = {"appid", "appversion", "format", "isp", "sig"};
const std::vector<std::string> kDispatchBodyKeys = {"userid", "filename", "filesize", "target",
                                                    "path",   "fileid",   "quickid",  "pickcode"};

namespace {

ApiResult Refuse(int nCode, const Account& account, const std::string& strUserId,
                 const std::string& strWhy) {
    return ApiResult{WriteJson(StatusReply(nCode)), account.strName, strUserId,
                     "refused " + std::to_string(nCode) + ": " + strWhy};
}

bool IsDecimal(const std::string& s, size_t nMaxLen = 18) {
    if (s.empty() || s.size() > nMaxLen)
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// Empty, or 40 hexadecimal digits (upper-cased into strOut).
bool NormalizeDigest(const std::string& strText, std::string& strOut) {
    strOut.clear();
    if (strText.empty())
        return true;
    if (strText.size() != 40)
        return false;
    for (char c : strText) {
        bool bHex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!bHex)
            return false;
        strOut += static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    }
    return true;
}

// The folder id in the last "/"-separated part of a target ("U_<user>_<folder>").
bool TargetFolder(const std::string& strTarget, long long nUserId, long long& nFolderId) {
    std::string::size_type nSlash = strTarget.rfind('/');
    std::string strLast = nSlash == std::string::npos ? strTarget : strTarget.substr(nSlash + 1);
    std::string strPrefix = "U_" + std::to_string(nUserId) + "_";
    if (strLast.compare(0, strPrefix.size(), strPrefix) != 0)
        return false;
    std::string strId = strLast.substr(strPrefix.size());
    if (!IsDecimal(strId))
        return false;
    nFolderId = std::stoll(strId);
    return true;
}

bool ValidName(const std::string& strName) {
    if (strName.empty() || strName.size() > 255 || strName == "." || strName == "..")
        return false;
    for (char c : strName)
        if (c == '/' || c == '\0')
            return false;
    return true;
}

// Directory names below the target; empty parts ("a//b", a trailing "/") are skipped.
bool SplitPath(const std::string& strPath, std::vector<std::string>& vParts) {
    std::string::size_type nStart = 0;
    while (nStart <= strPath.size()) {
        std::string::size_type nEnd = strPath.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = strPath.size();
        std::string strPart = strPath.substr(nStart, nEnd - nStart);
        if (!strPart.empty()) {
            if (!ValidName(strPart))
                return false;
            vParts.push_back(strPart);
        }
        nStart = nEnd + 1;
    }
    return vParts.size() <= 64;
}

std::string NewPickCode(Records& rec) {
    for (;;) {
        std::string strCode = RandomToken(12);
        if (!rec.PickCodeTaken(strCode))
            return strCode;
    }
}

std::string DispatchReply(ServiceContext& ctx, int nStatus, const std::string& strUploadKey,
                          long long nEts, const std::string& strTarget,
                          const std::string& strPickCode) {
    Json::Value reply(Json::objectValue);
    reply["status"] = nStatus;
    reply["statuscode"] = ServiceCode::kOk;
    reply["statusmsg"] = "";
    reply["uploadkey"] = strUploadKey;
    reply["uploadurl"] = ctx.strPublicUrl;
    reply["uploadtime"] = static_cast<Json::Int64>(nEts);
    reply["target"] = strTarget;
    reply["pickcode"] = strPickCode;
    return WriteJson(reply);
}

std::string OffsetReply(long long nOffset) {
    Json::Value reply(Json::objectValue);
    reply["status"] = 1;
    reply["statuscode"] = ServiceCode::kOk;
    reply["statusmsg"] = "";
    reply["offset"] = static_cast<Json::Int64>(nOffset);
    return WriteJson(reply);
}

// What a dispatch asks for, read and checked before any record is touched.
struct DispatchAsk {
    Account account;
    std::string strUserId;
    std::string strFileName;
    long long nFileSize = 0;
    std::string strFileId;
    std::string strQuickId;
    std::string strPickCode;
    long long nTargetFolder = 0;
    std::vector<std::string> vPath;
};

ApiResult Cancel(ServiceContext& ctx, const DispatchAsk& ask) {
    if (ask.strPickCode.empty())
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId,
                      "cancel without a pick code");
    std::shared_ptr<std::mutex> pLock = ctx.uploadLocks.For(ask.strPickCode);
    std::lock_guard<std::mutex> lock(*pLock);
    ApiResult result;
    ctx.store.Transact([&](Records& rec) {
        Upload upload;
        StoredFile file;
        if (rec.UploadByPickCode(ask.strPickCode, upload) && upload.nUserId == ask.account.nId) {
            if (!upload.bDone) {
                rec.DeleteUpload(ask.strPickCode);
                ctx.files.RemovePartial(ask.strPickCode);
                ctx.digests.Drop(ask.strPickCode);
            }
            result = ApiResult{OffsetReply(0), ask.account.strName, ask.strUserId,
                               upload.bDone ? "ok: already complete" : "ok: upload dropped"};
            return true;
        }
        if (rec.FileByPickCode(ask.strPickCode, file) && file.nUserId == ask.account.nId) {
            result = ApiResult{OffsetReply(0), ask.account.strName, ask.strUserId,
                               "ok: already complete"};
            return true;
        }
        result =
            Refuse(ServiceCode::kUnknownPickCode, ask.account, ask.strUserId, "unknown pick code");
        return false;
    });
    return result;
}

// Inside the dispatch transaction: finds or creates each directory of the path below the
// target, and returns the target text of the last one (one "/"-separated part per level).
bool ResolveFolder(Records& rec, const DispatchAsk& ask, long long& nFolderId,
                   std::string& strTarget) {
    Folder folder;
    if (!rec.FolderById(ask.nTargetFolder, folder) || folder.nUserId != ask.account.nId)
        return false;
    nFolderId = folder.nId;
    strTarget = FolderTarget(ask.account.nId, nFolderId);
    for (const std::string& strName : ask.vPath) {
        long long nChild = rec.ChildFolder(ask.account.nId, nFolderId, strName);
        if (!nChild)
            nChild = rec.CreateFolder(ask.account.nId, nFolderId, strName);
        nFolderId = nChild;
        strTarget += "/" + FolderTarget(ask.account.nId, nFolderId);
    }
    return true;
}

// Content already held under this SHA-1 with the same size (and quick digest, when given).
bool HeldContent(Records& rec, const std::string& strFileId, const std::string& strQuickId,
                 long long nSize) {
    Content content;
    return !strFileId.empty() && rec.ContentBySha1(strFileId, content) && content.nSize == nSize &&
           (strQuickId.empty() || content.strQuickId == strQuickId);
}

// One dispatch inside its transaction, in named steps. Each step leaves its answer in result
// and returns whether the transaction commits.
class DispatchRun {
public:
    DispatchRun(ServiceContext& ctx, Records& rec, const DispatchAsk& ask, bool bReportFull)
        : m_ctx(ctx), m_rec(rec), m_ask(ask), m_bReportFull(bReportFull) {}

    bool Run() {
        if (!ResolveFolder(m_rec, m_ask, m_nFolderId, m_strTarget))
            return Refused(ServiceCode::kNoDirectory, "no such target folder");
        m_nUsed = m_bReportFull ? m_ctx.opts.policy.nQuota : m_rec.UsedBytes(m_ask.account.nId);
        return m_ask.strPickCode.empty() ? StartNew() : Resume();
    }

    ApiResult result;

private:
    bool Refused(int nCode, const std::string& strWhy) {
        result = Refuse(nCode, m_ask.account, m_ask.strUserId, strWhy);
        return false;
    }

    // "status" 2: the file is stored, nothing is to be sent.
    bool Held(const std::string& strPickCode, const std::string& strVerdict) {
        result = ApiResult{
            DispatchReply(m_ctx, _VelmoUpload::kStatusHeld, "", 0, m_strTarget, strPickCode),
            m_ask.account.strName, m_ask.strUserId, strVerdict};
        return true;
    }

    bool Fits(long long nMore) const { return m_nUsed + nMore <= m_ctx.opts.policy.nQuota; }

    // The file this dispatch adds to its folder, once its content is held.
    StoredFile FileOf(const std::string& strSha1, const std::string& strPickCode) const {
        StoredFile file;
        file.nUserId = m_ask.account.nId;
        file.nFolderId = m_nFolderId;
        file.strName = m_ask.strFileName;
        file.nSize = m_ask.nFileSize;
        file.strSha1 = strSha1;
        file.strPickCode = strPickCode;
        return file;
    }

    // A dispatch that names a pick code: the upload it began, resumed or begun again.
    bool Resume() {
        Upload upload;
        if (!m_rec.UploadByPickCode(m_ask.strPickCode, upload) ||
            upload.nUserId != m_ask.account.nId) {
            StoredFile file;
            if (m_rec.FileByPickCode(m_ask.strPickCode, file) && file.nUserId == m_ask.account.nId)
                return Held(m_ask.strPickCode, "rapid: pick code already stored");
            return Refused(ServiceCode::kUnknownPickCode, "unknown pick code");
        }
        if (upload.bDone)
            return Held(m_ask.strPickCode, "rapid: upload already complete");
        bool bChanged = false;
        if (!RestartIfChanged(upload, bChanged))
            return false;
        if (upload.strFileId.empty())
            upload.strFileId = m_ask.strFileId;
        if (upload.strQuickId.empty())
            upload.strQuickId = m_ask.strQuickId;
        Content content;
        if (upload.strFileId.empty() &&
            m_rec.ContentByQuickId(upload.strQuickId, upload.nFileSize, content))
            return Refused(ServiceCode::kNeedSha1, "quick digest known");
        if (HeldContent(m_rec, upload.strFileId, upload.strQuickId, upload.nFileSize)) {
            m_rec.DeleteUpload(upload.strPickCode);
            m_ctx.files.RemovePartial(upload.strPickCode);
            m_ctx.digests.Drop(upload.strPickCode);
            StoredFile file = FileOf(upload.strFileId, upload.strPickCode);
            m_rec.InsertFile(file);
            return Held(upload.strPickCode, "rapid: resumed content now held");
        }
        upload.nFolderId = m_nFolderId;
        upload.strFileName = m_ask.strFileName;
        upload.nEts = NowSeconds() + kUploadKeySeconds;
        if (bChanged) {
            m_ctx.files.CreatePartial(upload.strPickCode);
            m_ctx.digests.Drop(upload.strPickCode);
        }
        m_rec.UpdateUpload(upload);
        result =
            ApiResult{DispatchReply(m_ctx, _VelmoUpload::kStatusToSend, upload.strUploadKey,
                                    upload.nEts, m_strTarget, upload.strPickCode),
                      m_ask.account.strName, m_ask.strUserId,
                      "resume " + upload.strPickCode + " at " + std::to_string(upload.nOffset)};
        return true;
    }

    // A file that changed since its first dispatch starts again under the same pick code: the
    // client keeps the code it has, so a new one would strand it.
    bool RestartIfChanged(Upload& upload, bool& bChanged) {
        bChanged = upload.nFileSize != m_ask.nFileSize ||
                   (!m_ask.strFileId.empty() && !upload.strFileId.empty() &&
                    m_ask.strFileId != upload.strFileId) ||
                   (!m_ask.strQuickId.empty() && !upload.strQuickId.empty() &&
                    m_ask.strQuickId != upload.strQuickId);
        if (!bChanged) {
            if (m_bReportFull)
                return Refused(ServiceCode::kNoSpace, "reported full");
            return true;
        }
        if (!Fits(m_ask.nFileSize - upload.nFileSize))
            return Refused(ServiceCode::kNoSpace, "quota");
        upload.nOffset = 0;
        upload.nFileSize = m_ask.nFileSize;
        upload.strFileId = m_ask.strFileId;
        upload.strQuickId = m_ask.strQuickId;
        return true;
    }

    // A dispatch without a pick code: held content is stored at once, else an upload begins.
    bool StartNew() {
        Content content;
        if (m_ask.strFileId.empty() &&
            m_rec.ContentByQuickId(m_ask.strQuickId, m_ask.nFileSize, content))
            return Refused(ServiceCode::kNeedSha1, "quick digest known");
        if (HeldContent(m_rec, m_ask.strFileId, m_ask.strQuickId, m_ask.nFileSize)) {
            StoredFile same;
            if (m_rec.SameFile(m_nFolderId, m_ask.strFileName, m_ask.strFileId, same))
                return Held(same.strPickCode, "rapid: same file already there");
            if (!Fits(m_ask.nFileSize))
                return Refused(ServiceCode::kNoSpace, "quota");
            StoredFile file = FileOf(m_ask.strFileId, NewPickCode(m_rec));
            m_rec.InsertFile(file);
            return Held(file.strPickCode, "rapid: content held");
        }
        if (!Fits(m_ask.nFileSize))
            return Refused(ServiceCode::kNoSpace, "quota");
        return BeginUpload();
    }

    bool BeginUpload() {
        Upload upload;
        upload.strPickCode = NewPickCode(m_rec);
        upload.nUserId = m_ask.account.nId;
        upload.nFolderId = m_nFolderId;
        upload.strFileName = m_ask.strFileName;
        upload.nFileSize = m_ask.nFileSize;
        upload.strFileId = m_ask.strFileId;
        upload.strQuickId = m_ask.strQuickId;
        upload.strUploadKey = RandomToken(32);
        upload.nEts = NowSeconds() + kUploadKeySeconds;
        int nError = m_ctx.files.CreatePartial(upload.strPickCode);
        if (nError)
            return Refused(nError == ENOSPC ? ServiceCode::kDiskFull : ServiceCode::kInternal,
                           std::string("cannot create partial file: ") + strerror(nError));
        m_rec.InsertUpload(upload);
        result =
            ApiResult{DispatchReply(m_ctx, _VelmoUpload::kStatusToSend, upload.strUploadKey,
                                    upload.nEts, m_strTarget, upload.strPickCode),
                      m_ask.account.strName, m_ask.strUserId, "new upload " + upload.strPickCode};
        return true;
    }

    ServiceContext& m_ctx;
    Records& m_rec;
    const DispatchAsk& m_ask;
    const bool m_bReportFull;
    long long m_nFolderId = 0;
    std::string m_strTarget;  // the target text the reply names: one part per folder level
    long long m_nUsed = 0;
};

ApiResult Dispatch(ServiceContext& ctx, const DispatchAsk& ask, bool bReportFull) {
    // a dispatch that names an upload waits for its pieces in flight
    std::shared_ptr<std::mutex> pLock;
    std::unique_lock<std::mutex> uploadLock;
    if (!ask.strPickCode.empty()) {
        pLock = ctx.uploadLocks.For(ask.strPickCode);
        uploadLock = std::unique_lock<std::mutex>(*pLock);
    }
    ApiResult result;
    ctx.store.Transact([&](Records& rec) {
        DispatchRun run(ctx, rec, ask, bReportFull);
        bool bCommit = run.Run();
        result = std::move(run.result);
        return bCommit;
    });
    return result;
}

// Check and piece share their query; on success the upload it names is in upload.
bool VerifyUploadQuery(ServiceContext& ctx, const FormFields& query, Account& account,
                       Upload& upload, ApiResult& refusal) {
    std::string strUserId = query.Get("userid");
    std::string strMissing = query.FirstMissing(kUploadQueryKeys);
    if (!strMissing.empty()) {
        refusal = Refuse(ServiceCode::kBadParameter, account, strUserId, "missing " + strMissing);
        return false;
    }
    if (query.Get("appid") != _VelmoUpload::kAppId || query.Get("format") != "json" ||
        !IsDecimal(query.Get("ets")) || !IsDecimal(query.Get("filesize"))) {
        refusal = Refuse(ServiceCode::kBadParameter, account, strUserId, "malformed query");
        return false;
    }
    if (!AccountByUserId(ctx, strUserId, account)) {
        refusal = Refuse(ServiceCode::kUnknownUser, account, strUserId, "unknown user");
        return false;
    }
    std::string strPickCode = query.Get("pickcode");
    bool bFound =
        ctx.store.Read([&](Records& rec) { return rec.UploadByPickCode(strPickCode, upload); });
    if (!bFound || upload.nUserId != account.nId) {
        refusal = Refuse(ServiceCode::kUnknownPickCode, account, strUserId, "unknown pick code");
        return false;
    }
    if (!SameDigest(UploadSignature(upload.strUploadKey), query.Get("sig"))) {
        refusal = Refuse(ServiceCode::kBadSignature, account, strUserId, "upload signature");
        return false;
    }
    long long nEts = std::stoll(query.Get("ets"));
    if (nEts != upload.nEts) {
        refusal =
            Refuse(ServiceCode::kBadParameter, account, strUserId, "ets is not the dispatched one");
        return false;
    }
    if (NowSeconds() > upload.nEts) {
        refusal = Refuse(ServiceCode::kUploadExpired, account, strUserId, "upload key expired");
        return false;
    }
    if (std::stoll(query.Get("filesize")) != upload.nFileSize) {
        refusal = Refuse(ServiceCode::kBadParameter, account, strUserId,
                         "filesize differs from dispatch");
        return false;
    }
    return true;
}

// The last piece is in: the whole content must match what the dispatch announced.
ApiResult FinishUpload(ServiceContext& ctx, const Account& account, const std::string& strUserId,
                       Upload upload, const RunningDigest* pRunning) {
    using _VelmoUpload::Utils;
    std::string strPath = ctx.files.PartialPath(upload.strPickCode);
    std::string strSha1, strQuickId;
    int nError = 0;
    ctx.digests.Drop(upload.strPickCode);
    if (pRunning && pRunning->nBytes == upload.nFileSize)
        strSha1 = pRunning->Text();
    if ((strSha1.empty() && !Utils::GetFileHash(strPath, strSha1, nError, nullptr)) ||
        !Utils::GetFileMDVelmo(strPath, strQuickId, nError))
        return Refuse(ServiceCode::kInternal, account, strUserId,
                      "cannot hash the upload: error " + std::to_string(nError));
    bool bSha1Wrong = !upload.strFileId.empty() && upload.strFileId != strSha1;
    bool bQuickWrong = !upload.strQuickId.empty() && upload.strQuickId != strQuickId;
    if (bSha1Wrong || bQuickWrong) {
        ctx.store.Transact([&](Records& rec) {
            rec.DeleteUpload(upload.strPickCode);
            return true;
        });
        ctx.files.RemovePartial(upload.strPickCode);
        return Refuse(ServiceCode::kHashMismatch, account, strUserId,
                      std::string(bSha1Wrong ? "SHA-1" : "MDVelmo") +
                          " of the content differs; upload discarded");
    }
    if (!ctx.files.CommitPartial(upload.strPickCode, strSha1))
        return Refuse(ServiceCode::kDiskFull, account, strUserId,
                      "cannot move content into the store");
    ctx.store.Transact([&](Records& rec) {
        Content content;
        content.strSha1 = strSha1;
        content.strQuickId = strQuickId;
        content.nSize = upload.nFileSize;
        rec.PutContent(content);
        StoredFile file;
        file.nUserId = upload.nUserId;
        file.nFolderId = upload.nFolderId;
        file.strName = upload.strFileName;
        file.nSize = upload.nFileSize;
        file.strSha1 = strSha1;
        file.strPickCode = upload.strPickCode;
        rec.InsertFile(file);
        upload.strFileId = strSha1;
        upload.strQuickId = strQuickId;
        upload.nOffset = upload.nFileSize;
        upload.bDone = true;
        rec.UpdateUpload(upload);
        return true;
    });
    return ApiResult{OffsetReply(upload.nFileSize), account.strName, strUserId,
                     "stored " + strSha1 + " " + std::to_string(upload.nFileSize)};
}

// What a piece request carries, read and checked before its upload's lock is taken.
struct PieceAsk {
    Account account;
    std::string strUserId;
    Upload upload;
    PieceBody piece;
    std::string strFileId;
    std::string strQuickId;
    long long nStart = 0;
    long long nEnd = 0;
};

bool ReadPieceAsk(ServiceContext& ctx, const FormFields& query, const std::string& strContentType,
                  const std::string& strBody, PieceAsk& ask, ApiResult& refusal) {
    if (!VerifyUploadQuery(ctx, query, ask.account, ask.upload, refusal))
        return false;
    ask.strUserId = query.Get("userid");
    auto refuse = [&](int nCode, const std::string& strWhy) {
        refusal = Refuse(nCode, ask.account, ask.strUserId, strWhy);
        return false;
    };
    std::string strBoundary, strError;
    if (!MultipartBoundary(strContentType, strBoundary))
        return refuse(ServiceCode::kBadParameter, "not multipart/form-data");
    if (!ParsePieceBody(strBody, strBoundary, ask.piece, strError))
        return refuse(ServiceCode::kBadParameter, strError);
    if (ask.piece.strFileName != ask.upload.strPickCode)
        return refuse(ServiceCode::kBadParameter, "file part names another pick code");
    if (!NormalizeDigest(ask.piece.strFileId, ask.strFileId) ||
        !NormalizeDigest(ask.piece.strQuickId, ask.strQuickId))
        return refuse(ServiceCode::kBadParameter, "malformed digest part");
    if (!ParseRange(ask.piece.strRange, ask.nStart, ask.nEnd))
        return refuse(ServiceCode::kBadParameter, "malformed ctrange");
    if (ask.piece.nData == 0)
        return refuse(ServiceCode::kBadRange, "empty piece");
    return true;
}

// Under the upload's lock: the piece must continue the upload as it now stands.
bool PieceFits(ServiceContext& ctx, PieceAsk& ask, ApiResult& refusal) {
    Upload& upload = ask.upload;
    auto refuse = [&](int nCode, const std::string& strWhy) {
        refusal = Refuse(nCode, ask.account, ask.strUserId, strWhy);
        return false;
    };
    // another piece may have moved the upload on while this one waited for the lock
    if (!ctx.store.Read(
            [&](Records& rec) { return rec.UploadByPickCode(upload.strPickCode, upload); }))
        return refuse(ServiceCode::kUnknownPickCode, "upload gone");
    if ((!upload.strFileId.empty() && !ask.strFileId.empty() &&
         ask.strFileId != upload.strFileId) ||
        (!upload.strQuickId.empty() && !ask.strQuickId.empty() &&
         ask.strQuickId != upload.strQuickId))
        return refuse(ServiceCode::kBadParameter, "digests differ from the dispatch");
    if (upload.bDone || ask.nStart != upload.nOffset)
        return refuse(ServiceCode::kBadRange, "range starts at " + std::to_string(ask.nStart) +
                                                  ", upload holds " +
                                                  std::to_string(upload.nOffset));
    const PieceBody& piece = ask.piece;
    if (ask.nEnd - ask.nStart != static_cast<long long>(piece.nData) ||
        ask.nEnd > upload.nFileSize || piece.nData > static_cast<size_t>(_VelmoUpload::kPieceSize))
        return refuse(ServiceCode::kBadRange, "range " + piece.strRange +
                                                  " does not fit a piece of " +
                                                  std::to_string(piece.nData) + " bytes");
    return true;
}

// Writes the piece while helper threads compute its SHA-1 and extend the upload's running
// digest with it (a copy: it is kept only for a piece that passes). A piece that fails its
// check has only been written past the recorded offset, where the next piece overwrites it.
bool WritePiece(ServiceContext& ctx, const PieceAsk& ask, bool bLast, RunningDigest& running,
                bool& bRunning, ApiResult& refusal) {
    const PieceBody& piece = ask.piece;
    const auto* pBytes = reinterpret_cast<const unsigned char*>(piece.pData);
    bRunning = ctx.digests.At(ask.upload.strPickCode, ask.nStart, running);
    // a small piece (a small file's only one) is hashed sooner than it is handed over
    const bool bHandOver = piece.nData >= kHandOverBytes;
    std::future<std::string> pieceHash;
    std::future<void> extending;
    if (bHandOver) {
        pieceHash = ctx.helpers.Sha1(piece.pData, piece.nData);
        if (bRunning)
            extending = ctx.helpers.Extend(running, piece.pData, piece.nData);
    }
    // the helpers read the body and the digest until they are done, however this is left
    struct AwaitHelpers {
        std::future<std::string>& hash;
        std::future<void>& extension;
        ~AwaitHelpers() {
            if (hash.valid())
                hash.wait();
            if (extension.valid())
                extension.wait();
        }
    } awaitHelpers{pieceHash, extending};
    int nError =
        ctx.files.WritePiece(ask.upload.strPickCode, ask.nStart, piece.pData, piece.nData, bLast);
    std::string strPieceHash;
    if (bHandOver) {
        strPieceHash = pieceHash.get();
        if (extending.valid())
            extending.get();
    } else {
        _VelmoUpload::Utils::GetHash(pBytes, static_cast<unsigned>(piece.nData), strPieceHash);
        if (bRunning) {
            running.sha1.Input(pBytes, piece.nData);
            running.nBytes += static_cast<long long>(piece.nData);
        }
    }
    if (!SameDigest(strPieceHash, piece.strHash)) {
        refusal = Refuse(ServiceCode::kHashMismatch, ask.account, ask.strUserId,
                         "cthash is not the piece's SHA-1");
        return false;
    }
    if (nError) {
        refusal =
            Refuse(nError == ENOSPC ? ServiceCode::kDiskFull : ServiceCode::kInternal, ask.account,
                   ask.strUserId, std::string("cannot write: ") + strerror(nError));
        return false;
    }
    return true;
}

ApiResult StorePiece(ServiceContext& ctx, PieceAsk& ask, bool bReportFull) {
    ApiResult refusal;
    if (!PieceFits(ctx, ask, refusal))
        return refusal;
    if (bReportFull)
        return Refuse(ServiceCode::kNoSpace, ask.account, ask.strUserId, "reported full");
    Upload& upload = ask.upload;
    if (upload.strFileId.empty())
        upload.strFileId = ask.strFileId;
    if (upload.strQuickId.empty())
        upload.strQuickId = ask.strQuickId;
    bool bLast = ask.nEnd == upload.nFileSize;
    RunningDigest running;
    bool bRunning = false;
    if (!WritePiece(ctx, ask, bLast, running, bRunning, refusal))
        return refusal;
    if (bLast)
        return FinishUpload(ctx, ask.account, ask.strUserId, upload, bRunning ? &running : nullptr);
    upload.nOffset = ask.nEnd;
    ctx.store.Transact([&](Records& rec) {
        rec.UpdateUpload(upload);
        return true;
    });
    if (bRunning)
        ctx.digests.Put(upload.strPickCode, running);
    else
        ctx.digests.Drop(upload.strPickCode);  // the file is hashed from disk at its end
    return ApiResult{OffsetReply(ask.nEnd), ask.account.strName, ask.strUserId,
                     "offset " + std::to_string(ask.nEnd)};
}

}  // namespace

ApiResult HandleDispatch(ServiceContext& ctx, DispatchUrl url, const FormFields& query,
                         const FormFields& body, bool bReportFull) {
    DispatchAsk ask;
    ask.strUserId = body.Get("userid");
    std::string strMissing = query.FirstMissing(kDispatchQueryKeys);
    if (strMissing.empty())
        strMissing = body.FirstMissing(kDispatchBodyKeys);
    if (!strMissing.empty())
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId,
                      "missing " + strMissing);
    if (query.Get("appid") != _VelmoUpload::kAppId || query.Get("format") != "json" ||
        !IsDecimal(query.Get("isp"), 9) || query.Get("appversion").empty())
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "malformed query");
    if (!AccountByUserId(ctx, ask.strUserId, ask.account))
        return Refuse(ServiceCode::kUnknownUser, ask.account, ask.strUserId, "unknown user");

    std::string strTarget = body.Get("target");
    ask.strPickCode = body.Get("pickcode");
    std::string strExpected =
        DispatchSignature(ask.strUserId, ask.account.strUserKey, body.Get("fileid"),
                          body.Get("quickid"), ask.strPickCode, strTarget);
    if (!SameDigest(strExpected, query.Get("sig")))
        return Refuse(ServiceCode::kBadSignature, ask.account, ask.strUserId, "dispatch signature");
    if (url == DispatchUrl::Cancel)
        return Cancel(ctx, ask);

    ask.strFileName = body.Get("filename");
    if (!ValidName(ask.strFileName))
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "bad file name");
    if (!IsDecimal(body.Get("filesize")) || std::stoll(body.Get("filesize")) <= 0)
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "bad file size");
    ask.nFileSize = std::stoll(body.Get("filesize"));
    if (ask.nFileSize > ctx.opts.policy.nSizeLimit)
        return Refuse(ServiceCode::kTooLarge, ask.account, ask.strUserId, "above the size limit");
    if (!NormalizeDigest(body.Get("fileid"), ask.strFileId) ||
        !NormalizeDigest(body.Get("quickid"), ask.strQuickId) ||
        (ask.strFileId.empty() && ask.strQuickId.empty()))
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "bad digests");
    if (strTarget.empty())
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "no target");
    if (!TargetFolder(strTarget, ask.account.nId, ask.nTargetFolder))
        return Refuse(ServiceCode::kNoDirectory, ask.account, ask.strUserId,
                      "target names no folder");
    if (!SplitPath(body.Get("path"), ask.vPath))
        return Refuse(ServiceCode::kBadParameter, ask.account, ask.strUserId, "bad path");
    return Dispatch(ctx, ask, bReportFull);
}

ApiResult HandleCheck(ServiceContext& ctx, const FormFields& query) {
    Account account;
    Upload upload;
    ApiResult refusal;
    if (!VerifyUploadQuery(ctx, query, account, upload, refusal))
        return refusal;
    return ApiResult{OffsetReply(upload.nOffset), account.strName, query.Get("userid"),
                     "offset " + std::to_string(upload.nOffset)};
}

ApiResult HandlePiece(ServiceContext& ctx, const FormFields& query,
                      const std::string& strContentType, const std::string& strBody,
                      bool bReportFull) {
    PieceAsk ask;
    ApiResult refusal;
    if (!ReadPieceAsk(ctx, query, strContentType, strBody, ask, refusal))
        return refusal;
    std::shared_ptr<std::mutex> pLock = ctx.uploadLocks.For(ask.upload.strPickCode);
    std::lock_guard<std::mutex> lock(*pLock);
    return StorePiece(ctx, ask, bReportFull);
}

void RecoverUploads(ServiceContext& ctx) {
    std::vector<Upload> vUploads =
        ctx.store.Read([](Records& rec) { return rec.UnfinishedUploads(); });
    for (Upload& upload : vUploads) {
        long long nHeld = ctx.files.PartialSize(upload.strPickCode);
        if (nHeld == upload.nOffset)
            continue;
        if (nHeld < 0) {
            ctx.files.CreatePartial(upload.strPickCode);
            upload.nOffset = 0;
        } else if (nHeld > upload.nOffset) {
            // bytes written after the last recorded piece; the client sends them again
            ctx.files.TruncatePartial(upload.strPickCode, upload.nOffset);
            continue;
        } else {
            upload.nOffset = nHeld;
        }
        ctx.store.Transact([&](Records& rec) {
            rec.UpdateUpload(upload);
            return true;
        });
    }
}

}  // namespace standin
