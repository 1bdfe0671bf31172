// Folder uploads: registry, the worker that lists a folder and hands its files to the upload
// manager, restarts of known folders, and the lazy creation of remote directories.
#include "core/FolderManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <functional>

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
    if (!folder) {
        PFolderTaskParams pParams = new FolderTaskParams;
        pParams->strFolderPath = strFolderPath;
        pParams->strTarget = strTarget;
        pParams->ispType = ispType;
        pParams->bAuto = bAuto;
        {
            MutexLocker lock(m_mutex);
            m_workerSession[pParams] = m_nSession;
        }
        // the folder task thread: ends at the bottom of _AddTaskThread; named, so that a test
        // or a look at the process can tell when no folder is being listed
        if (StartDetachedThread("velmo-folder", [pParams] { _AddTaskThread(pParams); }))
            return true;
        {
            MutexLocker lock(m_mutex);
            m_workerSession.erase(pParams);
        }
        delete pParams;
        return false;
    }
    {
        // Its worker is still listing it and hands every file over itself. Started now, the
        // folder would look empty, or its files would start before their records exist.
        MutexLocker lock(m_mutex);
        if (m_listing.count(folder.get()))
            return true;
    }

    // a known folder: start again what is left, or else what failed
    UploadManager::UpdateFolderStatus(folder.get(), TaskStatusInit);
    FileList files;
    bool bFailedEntries = false;
    {
        MutexLocker lock(folder->mutex);
        files = folder->fileList;
        if (files.empty())
            for (const ErrorList::value_type& entry : folder->errorList)
                // the folder's own entry (listing failed, empty) and non-files are no upload
                if (entry.first != strFolderPath && IsRegularFile(entry.first))
                    files.push_back(entry.first);
        // the files tried again are no longer failed: a folder that finished with errors
        // would otherwise count them twice and end before its files do
        for (const std::string& strPath : files)
            folder->errorList.erase(strPath);
        folder->nErrorCount = 0;
        folder->nErrorCode = 0;
        for (const ErrorList::value_type& entry : folder->errorList)
            if (entry.first != strFolderPath)
                ++folder->nErrorCount;
        bFailedEntries = folder->nErrorCount > 0;
        // A file stopped or cancelled after claiming its directory never gets the reply that
        // resolves it, nor fails: left in creation, the directory would hold back its files
        // for ever. Nothing of this folder is under way when it is started again (and if it
        // is, the service answers a second request for the same directory with its target).
        for (FolderTargetList::value_type& entry : folder->folderTargetList)
            if (entry.second.first.empty())
                entry.second.second = false;
    }
    bool bStranded = false;
    for (const std::string& strPath : files) {
        if (UploadManager::StartTask(strPath, std::string(), ISPTypeAuto, std::string(),
                                     std::string(), true) ||
            UploadManager::GetTask(strPath) || !LoginManager::IsLogin())
            continue;
        // neither queued nor failed through the usual report: counted as failed here, or the
        // folder would wait for it for ever
        MutexLocker lock(folder->mutex);
        if (folder->errorList.count(strPath))
            continue;
        folder->errorList[strPath] = kNotRestarted;
        ++folder->nErrorCount;
        bStranded = true;
    }
    if (bStranded) {
        bool bDone;
        {
            MutexLocker lock(folder->mutex);
            bDone = folder->nFinishCount + folder->nErrorCount >= folder->nFileCount;
        }
        if (bDone)
            UploadManager::UpdateFolderStatus(folder.get(), TaskStatusError);
    }
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

