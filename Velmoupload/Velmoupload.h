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

    // Whether a started task still belongs to the running session. An upload thread that
    // outlives its session (a logout, perhaps followed by another account's login) must leave
    // the next session's resume store and account alone.
    static bool IsCurrentSession(PTaskInfo pTaskInfo);

private:
    static void* _DispatchTaskThread(void* pArguments);
    static void* _SelectFileUploadThread(void* pArguments);
    static void* _SelectFolderUploadThread(void* pArguments);
    static void* _StopFolderThread(void* pArguments);

    // One pass of the dispatch thread: starts queued tasks, and reports running ones when
    // bReport (at most once a second).
    static void _DispatchPass(bool bReport);
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
    // counts the sessions (UnInitialize ends one); each started task is entered with the
    // session that started it until DelTask
    static unsigned long m_nSession;
    static std::map<PTaskInfo, unsigned long> m_startedTasks;
    static ProgressCallbackFun m_progressCallback;
    static void* m_paramCallback;
};

}  // namespace _VelmoUpload
