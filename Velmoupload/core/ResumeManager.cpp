// The resume store: records change in memory at once and reach "<user id>_upload.ini" through
// one save thread per open store, at most once a second, plus a last write when it closes.
#include "core/ResumeManager.h"

#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

#include "Velmoupload.h"
#include "core/FolderManager.h"
#include "core/LoginManager.h"
#include "utils/NamedThread.h"
#include "utils/Utils.h"

namespace _VelmoUpload {

bool ResumeManager::m_bInit = false;
bool ResumeManager::m_bUpdate = false;
QvIniFile ResumeManager::m_iniFile;
std::string ResumeManager::m_strResumePath;
Event& ResumeManager::m_hEvent = *new Event;
Mutex ResumeManager::m_mutex;

namespace {

const char kResumeSuffix[] = "_upload.ini";
// The name the save thread carries in the process's thread list (at most 15 characters).
const char kSaveThreadName[] = "velmo-resume";

const char kKeyFileId[] = "fileid";
const char kKeyQuickId[] = "quickid";
const char kKeyPickCode[] = "pickcode";
const char kKeyFolderPath[] = "folderpath";
const char kKeyFolderTarget[] = "foldertarget";
const char kKeyTarget[] = "target";
const char kKeyFileSize[] = "filesize";
const char kKeyUploadSize[] = "uploadsize";
const char kKeyIsp[] = "isp";

// What ties a save thread to the one open store it was started for. A thread that finds the
// generation moved on ends, so a close followed by a quick reopen never leaves two threads
// writing. Allocated once and never freed: a thread may still wait on it while the process
// runs its static destructors.
struct SaveThreadSync {
    // Serialises opening, closing and each write of a save thread, so a close never runs
    // while a pass is between clearing the dirty flag and writing.
    std::mutex lifeLock;
    std::mutex wakeLock;
    std::condition_variable wake;
    // Changed only with both locks held, so either lock is enough to read it.
    unsigned long nGeneration = 0;
};

SaveThreadSync& Sync() {
    static SaveThreadSync* pSync = new SaveThreadSync;
    return *pSync;
}

struct SaveThreadParams {
    unsigned long nGeneration;
};

void BumpGeneration(SaveThreadSync& sync, unsigned long* pNewGeneration) {
    {
        std::lock_guard<std::mutex> wakeLock(sync.wakeLock);
        ++sync.nGeneration;
        if (pNewGeneration)
            *pNewGeneration = sync.nGeneration;
    }
    sync.wake.notify_all();
}

const char* const kRecordKeys[] = {kKeyFileId,     kKeyQuickId,      kKeyPickCode,
                                   kKeyFolderPath, kKeyFolderTarget, kKeyTarget,
                                   kKeyFileSize,   kKeyUploadSize,   kKeyIsp};

// A key's value, or empty when the record has no such key.
std::string_view ValueOf(const QvIniRecord& keys, const char* pKey) {
    std::string_view strValue;
    keys.Find(pKey, strValue);
    return strValue;
}

bool HasAllKeys(const QvIniRecord& keys) {
    std::string_view strValue;
    for (const char* pKey : kRecordKeys)
        if (!keys.Find(pKey, strValue))
            return false;
    return true;
}

// All nine keys or nothing: a record with a key missing was cut short and cannot be trusted.
bool ReadCompleteRecord(QvIniFile& iniFile, const std::string& strSection, TaskInfo& task) {
    std::string strValue;
    if (!iniFile.GetValue(strSection, kKeyFileId, task.strFileHash) ||
        !iniFile.GetValue(strSection, kKeyQuickId, task.strFileMDVelmo) ||
        !iniFile.GetValue(strSection, kKeyPickCode, task.strPickCode) ||
        !iniFile.GetValue(strSection, kKeyFolderPath, task.strFolderPath) ||
        !iniFile.GetValue(strSection, kKeyFolderTarget, task.strFolderTarget) ||
        !iniFile.GetValue(strSection, kKeyTarget, task.strTarget))
        return false;
    if (!iniFile.GetValue(strSection, kKeyFileSize, strValue))
        return false;
    task.nFileSize = Utils::StringS2I(strValue);
    if (!iniFile.GetValue(strSection, kKeyUploadSize, strValue))
        return false;
    task.nUploadSize = Utils::StringS2I(strValue);
    if (!iniFile.GetValue(strSection, kKeyIsp, strValue))
        return false;
    task.ispType = static_cast<ISPType>(Utils::StringS2I(strValue));
    task.strFilePath = strSection;
    return true;
}

// ---- what a sound record looks like

// A plain decimal count: digits only, no sign, no blanks, at most 2^53 (what a JSON number
// carries exactly, and far beyond any file).
bool ParseCount(std::string_view strText, long long& nValue) {
    if (strText.empty() || strText.size() > 16)
        return false;
    long long n = 0;
    for (char c : strText) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n > (1LL << 53))
        return false;
    nValue = n;
    return true;
}

// Why a record cannot be used as it stands, or null when it can. Records are checked when
// the file is loaded: one that a crash, a full disk or an editor damaged must neither send
// wrong bytes nor leave an upload waiting for ever.
const char* RecordFault(const std::string& strSection, const QvIniRecord& keys) {
    if (strSection.empty() || strSection[0] != '/')
        return "the path is not absolute";
    if (strSection.find('\0') != std::string::npos)
        return "the path holds a NUL byte";
    if (!HasAllKeys(keys))
        return "a field is missing";
    long long nFileSize = 0, nUploadSize = 0, nIsp = 0;
    if (!ParseCount(ValueOf(keys, kKeyFileSize), nFileSize) || nFileSize == 0)
        return "the file size is not a size";
    if (!ParseCount(ValueOf(keys, kKeyUploadSize), nUploadSize) || nUploadSize > nFileSize)
        return "the uploaded size is not a size up to the file size";
    if (!ParseCount(ValueOf(keys, kKeyIsp), nIsp) || nIsp > ISPTypeCnc)
        return "the network type is unknown";
    const std::string_view strFolderPath = ValueOf(keys, kKeyFolderPath);
    if (!strFolderPath.empty()) {
        const std::string strPrefix =
            strFolderPath == "/" ? std::string(strFolderPath) : std::string(strFolderPath) + "/";
        if (strFolderPath[0] != '/' || strSection.compare(0, strPrefix.size(), strPrefix) != 0 ||
            strSection.size() == strPrefix.size())
            return "the file is not below its folder";
    }
    return nullptr;
}

// A number that is present and not empty replaces the field; anything else leaves it.
template <typename Number>
void ReadNumber(QvIniFile& iniFile, const std::string& strSection, const char* pKey,
                Number& nField) {
    std::string strValue;
    if (iniFile.GetValue(strSection, pKey, strValue) && !strValue.empty())
        nField = static_cast<Number>(Utils::StringS2I(strValue));
}

}  // namespace

