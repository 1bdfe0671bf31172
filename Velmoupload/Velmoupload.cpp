// The upload manager: the registry of file tasks, the dispatch thread that starts them and
// reports on them, status changes with the folder accounting, and stop and cancel.
#include "Velmoupload.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ServiceConstants.h"
#include "core/ErrorManager.h"
#include "core/FolderManager.h"
#include "core/LoginManager.h"
#include "core/ResumeManager.h"
#include "core/UploadHandler.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

TaskInfoDict UploadManager::m_taskInfoDict;
TaskInfoList UploadManager::m_taskInfoList;
Mutex UploadManager::m_mutex;
bool UploadManager::m_bInit = false;
void* UploadManager::m_hWnd = nullptr;
long long UploadManager::m_nTotalSize = 0;
std::string UploadManager::m_strTaskInfo;
int UploadManager::m_nMaxUploadCount = 1;
int UploadManager::m_nCurUploadCount = 0;
bool UploadManager::m_bDispatchRunning = false;
unsigned long UploadManager::m_nSession = 0;
std::map<PTaskInfo, unsigned long> UploadManager::m_startedTasks;
ProgressCallbackFun UploadManager::m_progressCallback = nullptr;
void* UploadManager::m_paramCallback = nullptr;

namespace {

const char kIdleSummary[] = "0,0,0,00:00:00";
// running reports come at most this often
constexpr uint32_t kReportIntervalMs = 1000;

// The dispatch thread sleeps here between passes; a queued task or a freed slot wakes it,
// so a folder of small files does not wait a second per file. Never destroyed: the detached
// dispatch thread may still be waiting on it when the process exits.
struct DispatchWake {
    std::mutex lock;  // guards bWake
    std::condition_variable cond;
    bool bWake = false;
};

DispatchWake& Wake() {
    static DispatchWake* pWake = new DispatchWake;
    return *pWake;
}

TaskStatus StatusOf(PTaskInfo pTaskInfo) {
    MutexLocker lock(pTaskInfo->mutex);
    return pTaskInfo->status;
}

bool IsFinalStatus(TaskStatus status) {
    return status == TaskStatusCancel || status == TaskStatusStop || status == TaskStatusError ||
           status == TaskStatusSucceed;
}

// Fills a new task for strFilePath; true when it is a new upload. A remembered upload continues
// as it was, whatever the call asks for: its record gives the digests, pick code, targets,
// sizes and ISP, and its folder replaces the call's.
bool FillTask(PTaskInfo pTaskInfo, const std::string& strFilePath, const std::string& strTarget,
              ISPType ispType, std::string strFolderPath, std::string strFolderTarget) {
    ResumeInfo resumeInfo;
    bool bNew = true;
    if (ResumeManager::GetResumeInfo(strFilePath, resumeInfo)) {
        bNew = false;
        pTaskInfo->strFileHash = resumeInfo.strFileHash;
        pTaskInfo->strFileMDVelmo = resumeInfo.strFileMDVelmo;
        pTaskInfo->strPickCode = resumeInfo.strPickCode;
        pTaskInfo->strFolderPath = resumeInfo.strFolderPath;
        pTaskInfo->strFolderTarget = resumeInfo.strFolderTarget;
        pTaskInfo->strTarget = resumeInfo.strTarget;
        pTaskInfo->nFileSize = resumeInfo.nFileSize;
        pTaskInfo->nUploadSize = resumeInfo.nUploadSize;
        pTaskInfo->ispType = static_cast<ISPType>(resumeInfo.ispType);
        strFolderPath = resumeInfo.strFolderPath;
        strFolderTarget = resumeInfo.strFolderTarget;
    } else {
        pTaskInfo->strTarget = strTarget;
        pTaskInfo->ispType = ispType;
    }
    if (!strFolderPath.empty())
        pTaskInfo->strFolderPath = strFolderPath;
    if (!strFolderTarget.empty())
        pTaskInfo->strFolderTarget = strFolderTarget;
    pTaskInfo->strFilePath = strFilePath;
    return bNew;
}

// Reads the size of a task that has none yet: 0, the system's error number, or the empty-file
// code.
int ReadMissingSize(PTaskInfo pTaskInfo) {
    if (pTaskInfo->nFileSize > 0)
        return 0;
    int nErrorCode = 0;
    errno = 0;
    long long nSize = 0;
    if (!Utils::GetFileSize(pTaskInfo->strFilePath, nSize))
        nErrorCode = errno != 0 ? errno : ENOENT;
    else
        pTaskInfo->nFileSize = nSize;
    if (nErrorCode == 0 && pTaskInfo->nFileSize <= 0)
        nErrorCode = kErrEmptyFile;
    return nErrorCode;
}

// Why a filled task cannot be queued, or 0: no target at all, no readable content, or a file
// above the account's size limit.
int StartError(PTaskInfo pTaskInfo) {
    if (pTaskInfo->strFolderPath.empty() && pTaskInfo->strFolderTarget.empty() &&
        pTaskInfo->strTarget.empty())
        return kErrNoTarget;
    int nErrorCode = ReadMissingSize(pTaskInfo);
    if (nErrorCode == 0 && pTaskInfo->nFileSize > LoginManager::GetMaxUploadSize())
        nErrorCode = kErrFileTooLarge;
    return nErrorCode;
}

// One running report of the dispatch pass: a file's, or its folder's for a member.
struct RunningReport {
    std::string strPath;
    long long nSize = 0;
    long long nUploadSize = 0;
    int nSpeed = 0;
    TaskStatus status = TaskStatusInit;
    double fHashPercent = 0.0;
    int nErrorCode = 0;
    std::string strErrorMsg, strPickCode;
    bool bIsFolder = false;
};

// Everything the report needs of the task, under the task's lock; false unless it is hashing
// or uploading.
bool ReadRunningTask(PTaskInfo pTaskInfo, RunningReport& report) {
    {
        MutexLocker lock(pTaskInfo->mutex);
        report.status = pTaskInfo->status;
        // a waiting or finished task is skipped before its fields are copied
        if (report.status != TaskStatusHash && report.status != TaskStatusUpload)
            return false;
        if (pTaskInfo->pUploadInfo)
            report.nSpeed = pTaskInfo->pUploadInfo->nSpeed;
        report.nUploadSize = pTaskInfo->nUploadSize;
        report.fHashPercent = pTaskInfo->fHashPercent;
        report.nErrorCode = pTaskInfo->nErrorCode;
        report.strErrorMsg = ErrorManager::GetErrorMessage(pTaskInfo);
        report.strPickCode = pTaskInfo->strPickCode;
    }
    report.strPath = pTaskInfo->strFilePath;
    report.nSize = pTaskInfo->nFileSize;
    return true;
}

// A folder's member reports as its folder: the folder's path, sizes and speed, under the
// folder's lock (the task's is no longer held). False when the folder is gone.
bool FoldIntoFolder(PTaskInfo pTaskInfo, RunningReport& report) {
    if (pTaskInfo->strFolderPath.empty())
        return true;
    FolderRef folderRef(pTaskInfo->strFolderPath);  // keeps the record alive while we use it
    PFolderTaskInfo pFolder = folderRef.get();
    if (!pFolder)
        return false;
    MutexLocker lock(pFolder->mutex);
    report.strPath = pFolder->strFolderPath;
    report.nSize = pFolder->nTotalSize;
    report.nUploadSize = pFolder->nUploadSize;
    report.status = TaskStatusUpload;
    report.bIsFolder = true;
    if (pFolder->tBeginTime > 0) {
        uint32_t nElapsed = Utils::GetCurTime() - static_cast<uint32_t>(pFolder->tBeginTime);
        if (report.nSpeed <= 0 && nElapsed > 0)
            report.nSpeed = static_cast<int>(pFolder->nCurUploadSize / nElapsed * 1000);
    }
    return true;
}

}  // namespace

