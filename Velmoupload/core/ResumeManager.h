// The resume store: one record per unfinished file upload of the logged-in user, kept in
// "<user id>_upload.ini" and written by a save thread at most once a second.
#pragma once

#include <string>
#include <vector>

#include "TaskModel.h"
#include "ini/QvIniFile.h"
#include "utils/Event.h"
#include "utils/mutex.h"

namespace _VelmoUpload {

class ResumeManager {
public:
    static bool Initialize();
    static void UnInitialize();
    // Reads the file and reports every record as a stopped file or folder.
    static bool Load();
    static bool Save();
    static bool Update(TaskInfo* pTaskInfo, bool bSave);
    static bool Remove(const std::string& strFilePath, bool bSave);
    static bool GetResumeInfo(const std::string& strFilePath, ResumeInfo& resumeInfo);
    static bool GetFolderResumeInfo(const std::string& strFolderPath, long long& nTotalSize,
                                    long long& nUploadSize, std::string& strFolderTarget,
                                    std::vector<std::string>& fileList);
    // The paths of every complete record, in file order (the headless client lists them).
    static bool GetResumePaths(std::vector<std::string>& filePaths);

    static bool _Save();
    // Removes the records that cannot be used as they stand (each named on standard error)
    // and merges repeated ones; true when the store changed. Call with m_mutex held.
    static bool _DropUnsoundRecords();
    static void* _SaveResumeThread(void* pArguments);

private:
    static bool m_bInit;
    static bool m_bUpdate;
    static QvIniFile m_iniFile;
    static std::string m_strResumePath;
    // never destroyed: a detached thread (a stop-folder thread saving) may signal it while
    // the process runs its static destructors
    static Event& m_hEvent;
    // guards m_bInit, m_bUpdate and m_strResumePath; held across a whole Update or Remove, so
    // a close never cuts a record change in half
    static Mutex m_mutex;
};

}  // namespace _VelmoUpload