// ---------------------------------------------------------------- open and close

bool ResumeManager::Initialize() {
    SaveThreadSync& sync = Sync();
    std::lock_guard<std::mutex> lifeLock(sync.lifeLock);
    {
        MutexLocker locker(m_mutex);
        if (m_bInit)
            return false;
    }

    std::string strFolder;
    if (!Utils::GetConfigFolder(strFolder))
        return false;
    Utils::CreateDir(strFolder);
    const std::string strPath = strFolder + LoginManager::GetUserId() + kResumeSuffix;
    Utils::OutputDebugStringEx("RESUME PATH: " + strPath);
    m_iniFile.SetIniPath(strPath);

    // Any thread of an earlier open sees the new generation and ends.
    unsigned long nGeneration = 0;
    BumpGeneration(sync, &nGeneration);

    // save thread: start
    SaveThreadParams* pParams = new SaveThreadParams{nGeneration};
    if (!StartDetachedThread(kSaveThreadName, [pParams] { _SaveResumeThread(pParams); })) {
        delete pParams;
        m_iniFile.SetIniPath(std::string());
        return false;
    }

    MutexLocker locker(m_mutex);
    m_strResumePath = strPath;
    m_bInit = true;
    return true;
}

void ResumeManager::UnInitialize() {
    SaveThreadSync& sync = Sync();
    std::lock_guard<std::mutex> lifeLock(sync.lifeLock);
    bool bDirty = false;
    {
        // Update and Remove hold m_mutex for their whole change, so from here on none is
        // half done and none starts.
        MutexLocker locker(m_mutex);
        bDirty = m_bInit && m_bUpdate;
        m_bInit = false;
        m_bUpdate = false;
        m_strResumePath.clear();
    }
    // save thread: end (it wakes, sees the new generation and returns)
    BumpGeneration(sync, nullptr);

    // Changes of the last second (a stop just before logout or quit) would otherwise be lost.
    if (bDirty)
        _Save();
    m_hEvent.Set();
    m_iniFile.SetIniPath(std::string());
    m_iniFile.Clear();
}