std::string GetPluginVersion() {
    return kPluginVersion;
}

// ---------------------------------------------------------------- start and stop of the engine

void UploadManager::Initialize(ProgressCallbackFun progressCallback, void* data) {
    {
        MutexLocker lock(m_mutex);
        if (m_bInit)
            return;
        m_progressCallback = progressCallback;
        m_paramCallback = data;
    }
    ErrorManager::Initialize();
    ResumeManager::Initialize();
    ResumeManager::Load();

    MutexLocker lock(m_mutex);
    m_bInit = true;
    // one dispatch thread per engine: a thread still running from before a quick logout and
    // login simply serves the new session
    // named, so that the one-per-engine rule can be seen in the process's thread list
    if (!m_bDispatchRunning &&
        StartDetachedThread("velmo-dispatch", [] { _DispatchTaskThread(nullptr); }))
        m_bDispatchRunning = true;
    _WakeDispatch();
}

void UploadManager::UnInitialize() {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return;
    }
    StopAllTask(false);
    {
        MutexLocker lock(m_mutex);
        m_bInit = false;
        ++m_nSession;
        m_nTotalSize = 0;
        m_strTaskInfo = kIdleSummary;
    }
    ResumeManager::UnInitialize();
    FolderManager::DelAllTask();
}

// ---------------------------------------------------------------- selection hooks

