// The upload of one file task, on a thread of its own: digests, pause, space, dispatch,
// check, pieces, and the ending that reports and hands the task back.
#pragma once

#include <string>

#include "TaskModel.h"
#include "http/VelmoHttpClient.h"
#include "utils/UtilsHash.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

class UploadHandler {
public:
    static bool StartUploadFile(PTaskInfo pTaskInfo);
    static void* _UploadFileThread(void* pArguments);

    static bool _BuildRequestDispatchServer(PTaskInfo pTaskInfo, std::string& strRequestUrl,
                                            std::string& strPostData);
    static bool _ParseResponseDispatchServer(PTaskInfo pTaskInfo, const std::string& strResponse);
    static bool _BuildRequestCheckServer(PTaskInfo pTaskInfo, std::string& strRequestUrl);
    static bool _ParseResponseCheckServer(PTaskInfo pTaskInfo, const std::string& strResponse);
    static bool _BuildRequestUploadServer(PTaskInfo pTaskInfo, std::string& strRequestUrl);
    static bool _ParseResponseUploadServer(PTaskInfo pTaskInfo, const std::string& strResponse);
    static bool _GetDispatchSignature(PTaskInfo pTaskInfo, std::string& strSignature);
    static bool _GetUploadSignature(const std::string& strUploadKey, std::string& strSignature);
    static bool _HashProgressCallbackFun(std::string strFilePath, long long nHashSize);
    static bool _UploadSpaceEnough(PTaskInfo pTaskInfo, bool& bRquest);

private:
    // The steps of one upload; false ends it (failed, or stopped or cancelled). pieces holds the
    // digests of the file's pieces when hashing took them, for this upload alone.
    static bool _RunUpload(PTaskInfo pTaskInfo);
    static bool _HashFile(PTaskInfo pTaskInfo, PieceDigests& pieces);
    // The whole-file SHA-1 (with the pieces' digests), the progress hook answering for this task.
    static bool _HashSha1(PTaskInfo pTaskInfo, PieceDigests& pieces, int& nErrorCode);
    static bool _OpenTransfer(PTaskInfo pTaskInfo);
    static bool _PauseAndWaitForSpace(PTaskInfo pTaskInfo);
    static bool _WaitForSpace(PTaskInfo pTaskInfo);
    static bool _Dispatch(PTaskInfo pTaskInfo, PieceDigests& pieces);
    // Handles one dispatch refusal; true when the dispatch is worth sending again.
    static bool _RetryDispatch(PTaskInfo pTaskInfo, bool bCarriedSha1, PieceDigests& pieces);
    // A file the service already holds: counted as sent, task and folder.
    static void _TakeFlashUpload(PTaskInfo pTaskInfo, PFolderTaskInfo pFolder);
    static bool _Check(PTaskInfo pTaskInfo, bool& bNetworkFailure);
    // After a piece's connection failed: waits a second and asks where the service stands,
    // again and again while the network fails; false on a service error.
    static bool _Resync(PTaskInfo pTaskInfo);
    static bool _SendPieces(PTaskInfo pTaskInfo, PFolderTaskInfo pFolder,
                            const PieceDigests& pieces);
    // What became of one attempt at a piece.
    enum class PieceOutcome { Sent, Again, Halted, Failed };
    static PieceOutcome _SendOnePiece(PTaskInfo pTaskInfo, const std::string& strUrl,
                                      const PieceDigests& pieces, PieceHashAhead& ahead);
    static void _EndUpload(PTaskInfo pTaskInfo, bool bComplete);

    static HttpClient m_httpClient;
    // lets one dispatch that creates remote directories run at a time
    static Mutex m_mutex;
};

}  // namespace _VelmoUpload