// ---------------------------------------------------------------- announcing the stored tasks

namespace {

// What a load gathers of one folder's records before it announces the folder.
struct FolderRecords {
    std::string strTarget;  // the first that names one: as a restart reads it
    long long nTotalSize = 0;
    long long nUploadSize = 0;
    FileList fileList;
    std::vector<std::string> dirs;  // each file's directory, once, in file order
    std::set<std::string> seenDirs;
};

// One announcement in record order: a single file, or a folder at its first file (then the
// path is the folder's).
struct LoadedRecord {
    std::string strFilePath;
    FolderRecords* pFolder = nullptr;
};

}  // namespace

bool ResumeManager::Load() {
    // Gathered under m_mutex in a form that costs little more than the names themselves: a
    // hundred thousand records must not become a hundred thousand tasks at once.
    std::vector<LoadedRecord> records;
    std::map<std::string, FolderRecords> folders;  // ascending folder path
    {
        MutexLocker locker(m_mutex);
        if (!m_bInit)
            return false;
        // a missing or unreadable file leaves the store empty: nothing to announce
        m_iniFile.Load();
        if (_DropUnsoundRecords())
            m_bUpdate = true;  // the file is written without them at the next pass
        m_iniFile.VisitSections([&](const std::string& strSection, const QvIniRecord& keys,
                                    unsigned) {
            if (!HasAllKeys(keys))
                return;
            const std::string_view strFolderPath = ValueOf(keys, kKeyFolderPath);
            if (strFolderPath.empty()) {
                records.push_back(LoadedRecord{strSection, nullptr});
                return;
            }
            FolderRecords& folder = folders.try_emplace(std::string(strFolderPath)).first->second;
            if (folder.fileList.empty())
                records.push_back(LoadedRecord{std::string(strFolderPath), &folder});
            if (folder.strTarget.empty())
                folder.strTarget = ValueOf(keys, kKeyFolderTarget);
            folder.nTotalSize += Utils::StringS2I(std::string(ValueOf(keys, kKeyFileSize)));
            folder.nUploadSize += Utils::StringS2I(std::string(ValueOf(keys, kKeyUploadSize)));
            folder.fileList.push_back(strSection);
            std::string strDir = Utils::GetParentDir(strSection);
            if (folder.seenDirs.insert(strDir).second)
                folder.dirs.push_back(std::move(strDir));
        });
    }

    // Announced without m_mutex: the reports take the upload manager's and the folder
    // manager's locks, and those may call back into this store.
    std::map<const FolderRecords*, PFolderTaskInfo> announced;
    std::vector<PFolderTaskInfo> unowned;
    for (LoadedRecord& record : records) {
        if (!record.pFolder) {
            // shown as stopped only; StartTask finds the record again with GetResumeInfo
            TaskInfo task;
            if (ReadCompleteRecord(m_iniFile, record.strFilePath, task))
                UploadManager::UpdateTaskStatus(&task, TaskStatusStop, true);
            continue;
        }
        FolderRecords& gathered = *record.pFolder;
        PFolderTaskInfo pFolder = new FolderTaskInfo;
        pFolder->strFolderPath = record.strFilePath;
        pFolder->strTarget = gathered.strTarget;
        announced[record.pFolder] = pFolder;
        UploadManager::UpdateFolderStatus(pFolder, TaskStatusStop);
        // a folder already registered keeps its own record; this one only reports
        if (!FolderManager::AddTask(pFolder))
            unowned.push_back(pFolder);
        {
            MutexLocker lock(pFolder->mutex);
            pFolder->nTotalSize += gathered.nTotalSize;
            pFolder->nUploadSize += gathered.nUploadSize;
            pFolder->nFileCount += static_cast<int>(gathered.fileList.size());
            pFolder->fileList.swap(gathered.fileList);
        }
        // each file's directory is known from now on, its remote folder not yet
        for (const std::string& strDir : gathered.dirs)
            FolderManager::UpdateTarget(pFolder->strFolderPath, strDir, std::string());
    }
    // the map's order: ascending folder path
    for (const auto& entry : folders)
        UploadManager::UpdateFolderStatus(announced[&entry.second], TaskStatusStop);
    for (PFolderTaskInfo pFolder : unowned)
        delete pFolder;
    return true;
}