void* UploadManager::_SelectFileUploadThread(void* pArguments) {
    PUploadTarget pTarget = static_cast<PUploadTarget>(pArguments);
    std::vector<std::string> selectFilePathList;
    if (Utils::ShowSelectFileDlg(selectFilePathList, GetWindow())) {
        for (const std::string& strPath : selectFilePathList) {
            Utils::OutputDebugStringEx("SELECT FILE: " + strPath);
            StartTask(strPath, pTarget->strTarget, pTarget->ispType, std::string(), std::string(),
                      pTarget->bAuto);
        }
    }
    delete pTarget;
    return nullptr;
}

void* UploadManager::_SelectFolderUploadThread(void* pArguments) {
    PUploadTarget pTarget = static_cast<PUploadTarget>(pArguments);
    std::string strFolder;
    if (Utils::ShowSelectFolderDlg(strFolder, GetWindow())) {
        Utils::OutputDebugStringEx("SELECT FOLDER: " + strFolder);
        UploadFolder(strFolder, pTarget->strTarget, pTarget->ispType, pTarget->bAuto);
    }
    delete pTarget;
    return nullptr;
}

static bool StartSelection(void* (*threadFun)(void*), const std::string& strTarget, ISPType ispType,
                           bool bAuto) {
    PUploadTarget pTarget = new UploadTarget;
    pTarget->strTarget = strTarget;
    pTarget->ispType = ispType;
    pTarget->bAuto = bAuto;
    if (StartDetachedThread("velmo-select", [threadFun, pTarget] { threadFun(pTarget); }))
        return true;
    delete pTarget;
    return false;
}

bool UploadManager::SelectFileUpload(const std::string& strTarget, ISPType ispType, void* hWnd,
                                     bool bAuto) {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return false;
        m_hWnd = hWnd;
    }
    return StartSelection(&UploadManager::_SelectFileUploadThread, strTarget, ispType, bAuto);
}

bool UploadManager::SelectFolderUpload(const std::string& strTarget, ISPType ispType, void* hWnd,
                                       bool bAuto) {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return false;
        m_hWnd = hWnd;
    }
    return StartSelection(&UploadManager::_SelectFolderUploadThread, strTarget, ispType, bAuto);
}

void UploadManager::test(int type, const std::string& strTarget, ISPType ispType) {
    if (type == 1)
        SelectFileUpload(strTarget, ispType, nullptr, true);
    if (type == 2)
        SelectFolderUpload(strTarget, ispType, nullptr, true);
}

// ---------------------------------------------------------------- tasks in and out

