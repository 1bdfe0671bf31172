// Folder uploads: the registry of folder tasks, the worker that turns a folder into file
// tasks, and which remote folder each local directory goes to (created lazily, one directory
// at a time, by the first file that needs it).
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>

#include "TaskModel.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

typedef std::map<std::string, PFolderTaskInfo> FolderTaskDict;

class FolderManager {
public:
    // Starts the upload of a local folder into strTarget, or restarts a known one.
    static bool AddTask(const std::string& strFolderPath, const std::string& strTarget,
                        ISPType ispType, bool bAuto);
    // Registers a record made elsewhere (the resume store's load); the registry owns it then.
    static bool AddTask(PFolderTaskInfo pFolderTaskInfo);
    // The registered record or null. Only for a quick look: a caller that keeps using the
    // record holds a FolderRef instead.
    static PFolderTaskInfo GetTask(const std::string& strFolderPath);
    // Unregisters and destroys the record; a record still held through a FolderRef is
    // destroyed when the last one lets go.
    static bool DelTask(PFolderTaskInfo pFolderTaskInfo);
    static bool DelAllTask();
    static bool LoadUnfinishTask(const std::string& strFolderPath, ErrorList& errorList);

    // The folder's accounting of a member's new status: a success or a failure is counted
    // (each failed file once), and the folder ends once all its files are done. False when
    // the member's folder is not registered.
    static bool UpdateMemberStatus(PTaskInfo pTaskInfo, TaskStatus status);

    // Where a file of directory strChildFolderPath goes: on true with a non-empty strTarget,
    // that target and the relative path strFolderName of directories to create with it; with
    // an empty strTarget the file waits. False: the folder or directory is unknown.
    static bool GetFolderAndTarget(const std::string& strFolderPath,
                                   const std::string& strChildFolderPath,
                                   std::string& strFolderName, std::string& strTarget);
    static bool UpdateTarget(const std::string& strFolderPath,
                             const std::string& strChildFolderPath, const std::string& strTarget);
    static bool UpdateTargetHandleStatus(const std::string& strFolderPath,
                                         const std::string& strChildFolderPath);

    static void* _AddTaskThread(void* pArguments);
    static bool _IsParentFolderReady(PFolderTaskInfo pFolderTaskInfo,
                                     const std::string& strChildFolderPath);

private:
    friend class FolderRef;
    struct FolderWorker;

    // Starts the folder task thread for a folder not registered yet.
    static bool _StartWorker(const std::string& strFolderPath, const std::string& strTarget,
                             ISPType ispType, bool bAuto);
    // A known folder started again: the files left, or else the failed ones, which are no
    // longer counted as failed; bFailedEntries tells whether entries that stay failed remain.
    static FileList _FilesToRestart(PFolderTaskInfo pFolder, const std::string& strFolderPath,
                                    bool& bFailedEntries);
    // Starts those files again; one that can neither start nor fail by itself is failed here.
    static void _RestartFiles(PFolderTaskInfo pFolder, const FileList& files);

    // The folder task thread's steps, in order: take the thread's parameters, load what is
    // remembered of the folder, register its record (false: nothing to do), list the folder or
    // make tasks of its remembered files, then fail the folder or hand its tasks over, and
    // let go of the record.
    static void _TakeParams(PFolderTaskParams pParams, FolderWorker& worker);
    static void _LoadFolderRecord(FolderWorker& worker);
    static bool _RegisterListing(FolderWorker& worker);
    static bool _ListNewFolder(FolderWorker& worker);
    static void _TasksFromRecords(FolderWorker& worker);
    static void _AddMemberTask(FolderWorker& worker, std::string strPath, long long nSize);
    static void _FailFolder(FolderWorker& worker, bool bListed);
    static void _HandOverTasks(FolderWorker& worker);
    static void _EndListing(FolderWorker& worker);
    // Runs step under m_folderMutex if session nSession still lasts; false when it has ended.
    static bool _InSession(unsigned long nSession, const std::function<void()>& step);

    static PFolderTaskInfo _Acquire(const std::string& strFolderPath);
    static void _Release(PFolderTaskInfo pFolderTaskInfo);
    // Destroys the record now, or when its last holder lets go; call with m_mutex held.
    static void _Retire(PFolderTaskInfo pFolderTaskInfo);

    // Whether a worker of session nSession may still change anything; call with m_mutex or
    // m_folderMutex held (DelAllTask ends a session under both).
    static bool _IsCurrentSession(unsigned long nSession) { return nSession == m_nSession; }

    static FolderTaskDict m_folderTaskDict;
    // guards m_folderTaskDict, m_holders, m_retired, m_listing, m_nSession and m_workerSession
    static Mutex m_mutex;
    // held while one folder's file tasks are handed to the upload manager
    static Mutex m_folderMutex;
    // how many FolderRefs hold each record
    static std::map<PFolderTaskInfo, int> m_holders;
    // unregistered records that are still held
    static std::set<PFolderTaskInfo> m_retired;
    // records whose worker is still listing them and handing their files over
    static std::set<PFolderTaskInfo> m_listing;
    // DelAllTask, at logout, ends a session (under m_folderMutex too; see Velmoupload.h)
    static unsigned long m_nSession;
    // the session in which each worker was asked for, until the worker takes it
    static std::map<PFolderTaskParams, unsigned long> m_workerSession;
};

// Holds a registered folder record alive while a thread works with it (dispatch pass, upload
// thread, stop-folder thread), even if the folder is cancelled or the user logs out meanwhile.
class FolderRef {
public:
    explicit FolderRef(const std::string& strFolderPath)
        : m_pFolder(FolderManager::_Acquire(strFolderPath)) {}
    ~FolderRef() {
        if (m_pFolder)
            FolderManager::_Release(m_pFolder);
    }
    FolderRef(const FolderRef&) = delete;
    FolderRef& operator=(const FolderRef&) = delete;

    PFolderTaskInfo get() const { return m_pFolder; }
    PFolderTaskInfo operator->() const { return m_pFolder; }
    explicit operator bool() const { return m_pFolder != nullptr; }

private:
    PFolderTaskInfo m_pFolder;
};

}  // namespace _VelmoUpload