void* FolderManager::_AddTaskThread(void* pArguments) {
    if (!pArguments)
        return reinterpret_cast<void*>(-1);
    PFolderTaskParams pParams = static_cast<PFolderTaskParams>(pArguments);
    unsigned long nSession;
    {
        MutexLocker lock(m_mutex);
        std::map<PFolderTaskParams, unsigned long>::iterator it = m_workerSession.find(pParams);
        nSession = it != m_workerSession.end() ? it->second : m_nSession;
        if (it != m_workerSession.end())
            m_workerSession.erase(it);
    }
    const std::string strFolderPath = pParams->strFolderPath;
    const std::string strTarget = pParams->strTarget;
    const ISPType ispType = pParams->ispType;
    const TaskStatus status = pParams->bAuto ? TaskStatusInit : TaskStatusStop;
    delete pParams;

    PFolderTaskInfo pFolder = new FolderTaskInfo;
    long long nTotalSize = 0, nUploadSize = 0;
    ResumeManager::GetFolderResumeInfo(strFolderPath, nTotalSize, nUploadSize, pFolder->strTarget,
                                       pFolder->fileList);
    pFolder->nTotalSize = nTotalSize;
    pFolder->nUploadSize = nUploadSize;
    const bool bNew = pFolder->fileList.empty();
    if (bNew) {
        pFolder->strTarget = strTarget;
    } else {
        pFolder->nFileCount = static_cast<int>(pFolder->fileList.size());
    }
    pFolder->strFolderPath = strFolderPath;
    {
        // registered and held in one step, so a cancel meanwhile cannot free it under us
        MutexLocker lock(m_mutex);
        // another worker of the same folder got there first, or the user has logged out
        // since the upload was asked for
        if (m_folderTaskDict.count(strFolderPath) || !_IsCurrentSession(nSession)) {
            delete pFolder;
            return nullptr;
        }
        m_folderTaskDict[strFolderPath] = pFolder;
        ++m_holders[pFolder];
        m_listing.insert(pFolder);
    }
    // Every step that reaches beyond this record runs under m_folderMutex and only while the
    // session lasts: a logout (DelAllTask) while a large folder is listed must not leave its
    // records in the next account's resume file, nor its files in the next session's list.
    auto inSession = [&](const std::function<void()>& step) {
        MutexLocker handOver(m_folderMutex);
        if (!_IsCurrentSession(nSession))
            return false;
        step();
        return true;
    };
    if (bNew)
        inSession([&] { UploadManager::UpdateFolderStatus(pFolder, status); });

    // The file tasks are made as the folder is listed, each taking its path from the listing:
    // a folder of a hundred thousand files is then held as tasks plus the folder's own list,
    // not in two or three more copies on the way.
    std::vector<PTaskInfo> tasks;
    auto newTask = [&](std::string strPath, long long nSize) {
        PTaskInfo pTaskInfo = new TaskInfo;
        pTaskInfo->ispType = ispType;
        pTaskInfo->strFolderPath = strFolderPath;
        pTaskInfo->strFolderTarget = pFolder->strTarget;
        pTaskInfo->strFilePath = std::move(strPath);
        pTaskInfo->nFileSize = nSize;
        tasks.push_back(pTaskInfo);
    };
    bool bListed = true;
    if (bNew) {
        FileList entries;
        bListed = Utils::ListDir(strFolderPath, entries);
        if (bListed) {
            const int nEntries = static_cast<int>(entries.size());
            long long nTotal = 0;
            ErrorList notFiles;
            tasks.reserve(entries.size());
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
                newTask(std::move(strPath), nSize);
            }
            FileList().swap(entries);
            FileList files;
            files.reserve(tasks.size());
            for (PTaskInfo pTaskInfo : tasks)
                files.push_back(pTaskInfo->strFilePath);
            MutexLocker lock(pFolder->mutex);
            pFolder->nFileCount = nEntries;
            pFolder->nTotalSize += nTotal;
            pFolder->fileList.swap(files);
            pFolder->nErrorCount += static_cast<int>(notFiles.size());
            pFolder->errorList.insert(notFiles.begin(), notFiles.end());
        }
    } else {
        FileList files;
        {
            MutexLocker lock(pFolder->mutex);
            files = pFolder->fileList;
        }
        tasks.reserve(files.size());
        for (std::string& strPath : files) {
            ResumeInfo resumeInfo;
            long long nSize = 0;
            if (ResumeManager::GetResumeInfo(strPath, resumeInfo))
                nSize = resumeInfo.nFileSize;
            newTask(std::move(strPath), nSize);
        }
    }

    if (!bListed || tasks.empty()) {
        {
            // the message first: whoever reacts to the report reads it with LoadUnfinishTask
            MutexLocker lock(pFolder->mutex);
            if (!bListed)
                pFolder->errorList[strFolderPath] = kListFailed;
            else if (pFolder->nFileCount == 0)
                pFolder->errorList[strFolderPath] = kEmptyFolder;
        }
        inSession([&] { UploadManager::UpdateFolderStatus(pFolder, TaskStatusError); });
    } else {
        bool bCurrent =
            !bNew || inSession([&] { UploadManager::UpdateFolderStatus(pFolder, status); });
        for (size_t i = 0; bCurrent && i < tasks.size(); ++i) {
            PTaskInfo pTaskInfo = tasks[i];
            bCurrent = inSession([&] {
                UploadManager::UpdateTaskStatus(pTaskInfo, status, false);
                UpdateTarget(strFolderPath, Utils::GetParentDir(pTaskInfo->strFilePath),
                             std::string());
                ResumeManager::Update(pTaskInfo, false);
            });
        }
        bCurrent = bCurrent && inSession([&] {
                       for (PTaskInfo& pTaskInfo : tasks)
                           if (UploadManager::AddTask(pTaskInfo))
                               pTaskInfo = nullptr;  // the upload manager's now
                   });
        if (bCurrent && !strTarget.empty())
            ResumeManager::Save();
    }
    for (PTaskInfo pTaskInfo : tasks)
        delete pTaskInfo;
    {
        MutexLocker lock(m_mutex);
        m_listing.erase(pFolder);
    }
    _Release(pFolder);
    return nullptr;
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