bool UploadManager::StartTask(const std::string& strFilePath, const std::string& strTarget,
                              ISPType ispType, std::string strFolderPath,
                              std::string strFolderTarget, bool bAuto) {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return false;
        if (m_taskInfoDict.count(strFilePath))
            return false;
    }

    PTaskInfo pTaskInfo = new TaskInfo;
    const bool bNew =
        FillTask(pTaskInfo, strFilePath, strTarget, ispType, strFolderPath, strFolderTarget);
    const int nErrorCode = StartError(pTaskInfo);

    bool bResult = false;
    if (nErrorCode == 0) {
        UpdateTaskStatus(pTaskInfo, bAuto ? TaskStatusInit : TaskStatusStop, true);
        if (bNew)
            ResumeManager::Update(pTaskInfo, true);
        MutexLocker lock(m_mutex);
        if (m_bInit && !m_taskInfoDict.count(strFilePath) &&
            StatusOf(pTaskInfo) == TaskStatusInit) {
            m_taskInfoList.push_back(pTaskInfo);
            m_taskInfoDict[pTaskInfo->strFilePath] = pTaskInfo;
            m_nTotalSize += pTaskInfo->nFileSize;
            bResult = true;
        }
    } else {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nErrorCode = nErrorCode;
    }

    if (bResult) {
        _WakeDispatch();
        return true;
    }
    if (StatusOf(pTaskInfo) != TaskStatusStop)
        UpdateTaskStatus(pTaskInfo, TaskStatusError, true);
    delete pTaskInfo;
    return false;
}

bool UploadManager::AddTask(PTaskInfo pTaskInfo) {
    if (!pTaskInfo || StatusOf(pTaskInfo) != TaskStatusInit)
        return false;
    {
        // a folder handed over just as the user logs out must not leave tasks behind
        MutexLocker lock(m_mutex);
        if (!m_bInit || m_taskInfoDict.count(pTaskInfo->strFilePath))
            return false;
    }
    const int nErrorCode = ReadMissingSize(pTaskInfo);
    if (nErrorCode == 0) {
        {
            MutexLocker lock(m_mutex);
            if (!m_bInit || m_taskInfoDict.count(pTaskInfo->strFilePath))
                return false;
            m_taskInfoList.push_back(pTaskInfo);
            m_taskInfoDict[pTaskInfo->strFilePath] = pTaskInfo;
            m_nTotalSize += pTaskInfo->nFileSize;
        }
        _WakeDispatch();
        return true;
    }
    {
        MutexLocker lock(pTaskInfo->mutex);
        pTaskInfo->nErrorCode = nErrorCode;
    }
    UpdateTaskStatus(pTaskInfo, TaskStatusError, true);
    return false;
}

void UploadManager::_RemoveFromRegistry(PTaskInfo pTaskInfo) {
    TaskInfoList::iterator it = std::find(m_taskInfoList.begin(), m_taskInfoList.end(), pTaskInfo);
    if (it != m_taskInfoList.end())
        m_taskInfoList.erase(it);
    TaskInfoDict::iterator itDict = m_taskInfoDict.find(pTaskInfo->strFilePath);
    if (itDict != m_taskInfoDict.end() && itDict->second == pTaskInfo)
        m_taskInfoDict.erase(itDict);
}

void UploadManager::_SubtractTotal(long long nSize) {
    m_nTotalSize -= nSize;
    if (m_nTotalSize < 0)
        m_nTotalSize = 0;
}

