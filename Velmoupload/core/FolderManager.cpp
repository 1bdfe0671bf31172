// Folder uploads: registry, the worker that lists a folder and hands its files to the upload
// manager, restarts of known folders, and the lazy creation of remote directories.
#include "core/FolderManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "ServiceConstants.h"
#include "Velmoupload.h"
#include "core/ErrorManager.h"
#include "core/LoginManager.h"
#include "core/ResumeManager.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

FolderTaskDict FolderManager::m_folderTaskDict;
Mutex FolderManager::m_mutex;
Mutex FolderManager::m_folderMutex;
std::map<PFolderTaskInfo, int> FolderManager::m_holders;
std::set<PFolderTaskInfo> FolderManager::m_retired;
std::set<PFolderTaskInfo> FolderManager::m_listing;
unsigned long FolderManager::m_nSession = 0;
std::map<PFolderTaskParams, unsigned long> FolderManager::m_workerSession;

namespace {

// "空文件夹不能上传": the folder holds no file at all
const char kEmptyFolder[] = "\xBF\xD5\xCE\xC4\xBC\xFE\xBC\xD0\xB2\xBB\xC4\xDC\xC9\xCF\xB4\xAB";
// "获取文件夹列表失败": the folder could not be listed
const char kListFailed[] =
    "\xBB\xF1\xC8\xA1\xCE\xC4\xBC\xFE\xBC\xD0\xC1\xD0\xB1\xED\xCA\xA7\xB0\xDC";
// "不是普通文件，无法上传": a FIFO, socket, device or dangling link among the files
const char kNotRegular[] =
    "\xB2\xBB\xCA\xC7\xC6\xD5\xCD\xA8\xCE\xC4\xBC\xFE\xA3\xAC\xCE\xDE\xB7\xA8\xC9\xCF\xB4\xAB";

// "无法继续上传": a remembered file that could neither start again nor fail by itself
const char kNotRestarted[] = "\xCE\xDE\xB7\xA8\xBC\xCC\xD0\xF8\xC9\xCF\xB4\xAB";

// Reading a FIFO blocks for ever and a device never ends: only regular files (links followed)
// are ever opened.
bool IsRegularFile(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// ---------------------------------------------------------------- registry and holders

PFolderTaskInfo FolderManager::GetTask(const std::string& strFolderPath) {
    if (strFolderPath.empty())
        return nullptr;
    MutexLocker lock(m_mutex);
    FolderTaskDict::iterator it = m_folderTaskDict.find(strFolderPath);
    return it == m_folderTaskDict.end() ? nullptr : it->second;
}

bool FolderManager::AddTask(PFolderTaskInfo pFolderTaskInfo) {
    if (!pFolderTaskInfo)
        return false;
    MutexLocker lock(m_mutex);
    if (!m_folderTaskDict.count(pFolderTaskInfo->strFolderPath))
        m_folderTaskDict[pFolderTaskInfo->strFolderPath] = pFolderTaskInfo;
    return true;
}

PFolderTaskInfo FolderManager::_Acquire(const std::string& strFolderPath) {
    if (strFolderPath.empty())
        return nullptr;
    MutexLocker lock(m_mutex);
    FolderTaskDict::iterator it = m_folderTaskDict.find(strFolderPath);
    if (it == m_folderTaskDict.end())
        return nullptr;
    ++m_holders[it->second];
    return it->second;
}

void FolderManager::_Release(PFolderTaskInfo pFolderTaskInfo) {
    bool bDestroy = false;
    {
        MutexLocker lock(m_mutex);
        std::map<PFolderTaskInfo, int>::iterator it = m_holders.find(pFolderTaskInfo);
        if (it == m_holders.end())
            return;
        if (--it->second > 0)
            return;
        m_holders.erase(it);
        bDestroy = m_retired.erase(pFolderTaskInfo) > 0;
    }
    if (bDestroy)
        delete pFolderTaskInfo;
}

void FolderManager::_Retire(PFolderTaskInfo pFolderTaskInfo) {
    if (m_holders.count(pFolderTaskInfo))
        m_retired.insert(pFolderTaskInfo);  // the last FolderRef destroys it
    else
        delete pFolderTaskInfo;
}

bool FolderManager::DelTask(PFolderTaskInfo pFolderTaskInfo) {
    if (!pFolderTaskInfo)
        return false;
    MutexLocker lock(m_mutex);
    FolderTaskDict::iterator it = m_folderTaskDict.find(pFolderTaskInfo->strFolderPath);
    if (it != m_folderTaskDict.end() && it->second == pFolderTaskInfo)
        m_folderTaskDict.erase(it);
    if (!m_retired.count(pFolderTaskInfo))
        _Retire(pFolderTaskInfo);
    return true;
}

bool FolderManager::DelAllTask() {
    // a worker in the middle of a step finishes it first; its next step sees the session gone
    MutexLocker handOver(m_folderMutex);
    MutexLocker lock(m_mutex);
    ++m_nSession;
    FolderTaskDict folders;
    folders.swap(m_folderTaskDict);
    for (FolderTaskDict::value_type& entry : folders)
        _Retire(entry.second);
    return true;
}

bool FolderManager::LoadUnfinishTask(const std::string& strFolderPath, ErrorList& errorList) {
    FolderRef folder(strFolderPath);
    if (!folder)
        return true;
    MutexLocker lock(folder->mutex);
    errorList = folder->errorList;
    return true;
}

// ---------------------------------------------------------------- a member's status

bool FolderManager::UpdateMemberStatus(PTaskInfo pTaskInfo, TaskStatus status) {
    FolderRef folder(pTaskInfo->strFolderPath);  // keeps the record alive while we use it
    if (!folder)
        return false;
    // the message is looked up before the folder's lock: a task lock and a folder lock are
    // never held together
    std::string strErrorMsg;
    int nErrorCode;
    {
        MutexLocker lock(pTaskInfo->mutex);
        nErrorCode = pTaskInfo->nErrorCode;
        strErrorMsg = ErrorManager::GetErrorMessage(pTaskInfo);
    }
    bool bDone = false, bFailed = false;
    {
        MutexLocker lock(folder->mutex);
        if (status == TaskStatusSucceed) {
            ++folder->nFinishCount;
            FileList::iterator it =
                std::find(folder->fileList.begin(), folder->fileList.end(), pTaskInfo->strFilePath);
            if (it != folder->fileList.end())
                folder->fileList.erase(it);
        } else if (status == TaskStatusError && !folder->errorList.count(pTaskInfo->strFilePath)) {
            // no space left: the whole folder has failed
            if (nErrorCode == kErrNoSpace || nErrorCode == ServiceCode::kNoSpace) {
                folder->nErrorCode = nErrorCode;
                folder->nErrorCount = folder->nFileCount;
            } else {
                ++folder->nErrorCount;
            }
            folder->errorList[pTaskInfo->strFilePath] = strErrorMsg;
        }
        bDone = folder->nFinishCount + folder->nErrorCount >= folder->nFileCount;
        bFailed = folder->nErrorCount >= 1;
    }
    if (bDone)
        UploadManager::UpdateFolderStatus(folder.get(),
                                          bFailed ? TaskStatusError : TaskStatusSucceed);
    return true;
}

// ---------------------------------------------------------------- adding a folder

bool FolderManager::AddTask(const std::string& strFolderPath, const std::string& strTarget,
                            ISPType ispType, bool bAuto) {
    FolderRef folder(strFolderPath);
    if (!folder)
        return _StartWorker(strFolderPath, strTarget, ispType, bAuto);
    {
        // Its worker is still listing it and hands every file over itself. Started now, the
        // folder would look empty, or its files would start before their records exist.
        MutexLocker lock(m_mutex);
        if (m_listing.count(folder.get()))
            return true;
    }

    // a known folder: start again what is left, or else what failed
    UploadManager::UpdateFolderStatus(folder.get(), TaskStatusInit);
    bool bFailedEntries = false;
    FileList files = _FilesToRestart(folder.get(), strFolderPath, bFailedEntries);
    _RestartFiles(folder.get(), files);
    if (files.empty()) {
        // the message first: whoever reacts to the report reads it with LoadUnfinishTask.
        // Entries that failed for good (not regular files) keep their own messages: the
        // folder is not empty.
        if (!bFailedEntries) {
            MutexLocker lock(folder->mutex);
            folder->errorList[strFolderPath] = kEmptyFolder;
        }
        UploadManager::UpdateFolderStatus(folder.get(), TaskStatusError);
    }
    return true;
}

bool FolderManager::_StartWorker(const std::string& strFolderPath, const std::string& strTarget,
                                 ISPType ispType, bool bAuto) {
    PFolderTaskParams pParams = new FolderTaskParams;
    pParams->strFolderPath = strFolderPath;
    pParams->strTarget = strTarget;
    pParams->ispType = ispType;
    pParams->bAuto = bAuto;
    {
        MutexLocker lock(m_mutex);
        m_workerSession[pParams] = m_nSession;
    }
    // the folder task thread: ends at the bottom of _AddTaskThread; named, so that a test or a
    // look at the process can tell when no folder is being listed
    if (StartDetachedThread("velmo-folder", [pParams] { _AddTaskThread(pParams); }))
        return true;
    {
        MutexLocker lock(m_mutex);
        m_workerSession.erase(pParams);
    }
    delete pParams;
    return false;
}

FileList FolderManager::_FilesToRestart(PFolderTaskInfo pFolder, const std::string& strFolderPath,
                                        bool& bFailedEntries) {
    MutexLocker lock(pFolder->mutex);
    FileList files = pFolder->fileList;
    if (files.empty())
        for (const ErrorList::value_type& entry : pFolder->errorList)
            // the folder's own entry (listing failed, empty) and non-files are no upload
            if (entry.first != strFolderPath && IsRegularFile(entry.first))
                files.push_back(entry.first);
    // the files tried again are no longer failed: a folder that finished with errors would
    // otherwise count them twice and end before its files do
    for (const std::string& strPath : files)
        pFolder->errorList.erase(strPath);
    pFolder->nErrorCount = 0;
    pFolder->nErrorCode = 0;
    for (const ErrorList::value_type& entry : pFolder->errorList)
        if (entry.first != strFolderPath)
            ++pFolder->nErrorCount;
    bFailedEntries = pFolder->nErrorCount > 0;
    // A file stopped or cancelled after claiming its directory never gets the reply that
    // resolves it, nor fails: left in creation, the directory would hold back its files for
    // ever. Nothing of this folder is under way when it is started again (and if it is, the
    // service answers a second request for the same directory with its target).
    for (FolderTargetList::value_type& entry : pFolder->folderTargetList)
        if (entry.second.first.empty())
            entry.second.second = false;
    return files;
}

void FolderManager::_RestartFiles(PFolderTaskInfo pFolder, const FileList& files) {
    bool bStranded = false;
    for (const std::string& strPath : files) {
        if (UploadManager::StartTask(strPath, std::string(), ISPTypeAuto, std::string(),
                                     std::string(), true) ||
            UploadManager::GetTask(strPath) || !LoginManager::IsLogin())
            continue;
        // neither queued nor failed through the usual report: counted as failed here, or the
        // folder would wait for it for ever
        MutexLocker lock(pFolder->mutex);
        if (pFolder->errorList.count(strPath))
            continue;
        pFolder->errorList[strPath] = kNotRestarted;
        ++pFolder->nErrorCount;
        bStranded = true;
    }
    if (!bStranded)
        return;
    bool bDone;
    {
        MutexLocker lock(pFolder->mutex);
        bDone = pFolder->nFinishCount + pFolder->nErrorCount >= pFolder->nFileCount;
    }
    if (bDone)
        UploadManager::UpdateFolderStatus(pFolder, TaskStatusError);
}

// ---------------------------------------------------------------- the folder task thread

// What one folder worker carries from step to step.
struct FolderManager::FolderWorker {
    std::string strFolderPath;
    std::string strTarget;
    ISPType ispType = ISPTypeAuto;
    TaskStatus status = TaskStatusInit;  // what the folder and its files start as
    unsigned long nSession = 0;          // the session the worker was asked for in
    PFolderTaskInfo pFolder = nullptr;
    bool bNew = false;             // no remembered files: the folder is listed
    std::vector<PTaskInfo> tasks;  // file tasks not (yet) the upload manager's
};

void* FolderManager::_AddTaskThread(void* pArguments) {
    if (!pArguments)
        return reinterpret_cast<void*>(-1);
    FolderWorker worker;
    _TakeParams(static_cast<PFolderTaskParams>(pArguments), worker);
    _LoadFolderRecord(worker);
    if (!_RegisterListing(worker))
        return nullptr;
    if (worker.bNew)
        _InSession(worker.nSession,
                   [&] { UploadManager::UpdateFolderStatus(worker.pFolder, worker.status); });

    bool bListed = true;
    if (worker.bNew)
        bListed = _ListNewFolder(worker);
    else
        _TasksFromRecords(worker);

    if (!bListed || worker.tasks.empty())
        _FailFolder(worker, bListed);
    else
        _HandOverTasks(worker);
    _EndListing(worker);
    return nullptr;
}

void FolderManager::_TakeParams(PFolderTaskParams pParams, FolderWorker& worker) {
    {
        MutexLocker lock(m_mutex);
        std::map<PFolderTaskParams, unsigned long>::iterator it = m_workerSession.find(pParams);
        worker.nSession = it != m_workerSession.end() ? it->second : m_nSession;
        if (it != m_workerSession.end())
            m_workerSession.erase(it);
    }
    worker.strFolderPath = pParams->strFolderPath;
    worker.strTarget = pParams->strTarget;
    worker.ispType = pParams->ispType;
    worker.status = pParams->bAuto ? TaskStatusInit : TaskStatusStop;
    delete pParams;
}

void FolderManager::_LoadFolderRecord(FolderWorker& worker) {
    PFolderTaskInfo pFolder = new FolderTaskInfo;
    long long nTotalSize = 0, nUploadSize = 0;
    ResumeManager::GetFolderResumeInfo(worker.strFolderPath, nTotalSize, nUploadSize,
                                       pFolder->strTarget, pFolder->fileList);
    pFolder->nTotalSize = nTotalSize;
    pFolder->nUploadSize = nUploadSize;
    worker.bNew = pFolder->fileList.empty();
    if (worker.bNew) {
        pFolder->strTarget = worker.strTarget;
    } else {
        pFolder->nFileCount = static_cast<int>(pFolder->fileList.size());
    }
    pFolder->strFolderPath = worker.strFolderPath;
    worker.pFolder = pFolder;
}

bool FolderManager::_RegisterListing(FolderWorker& worker) {
    // registered and held in one step, so a cancel meanwhile cannot free it under us
    MutexLocker lock(m_mutex);
    // another worker of the same folder got there first, or the user has logged out
    // since the upload was asked for
    if (m_folderTaskDict.count(worker.strFolderPath) || !_IsCurrentSession(worker.nSession)) {
        delete worker.pFolder;
        worker.pFolder = nullptr;
        return false;
    }
    m_folderTaskDict[worker.strFolderPath] = worker.pFolder;
    ++m_holders[worker.pFolder];
    m_listing.insert(worker.pFolder);
    return true;
}

// Every step that reaches beyond the worker's record runs under m_folderMutex and only while
// the session lasts: a logout (DelAllTask) while a large folder is listed must not leave its
// records in the next account's resume file, nor its files in the next session's list.
bool FolderManager::_InSession(unsigned long nSession, const std::function<void()>& step) {
    MutexLocker handOver(m_folderMutex);
    if (!_IsCurrentSession(nSession))
        return false;
    step();
    return true;
}

// The file tasks are made as the folder is listed, each taking its path from the listing: a
// folder of a hundred thousand files is then held as tasks plus the folder's own list, not in
// two or three more copies on the way.
void FolderManager::_AddMemberTask(FolderWorker& worker, std::string strPath, long long nSize) {
    PTaskInfo pTaskInfo = new TaskInfo;
    pTaskInfo->ispType = worker.ispType;
    pTaskInfo->strFolderPath = worker.strFolderPath;
    pTaskInfo->strFolderTarget = worker.pFolder->strTarget;
    pTaskInfo->strFilePath = std::move(strPath);
    pTaskInfo->nFileSize = nSize;
    worker.tasks.push_back(pTaskInfo);
}

bool FolderManager::_ListNewFolder(FolderWorker& worker) {
    FileList entries;
    if (!Utils::ListDir(worker.strFolderPath, entries))
        return false;
    const int nEntries = static_cast<int>(entries.size());
    long long nTotal = 0;
    ErrorList notFiles;
    worker.tasks.reserve(entries.size());
    for (std::string& strPath : entries) {
        if (!IsRegularFile(strPath)) {
            notFiles[strPath] = kNotRegular;
            continue;
        }
        // a size that cannot be read now is read again when the task is handed over
        long long nSize = 0;
        if (Utils::GetFileSize(strPath, nSize))
            nTotal += nSize;
        else
            nSize = 0;
        _AddMemberTask(worker, std::move(strPath), nSize);
    }
    FileList().swap(entries);
    FileList files;
    files.reserve(worker.tasks.size());
    for (PTaskInfo pTaskInfo : worker.tasks)
        files.push_back(pTaskInfo->strFilePath);
    PFolderTaskInfo pFolder = worker.pFolder;
    MutexLocker lock(pFolder->mutex);
    pFolder->nFileCount = nEntries;
    pFolder->nTotalSize += nTotal;
    pFolder->fileList.swap(files);
    pFolder->nErrorCount += static_cast<int>(notFiles.size());
    pFolder->errorList.insert(notFiles.begin(), notFiles.end());
    return true;
}

void FolderManager::_TasksFromRecords(FolderWorker& worker) {
    FileList files;
    {
        MutexLocker lock(worker.pFolder->mutex);
        files = worker.pFolder->fileList;
    }
    worker.tasks.reserve(files.size());
    for (std::string& strPath : files) {
        ResumeInfo resumeInfo;
        long long nSize = 0;
        if (ResumeManager::GetResumeInfo(strPath, resumeInfo))
            nSize = resumeInfo.nFileSize;
        _AddMemberTask(worker, std::move(strPath), nSize);
    }
}

void FolderManager::_FailFolder(FolderWorker& worker, bool bListed) {
    PFolderTaskInfo pFolder = worker.pFolder;
    {
        // the message first: whoever reacts to the report reads it with LoadUnfinishTask
        MutexLocker lock(pFolder->mutex);
        if (!bListed)
            pFolder->errorList[worker.strFolderPath] = kListFailed;
        else if (pFolder->nFileCount == 0)
            pFolder->errorList[worker.strFolderPath] = kEmptyFolder;
    }
    _InSession(worker.nSession,
               [&] { UploadManager::UpdateFolderStatus(pFolder, TaskStatusError); });
}

void FolderManager::_HandOverTasks(FolderWorker& worker) {
    PFolderTaskInfo pFolder = worker.pFolder;
    bool bCurrent = !worker.bNew || _InSession(worker.nSession, [&] {
        UploadManager::UpdateFolderStatus(pFolder, worker.status);
    });
    for (size_t i = 0; bCurrent && i < worker.tasks.size(); ++i) {
        PTaskInfo pTaskInfo = worker.tasks[i];
        bCurrent = _InSession(worker.nSession, [&] {
            UploadManager::UpdateTaskStatus(pTaskInfo, worker.status, false);
            UpdateTarget(worker.strFolderPath, Utils::GetParentDir(pTaskInfo->strFilePath),
                         std::string());
            ResumeManager::Update(pTaskInfo, false);
        });
    }
    bCurrent = bCurrent && _InSession(worker.nSession, [&] {
                   for (PTaskInfo& pTaskInfo : worker.tasks)
                       if (UploadManager::AddTask(pTaskInfo))
                           pTaskInfo = nullptr;  // the upload manager's now
               });
    if (bCurrent && !worker.strTarget.empty())
        ResumeManager::Save();
}

void FolderManager::_EndListing(FolderWorker& worker) {
    for (PTaskInfo pTaskInfo : worker.tasks)
        delete pTaskInfo;
    worker.tasks.clear();
    {
        MutexLocker lock(m_mutex);
        m_listing.erase(worker.pFolder);
    }
    _Release(worker.pFolder);
}

// ---------------------------------------------------------------- remote directories

bool FolderManager::_IsParentFolderReady(PFolderTaskInfo pFolderTaskInfo,
                                         const std::string& strChildFolderPath) {
    if (!pFolderTaskInfo)
        return false;
    std::string strParent = Utils::GetParentDir(strChildFolderPath);
    if (strParent == pFolderTaskInfo->strFolderPath)
        return true;
    while (!strParent.empty() && strParent != pFolderTaskInfo->strFolderPath) {
        FolderTargetList::const_iterator it = pFolderTaskInfo->folderTargetList.find(strParent);
        if (it != pFolderTaskInfo->folderTargetList.end() && it->second.first.empty() &&
            it->second.second)
            return false;  // an ancestor is being created: its reply decides where we go
        strParent = Utils::GetParentDir(strParent);
    }
    return true;
}

bool FolderManager::GetFolderAndTarget(const std::string& strFolderPath,
                                       const std::string& strChildFolderPath,
                                       std::string& strFolderName, std::string& strTarget) {
    FolderRef folder(strFolderPath);
    if (!folder)
        return false;
    MutexLocker lock(folder->mutex);
    if (strChildFolderPath == strFolderPath) {
        // files of the root name the root's own name below the folder's target
        strFolderName = Utils::GetFileName(strFolderPath);
        strTarget = folder->strTarget;
        return true;
    }
    FolderTargetList& targets = folder->folderTargetList;
    FolderTargetList::iterator itChild = targets.find(strChildFolderPath);
    if (itChild == targets.end())
        return false;
    strTarget = itChild->second.first;
    // resolved, in creation, or below a directory in creation: go there, or wait
    if (!strTarget.empty() || itChild->second.second ||
        !_IsParentFolderReady(folder.get(), strChildFolderPath))
        return true;

    // claim it: name every directory from the nearest resolved ancestor (or the root) down
    std::vector<std::string> names = {Utils::GetFileName(strChildFolderPath)};
    std::string strParent = Utils::GetParentDir(strChildFolderPath);
    while (!strParent.empty() && strParent != strFolderPath) {
        FolderTargetList::const_iterator it = targets.find(strParent);
        if (it != targets.end() && !it->second.first.empty())
            break;
        names.push_back(Utils::GetFileName(strParent));
        strParent = Utils::GetParentDir(strParent);
    }
    if (strParent.empty())
        return false;  // not below the folder at all
    if (strParent == strFolderPath) {
        names.push_back(Utils::GetFileName(strFolderPath));
        strTarget = folder->strTarget;
    } else {
        strTarget = targets[strParent].first;
    }
    if (!strTarget.empty())
        for (std::vector<std::string>::reverse_iterator it = names.rbegin(); it != names.rend();
             ++it) {
            if (!strFolderName.empty())
                strFolderName += "/";
            strFolderName += *it;
        }
    if (!strFolderName.empty() && !strTarget.empty())
        itChild->second.second = true;
    return true;
}

bool FolderManager::UpdateTarget(const std::string& strFolderPath,
                                 const std::string& strChildFolderPath,
                                 const std::string& strTarget) {
    FolderRef folder(strFolderPath);
    if (!folder)
        return false;
    MutexLocker lock(folder->mutex);
    folder->folderTargetList[strChildFolderPath] = std::make_pair(strTarget, !strTarget.empty());
    return true;
}

bool FolderManager::UpdateTargetHandleStatus(const std::string& strFolderPath,
                                             const std::string& strChildFolderPath) {
    FolderRef folder(strFolderPath);
    if (!folder)
        return false;
    MutexLocker lock(folder->mutex);
    std::pair<std::string, bool>& entry = folder->folderTargetList[strChildFolderPath];
    // a directory whose creating file failed is free again for the next file
    if (entry.first.empty() && entry.second)
        entry.second = false;
    return true;
}

}  // namespace _VelmoUpload