bool ResumeManager::_DropUnsoundRecords() {
    // Checked in one walk over the store, copying only the names that have to go.
    // name -> (why, how often listed); by name, as the user is told
    std::map<std::string, std::pair<const char*, unsigned>> faulty;
    std::vector<std::pair<std::string, unsigned>> repeated;
    std::map<std::string, bool> folderHasTarget;
    m_iniFile.VisitSections(
        [&](const std::string& strSection, const QvIniRecord& keys, unsigned nListed) {
            if (const char* pFault = RecordFault(strSection, keys)) {
                faulty.emplace(strSection, std::make_pair(pFault, nListed));
                return;
            }
            if (nListed > 1)
                repeated.emplace_back(strSection, nListed);
            const std::string_view strFolderPath = ValueOf(keys, kKeyFolderPath);
            if (!strFolderPath.empty()) {
                bool& bHasTarget = folderHasTarget[std::string(strFolderPath)];
                bHasTarget = bHasTarget || !ValueOf(keys, kKeyFolderTarget).empty();
            }
        });
    for (const auto& entry : faulty) {
        // the one line the user gets: which upload is forgotten, and why
        fprintf(stderr, "resume file %s: dropped the record of %s: %s\n", m_strResumePath.c_str(),
                entry.first.c_str(), entry.second.first);
        // every header of the name goes
        for (unsigned i = 0; i < entry.second.second; ++i)
            m_iniFile.RemoveSection(entry.first);
    }
    for (const auto& entry : repeated) {
        // one record under one header: the keys survive, the repeats go
        const std::string& strSection = entry.first;
        std::map<std::string, std::string> keys;
        for (const char* pKey : kRecordKeys)
            m_iniFile.GetValue(strSection, pKey, keys[pKey]);
        for (unsigned i = 0; i < entry.second; ++i)
            m_iniFile.RemoveSection(strSection);
        for (const auto& key : keys)
            m_iniFile.Update(strSection, key.first, key.second);
    }

    // A folder's files take their remote folder from the first of them that names it; when
    // none does, none of them could ever start.
    std::map<std::string, std::vector<std::string>> stranded;
    bool bStranded = false;
    for (const auto& folder : folderHasTarget)
        bStranded = bStranded || !folder.second;
    if (bStranded)
        m_iniFile.VisitSections(
            [&](const std::string& strSection, const QvIniRecord& keys, unsigned) {
                const std::string_view strFolderPath = ValueOf(keys, kKeyFolderPath);
                if (strFolderPath.empty())
                    return;
                std::map<std::string, bool>::const_iterator it =
                    folderHasTarget.find(std::string(strFolderPath));
                if (it != folderHasTarget.end() && !it->second)
                    stranded[it->first].push_back(strSection);
            });
    for (const auto& folder : stranded) {
        for (const std::string& strSection : folder.second) {
            fprintf(stderr,
                    "resume file %s: dropped the record of %s: no remote folder is known "
                    "for its folder\n",
                    m_strResumePath.c_str(), strSection.c_str());
            m_iniFile.RemoveSection(strSection);
        }
    }
    return !faulty.empty() || !repeated.empty() || bStranded;
}