bool UploadManager::StopTask(const std::string& strFilePath, bool bNotify, TaskStatus status) {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return false;
    }
    bool bFolder = Utils::IsExist(strFilePath) ? Utils::IsDir(strFilePath)
                                               : FolderManager::GetTask(strFilePath) != nullptr;
    if (bFolder) {
        PStopFolderParams pParams = new StopFolderParams;
        pParams->strFolderPath = strFilePath;
        pParams->status = status;
        // the stop-folder thread: ends at the bottom of _StopFolderThread
        if (!StartDetachedThread("velmo-stop", [pParams] { _StopFolderThread(pParams); })) {
            delete pParams;
            return false;
        }
        return true;
    }

    {
        MutexLocker lock(m_mutex);
        TaskInfoDict::iterator it = m_taskInfoDict.find(strFilePath);
        if (it != m_taskInfoDict.end()) {
            PTaskInfo pTaskInfo = it->second;
            _RemoveFromRegistry(pTaskInfo);
            bool bQueued = StatusOf(pTaskInfo) == TaskStatusInit;
            UpdateTaskStatus(pTaskInfo, status, bNotify);
            if (bQueued) {
                // never started: nobody else holds it
                _SubtractTotal(pTaskInfo->nFileSize);
                delete pTaskInfo;
            }
            // a hashing or uploading task is ended by its own upload thread
        }
    }
    if (status == TaskStatusCancel)
        ResumeManager::Remove(strFilePath, true);
    return true;
}

bool UploadManager::CancelTask(const std::string& strFilePath) {
    return StopTask(strFilePath, true, TaskStatusCancel);
}

bool UploadManager::StopAllTask(bool bNotify) {
    // Paths, not pointers: a task may be destroyed by its thread while we walk them. Taken a
    // batch at a time from the front, so that a registry of a hundred thousand files is never
    // copied whole; the tasks registered when the call began are the ones stopped.
    const size_t kBatch = 256;
    size_t nLeft, nSkip = 0;
    {
        MutexLocker lock(m_mutex);
        nLeft = m_taskInfoList.size();
    }
    std::vector<std::string> paths;
    while (nLeft > 0) {
        paths.clear();
        {
            MutexLocker lock(m_mutex);
            for (size_t i = nSkip;
                 i < m_taskInfoList.size() && paths.size() < kBatch && paths.size() < nLeft; ++i)
                paths.push_back(m_taskInfoList[i]->strFilePath);
        }
        if (paths.empty())
            break;
        nLeft -= paths.size();
        for (const std::string& strPath : paths)
            StopTask(strPath, bNotify, TaskStatusStop);
        // What is still registered of a batch stays at the front, ahead of all not tried yet.
        MutexLocker lock(m_mutex);
        for (const std::string& strPath : paths)
            nSkip += m_taskInfoDict.count(strPath);
    }
    return true;
}

bool UploadManager::UploadFolder(const std::string& strFolderPath, const std::string& strTarget,
                                 ISPType ispType, bool bAuto) {
    {
        MutexLocker lock(m_mutex);
        if (!m_bInit)
            return false;
    }
    // "/x/pics/" and "/x/pics" are one folder; its files' parents are written without the "/"
    std::string strPath = strFolderPath;
    while (strPath.size() > 1 && strPath.back() == '/')
        strPath.pop_back();
    return FolderManager::AddTask(strPath, strTarget, ispType, bAuto);
}

bool UploadManager::DelTask(PTaskInfo pTaskInfo) {
    if (!pTaskInfo)
        return false;
    {
        MutexLocker lock(m_mutex);
        _RemoveFromRegistry(pTaskInfo);
        m_startedTasks.erase(pTaskInfo);
        --m_nCurUploadCount;
        _SubtractTotal(pTaskInfo->nFileSize);
    }
    delete pTaskInfo;
    _WakeDispatch();  // a slot came free
    return true;
}

