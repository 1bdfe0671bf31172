// The engine's front door: the upload manager, its registry of file tasks and the dispatch
// thread that starts them, and the progress callback through which it reports every change.
#pragma once

#include <map>
#include <string>

#include "TaskModel.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

// The version text the engine reports to the service.
std::string GetPluginVersion();

/* Threads, locks and sessions of the engine.
 *
 * The progress callback runs on the engine thread that made the change: the dispatch thread
 * for running reports (with m_mutex held), an upload, folder or stop-folder thread for the
 * status changes it makes, the caller's own thread for what it starts or stops. It only copies
 * the report and hands it on (the window posts it to the GUI thread); it never waits.
 *
 * Locks, outer first: a thread holding one may take a later one, never an earlier one.
 *   1. FolderManager::m_folderMutex (a folder's files handed over) or UploadHandler::m_mutex
 *      (one dispatch that creates remote directories at a time); never both.
 *   2. UploadManager::m_mutex, the registry (recursive; held for a whole dispatch pass).
 *   3. FolderManager::m_mutex, the folder registry and the holders of its records.
 *   4. A TaskInfo's or a FolderTaskInfo's mutex: a task lock and a folder lock are never
 *      held together.
 *   5. ResumeManager::m_mutex or LoginManager::m_sessionLock, then only its own QvIniFile's.
 *
 * Sessions: a logout ends one, and these counters keep what outlives it off the next.
 *   - m_nSession here, with m_startedTasks: an upload thread of an ended session
 *     (IsCurrentSession false) writes no resume record and sends no cancel, so another
 *     account's store and session are left alone.
 *   - FolderManager::m_nSession, with its worker sessions: a folder worker asked for before
 *     the logout registers no folder and hands no file or record over.
 *   - the resume store's generation: a save thread of an earlier open ends instead of writing
 *     the file opened since.
 */
class UploadManager {
public:
    static void Initialize(ProgressCallbackFun progressCallback, void* data);
    static void UnInitialize();

    static bool SelectFileUpload(const std::string& strTarget, ISPType ispType, void* hWnd,
                                 bool bAuto);
    static bool SelectFolderUpload(const std::string& strTarget, ISPType ispType, void* hWnd,
                                   bool bAuto);
    static bool StartTask(const std::string& strFilePath, const std::string& strTarget,
                          ISPType ispType, std::string strFolderPath, std::string strFolderTarget,
                          bool bAuto);
    static bool StopTask(const std::string& strFilePath, bool bNotify, TaskStatus status);
    static bool CancelTask(const std::string& strFilePath);
    static bool StopAllTask(bool bNotify);
    static bool UploadFolder(const std::string& strFolderPath, const std::string& strTarget,
                             ISPType ispType, bool bAuto);

    static bool UpdateTaskStatus(PTaskInfo pTaskInfo, TaskStatus status, bool bNotify);
    static void UpdateFolderStatus(PFolderTaskInfo pFolderTaskInfo, TaskStatus status);
    static bool AddTask(PTaskInfo pTaskInfo);
    static bool DelTask(PTaskInfo pTaskInfo);
    static PTaskInfo GetTask(const std::string& strFilePath);

    static void SetMaxUploadCount(int nCount);
    static int GetMaxUploadCount();
    static void* GetWindow();
    static void test(int type, const std::string& strTarget, ISPType ispType);

    // For callers that wait for the engine: the number of registered tasks and of running
    // upload threads (tests, the headless client).
    static int GetTaskCount();
    static int GetRunningCount();

    // Whether a started task still belongs to the running session (see above).
    static bool IsCurrentSession(PTaskInfo pTaskInfo);

private:
    static void* _DispatchTaskThread(void* pArguments);
    static void* _SelectFileUploadThread(void* pArguments);
    static void* _SelectFolderUploadThread(void* pArguments);
    static void* _StopFolderThread(void* pArguments);

    // One pass of the dispatch thread: starts queued tasks, and reports running ones when
    // bReport (at most once a second).
    static void _DispatchPass(bool bReport);
    // The pass's two steps for one task: start it if it is queued and its target is known
    // (a member may have to wait for its directory); report it if it is running (true then).
    static void _StartQueued(PTaskInfo pTaskInfo);
    static bool _ReportRunning(PTaskInfo pTaskInfo);
    // Wakes the dispatch thread early: a task was queued or an upload slot came free.
    static void _WakeDispatch();
    // The summary text after a status report; a file's report (bStartIfEmpty) starts one when
    // there is none yet. Call with m_mutex held.
    static std::string _StatusSummary(PTaskInfo pTaskInfo, TaskStatus status, bool bStartIfEmpty);
    static void _Report(const std::string& strPath, long long nFileSize, long long nUploadSize,
                        int nSpeed, int tLeftTime, int status, double fHashPercent, int nErrorCode,
                        const std::string& strErrorMsg, const std::string& strPickCode,
                        bool bIsFolder, const std::string& strTaskInfo);
    static void _RemoveFromRegistry(PTaskInfo pTaskInfo);
    static void _SubtractTotal(long long nSize);

    static TaskInfoDict m_taskInfoDict;
    static TaskInfoList m_taskInfoList;
    // the registry lock: guards the two containers, m_nTotalSize, m_strTaskInfo, m_hWnd,
    // m_nMaxUploadCount, m_nCurUploadCount, m_bDispatchRunning, m_nSession and m_startedTasks
    static Mutex m_mutex;
    static bool m_bInit;
    static void* m_hWnd;
    static long long m_nTotalSize;
    static std::string m_strTaskInfo;
    static int m_nMaxUploadCount;
    static int m_nCurUploadCount;
    static bool m_bDispatchRunning;
    // UnInitialize ends a session; each started task is entered with its own until DelTask
    static unsigned long m_nSession;
    static std::map<PTaskInfo, unsigned long> m_startedTasks;
    static ProgressCallbackFun m_progressCallback;
    static void* m_paramCallback;
};

}  // namespace _VelmoUpload