// ---------------------------------------------------------------- changes

bool ResumeManager::Save() {
    {
        MutexLocker locker(m_mutex);
        if (!m_bInit)
            return false;
    }
    m_hEvent.Set();
    return true;
}

bool ResumeManager::Update(TaskInfo* pTaskInfo, bool bSave) {
    if (!pTaskInfo)
        return false;
    // A snapshot under the task's lock, taken before m_mutex: the upload thread changes the
    // pick code and the byte count under that lock while others may call this.
    pTaskInfo->Lock();
    const std::string strFilePath = pTaskInfo->strFilePath;
    const std::string strFolderPath = pTaskInfo->strFolderPath;
    const std::string strFolderTarget = pTaskInfo->strFolderTarget;
    const std::string strFileHash = pTaskInfo->strFileHash;
    const std::string strFileMDVelmo = pTaskInfo->strFileMDVelmo;
    const std::string strPickCode = pTaskInfo->strPickCode;
    // a folder's files get their remote folder from the folder logic on every run
    const std::string strTarget = strFolderPath.empty() ? pTaskInfo->strTarget : std::string();
    const long long nFileSize = pTaskInfo->nFileSize;
    const long long nUploadSize = pTaskInfo->nUploadSize;
    const uint32_t nIsp = static_cast<uint32_t>(pTaskInfo->ispType);
    pTaskInfo->Unlock();
    if (strFilePath.empty())
        return false;

    {
        MutexLocker locker(m_mutex);
        if (!m_bInit)
            return false;
        m_iniFile.Update(strFilePath, kKeyFileId, strFileHash);
        m_iniFile.Update(strFilePath, kKeyQuickId, strFileMDVelmo);
        m_iniFile.Update(strFilePath, kKeyPickCode, strPickCode);
        m_iniFile.Update(strFilePath, kKeyFolderPath, strFolderPath);
        m_iniFile.Update(strFilePath, kKeyFolderTarget, strFolderTarget);
        m_iniFile.Update(strFilePath, kKeyTarget, strTarget);
        m_iniFile.Update(strFilePath, kKeyFileSize, Utils::StringI2S(nFileSize));
        m_iniFile.Update(strFilePath, kKeyUploadSize, Utils::StringI2S(nUploadSize));
        m_iniFile.Update(strFilePath, kKeyIsp, Utils::StringI2S(nIsp));
        m_bUpdate = true;
    }
    if (bSave)
        m_hEvent.Set();
    return true;
}

bool ResumeManager::Remove(const std::string& strFilePath, bool bSave) {
    {
        MutexLocker locker(m_mutex);
        if (!m_bInit)
            return false;
        m_iniFile.RemoveSection(strFilePath);
        // also for a path without a record: cheaper than asking first, and harmless
        m_bUpdate = true;
    }
    if (bSave)
        m_hEvent.Set();
    return true;
}

// ---------------------------------------------------------------- reading records