PTaskInfo UploadManager::GetTask(const std::string& strFilePath) {
    MutexLocker lock(m_mutex);
    TaskInfoDict::iterator it = m_taskInfoDict.find(strFilePath);
    return it == m_taskInfoDict.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- status and reports

void UploadManager::_Report(const std::string& strPath, long long nFileSize, long long nUploadSize,
                            int nSpeed, int tLeftTime, int status, double fHashPercent,
                            int nErrorCode, const std::string& strErrorMsg,
                            const std::string& strPickCode, bool bIsFolder,
                            const std::string& strTaskInfo) {
    ProgressCallbackFun callback;
    void* pParam;
    {
        MutexLocker lock(m_mutex);
        callback = m_progressCallback;
        pParam = m_paramCallback;
    }
    if (!callback)
        return;
    callback(Utils::GetFileName(strPath), strPath, nFileSize, nUploadSize, nSpeed, tLeftTime,
             status, fHashPercent, nErrorCode, strErrorMsg, strPickCode, bIsFolder, strTaskInfo,
             pParam);
}

std::string UploadManager::_StatusSummary(PTaskInfo pTaskInfo, TaskStatus status,
                                          bool bStartIfEmpty) {
    long long nCount = static_cast<long long>(m_taskInfoList.size());
    if (!LoginManager::IsLogin() || (nCount < 2 && IsFinalStatus(status))) {
        m_strTaskInfo = kIdleSummary;
    } else if (bStartIfEmpty && m_strTaskInfo.empty()) {
        long long nTotal = m_nTotalSize > 0 ? m_nTotalSize : pTaskInfo->nFileSize;
        m_strTaskInfo = Utils::StringI2S(std::max(nCount, 1LL)) + "," + Utils::StringI2S(nTotal) +
                        ",0,00:00:00";
    }
    return m_strTaskInfo;
}

bool UploadManager::UpdateTaskStatus(PTaskInfo pTaskInfo, TaskStatus status, bool bNotify) {
    if (!pTaskInfo)
        return false;
    {
        MutexLocker lock(pTaskInfo->mutex);
        if (!IsStatusChangeAllowed(pTaskInfo->status, status))
            return false;
        pTaskInfo->status = status;
    }
    if (status == TaskStatusHash || status == TaskStatusUpload)
        return true;

    // a member is reported through its folder, whatever bNotify says
    if (!pTaskInfo->strFolderPath.empty())
        return FolderManager::UpdateMemberStatus(pTaskInfo, status);

    if (!bNotify)
        return true;
    std::string strTaskInfo;
    {
        MutexLocker lock(m_mutex);
        strTaskInfo = _StatusSummary(pTaskInfo, status, true);
    }
    long long nUploadSize;
    int nErrorCode;
    std::string strErrorMsg, strPickCode;
    {
        MutexLocker lock(pTaskInfo->mutex);
        nUploadSize = pTaskInfo->nUploadSize;
        nErrorCode = pTaskInfo->nErrorCode;
        strErrorMsg = ErrorManager::GetErrorMessage(pTaskInfo);
        strPickCode = pTaskInfo->strPickCode;
    }
    _Report(pTaskInfo->strFilePath, pTaskInfo->nFileSize, nUploadSize, 0, 0, status, 0.0,
            nErrorCode, strErrorMsg, strPickCode, false, strTaskInfo);
    return true;
}

void UploadManager::UpdateFolderStatus(PFolderTaskInfo pFolderTaskInfo, TaskStatus status) {
    if (!pFolderTaskInfo)
        return;
    {
        MutexLocker lock(pFolderTaskInfo->mutex);
        pFolderTaskInfo->status = status;
    }
    if (status == TaskStatusUpload)
        return;
    std::string strTaskInfo;
    {
        MutexLocker lock(m_mutex);
        strTaskInfo = _StatusSummary(nullptr, status, false);
    }
    long long nTotalSize, nUploadSize;
    int nErrorCode;
    {
        MutexLocker lock(pFolderTaskInfo->mutex);
        nTotalSize = pFolderTaskInfo->nTotalSize;
        nUploadSize = pFolderTaskInfo->nUploadSize;
        nErrorCode = pFolderTaskInfo->nErrorCode;
    }
    _Report(pFolderTaskInfo->strFolderPath, nTotalSize, nUploadSize, 0, 0, status, 0.0, nErrorCode,
            ErrorManager::GetErrorMessage(nErrorCode), std::string(), true, strTaskInfo);
    if (status == TaskStatusSucceed) {
        FolderManager::DelTask(pFolderTaskInfo);
    } else if (status == TaskStatusError) {
        MutexLocker lock(pFolderTaskInfo->mutex);
        pFolderTaskInfo->nCurUploadSize = 0;
        pFolderTaskInfo->tBeginTime = 0;
    }
}

// ---------------------------------------------------------------- the stop-folder thread

void* UploadManager::_StopFolderThread(void* pArguments) {
    PStopFolderParams pParams = static_cast<PStopFolderParams>(pArguments);
    const std::string strFolderPath = pParams->strFolderPath;
    const TaskStatus status = pParams->status;
    delete pParams;

    FolderRef folderRef(strFolderPath);  // keeps the record alive while we use it
    PFolderTaskInfo pFolder = folderRef.get();
    if (!pFolder && status == TaskStatusStop)
        return nullptr;
    FileList fileList;
    if (pFolder) {
        MutexLocker lock(pFolder->mutex);
        pFolder->status = status;
        // only a cancel needs the paths (to forget their records); a stop of a large folder
        // need not copy them
        if (status == TaskStatusCancel)
            fileList = pFolder->fileList;
    } else {
        long long nTotalSize = 0, nUploadSize = 0;
        std::string strFolderTarget;
        if (!ResumeManager::GetFolderResumeInfo(strFolderPath, nTotalSize, nUploadSize,
                                                strFolderTarget, fileList))
            return nullptr;
    }

    {
        MutexLocker lock(m_mutex);
        for (size_t i = 0; i < m_taskInfoList.size();) {
            PTaskInfo pTaskInfo = m_taskInfoList[i];
            if (pTaskInfo->strFolderPath != strFolderPath) {
                ++i;
                continue;
            }
            bool bQueued;
            {
                MutexLocker taskLock(pTaskInfo->mutex);
                bQueued = pTaskInfo->status == TaskStatusInit;
                pTaskInfo->status = status;
            }
            _RemoveFromRegistry(pTaskInfo);
            if (bQueued) {
                _SubtractTotal(pTaskInfo->nFileSize);
                delete pTaskInfo;
            }
        }
    }
    if (status == TaskStatusCancel)
        for (const std::string& strPath : fileList)
            ResumeManager::Remove(strPath, false);
    if (pFolder)
        UpdateFolderStatus(pFolder, status);
    if (status == TaskStatusCancel)
        ResumeManager::Save();
    if (pFolder) {
        if (status == TaskStatusCancel) {
            FolderManager::DelTask(pFolder);
        } else {
            MutexLocker lock(pFolder->mutex);
            pFolder->nCurUploadSize = 0;
            pFolder->tBeginTime = 0;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------- the dispatch thread

void UploadManager::_WakeDispatch() {
    DispatchWake& wake = Wake();
    {
        std::lock_guard<std::mutex> lock(wake.lock);
        wake.bWake = true;
    }
    wake.cond.notify_one();
}

void* UploadManager::_DispatchTaskThread(void*) {
    // the dispatch thread: started by Initialize, ends here at the first pass that finds
    // nobody logged in
    uint32_t tLastReport = Utils::GetCurTime() - kReportIntervalMs;
    for (;;) {
        uint32_t tNow;
        {
            MutexLocker lock(m_mutex);
            if (!LoginManager::IsLogin()) {
                m_bDispatchRunning = false;
                return nullptr;
            }
            tNow = Utils::GetCurTime();
            bool bReport = tNow - tLastReport >= kReportIntervalMs;
            if (bReport)
                tLastReport = tNow;
            _DispatchPass(bReport);
        }
        uint32_t nSinceReport = Utils::GetCurTime() - tLastReport;
        uint32_t nWaitMs = nSinceReport >= kReportIntervalMs ? 1 : kReportIntervalMs - nSinceReport;
        DispatchWake& wake = Wake();
        std::unique_lock<std::mutex> lock(wake.lock);
        wake.cond.wait_for(lock, std::chrono::milliseconds(nWaitMs),
                           [&wake] { return wake.bWake; });
        wake.bWake = false;
    }
}

void UploadManager::_DispatchPass(bool bReport) {
    int nReports = 0;
    for (size_t i = 0; i < m_taskInfoList.size(); ++i) {
        PTaskInfo pTaskInfo = m_taskInfoList[i];
        if (m_nCurUploadCount < m_nMaxUploadCount && StatusOf(pTaskInfo) == TaskStatusInit)
            _StartQueued(pTaskInfo);
        if (nReports >= m_nMaxUploadCount)
            break;
        // with every slot taken, the rest of a pass that reports nothing has nothing to do:
        // stopping here keeps a pass short when 100,000 tasks wait
        if (!bReport) {
            if (m_nCurUploadCount >= m_nMaxUploadCount)
                break;
            continue;
        }
        if (_ReportRunning(pTaskInfo))
            ++nReports;
    }
}

void UploadManager::_StartQueued(PTaskInfo pTaskInfo) {
    if (pTaskInfo->strTarget.empty())
        FolderManager::GetFolderAndTarget(pTaskInfo->strFolderPath,
                                          Utils::GetParentDir(pTaskInfo->strFilePath),
                                          pTaskInfo->strFolderName, pTaskInfo->strTarget);
    if (!pTaskInfo->strTarget.empty() && UploadHandler::StartUploadFile(pTaskInfo)) {
        ++m_nCurUploadCount;
        // its thread asks for this under m_mutex, so it cannot ask before it is set
        m_startedTasks[pTaskInfo] = m_nSession;
    }
}

bool UploadManager::_ReportRunning(PTaskInfo pTaskInfo) {
    RunningReport report;
    if (!ReadRunningTask(pTaskInfo, report) || !FoldIntoFolder(pTaskInfo, report))
        return false;

    int nLeft = 0;
    std::string strTotalTime = "00:00:00";
    if (report.nSpeed > 0) {
        nLeft = static_cast<int>((report.nSize - report.nUploadSize) / report.nSpeed);
        long long nRemain = m_nTotalSize - report.nUploadSize;
        if (nRemain <= 0)
            nRemain = m_nTotalSize;
        strTotalTime = Utils::SecondToHour(static_cast<long>(nRemain / report.nSpeed));
    }
    m_strTaskInfo = Utils::StringI2S(static_cast<long long>(m_taskInfoList.size())) + "," +
                    Utils::StringI2S(m_nTotalSize) + "," + Utils::StringI2S(report.nSpeed) + "," +
                    strTotalTime;
    if (m_progressCallback)
        m_progressCallback(Utils::GetFileName(report.strPath), report.strPath, report.nSize,
                           report.nUploadSize, report.nSpeed, nLeft, report.status,
                           report.fHashPercent, report.nErrorCode, report.strErrorMsg,
                           report.strPickCode, report.bIsFolder, m_strTaskInfo, m_paramCallback);
    return true;
}

// ---------------------------------------------------------------- settings

void UploadManager::SetMaxUploadCount(int nCount) {
    {
        MutexLocker lock(m_mutex);
        m_nMaxUploadCount = nCount;
    }
    _WakeDispatch();
}

int UploadManager::GetMaxUploadCount() {
    MutexLocker lock(m_mutex);
    return m_nMaxUploadCount;
}

void* UploadManager::GetWindow() {
    MutexLocker lock(m_mutex);
    return m_hWnd;
}

int UploadManager::GetTaskCount() {
    MutexLocker lock(m_mutex);
    return static_cast<int>(m_taskInfoList.size());
}

bool UploadManager::IsCurrentSession(PTaskInfo pTaskInfo) {
    MutexLocker lock(m_mutex);
    std::map<PTaskInfo, unsigned long>::const_iterator it = m_startedTasks.find(pTaskInfo);
    return m_bInit && it != m_startedTasks.end() && it->second == m_nSession;
}

int UploadManager::GetRunningCount() {
    MutexLocker lock(m_mutex);
    return m_nCurUploadCount;
}

}  // namespace _VelmoUpload