bool ResumeManager::GetResumeInfo(const std::string& strFilePath, ResumeInfo& resumeInfo) {
    // under m_mutex, so a record is never seen half way through an Update
    MutexLocker locker(m_mutex);
    if (!m_bInit)
        return false;
    std::string strFileHash;
    if (!m_iniFile.GetValue(strFilePath, kKeyFileId, strFileHash))
        return false;
    resumeInfo.strFileHash = strFileHash;
    m_iniFile.GetValue(strFilePath, kKeyQuickId, resumeInfo.strFileMDVelmo);
    m_iniFile.GetValue(strFilePath, kKeyPickCode, resumeInfo.strPickCode);
    m_iniFile.GetValue(strFilePath, kKeyFolderPath, resumeInfo.strFolderPath);
    m_iniFile.GetValue(strFilePath, kKeyFolderTarget, resumeInfo.strFolderTarget);
    m_iniFile.GetValue(strFilePath, kKeyTarget, resumeInfo.strTarget);
    ReadNumber(m_iniFile, strFilePath, kKeyFileSize, resumeInfo.nFileSize);
    ReadNumber(m_iniFile, strFilePath, kKeyUploadSize, resumeInfo.nUploadSize);
    ReadNumber(m_iniFile, strFilePath, kKeyIsp, resumeInfo.ispType);
    return true;
}

bool ResumeManager::GetFolderResumeInfo(const std::string& strFolderPath, long long& nTotalSize,
                                        long long& nUploadSize, std::string& strFolderTarget,
                                        std::vector<std::string>& fileList) {
    MutexLocker locker(m_mutex);
    if (!m_bInit)
        return false;
    bool bStoreHasRecords = false;
    m_iniFile.VisitSections([&](const std::string& strSection, const QvIniRecord& keys, unsigned) {
        bStoreHasRecords = true;
        std::string_view strValue;
        if (!keys.Find(kKeyFolderPath, strValue) || strValue != strFolderPath)
            return;
        if (strFolderTarget.empty())
            strFolderTarget = ValueOf(keys, kKeyFolderTarget);
        if (keys.Find(kKeyFileSize, strValue))
            nTotalSize += Utils::StringS2I(std::string(strValue));
        if (keys.Find(kKeyUploadSize, strValue))
            nUploadSize += Utils::StringS2I(std::string(strValue));
        fileList.push_back(strSection);
    });
    return bStoreHasRecords;
}

bool ResumeManager::GetResumePaths(std::vector<std::string>& filePaths) {
    MutexLocker locker(m_mutex);
    if (!m_bInit)
        return false;
    filePaths.clear();
    // the same records Load announces, so the headless client lists what the window shows
    m_iniFile.VisitSections([&](const std::string& strSection, const QvIniRecord& keys, unsigned) {
        if (HasAllKeys(keys))
            filePaths.push_back(strSection);
    });
    return true;
}

// ---------------------------------------------------------------- writing the file

bool ResumeManager::_Save() {
    return m_iniFile.Save();
}

void* ResumeManager::_SaveResumeThread(void* pArguments) {
    std::unique_ptr<SaveThreadParams> pParams(static_cast<SaveThreadParams*>(pArguments));
    const unsigned long nGeneration = pParams->nGeneration;
    Utils::OutputDebugStringEx("resume save thread: start");

    SaveThreadSync& sync = Sync();
    auto nextPass = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (;;) {
        {
            // woken early only when the store closes or reopens
            std::unique_lock<std::mutex> wakeLock(sync.wakeLock);
            if (sync.wake.wait_until(wakeLock, nextPass,
                                     [&] { return sync.nGeneration != nGeneration; }))
                break;
        }
        if (!LoginManager::IsLogin())
            break;
        // measured from the start of a pass, so a slow write never brings two passes closer
        nextPass = std::chrono::steady_clock::now() + std::chrono::seconds(1);

        std::lock_guard<std::mutex> lifeLock(sync.lifeLock);
        if (sync.nGeneration != nGeneration)
            break;
        bool bDirty = false;
        {
            MutexLocker locker(m_mutex);
            // cleared before the write: a change made during it is written on the next pass
            bDirty = m_bUpdate;
            m_bUpdate = false;
        }
        // a failed write is not retried until the next change
        if (bDirty)
            _Save();
    }

    // save thread: end
    Utils::OutputDebugStringEx("resume save thread: end");
    return nullptr;
}

}  // namespace _VelmoUpload
