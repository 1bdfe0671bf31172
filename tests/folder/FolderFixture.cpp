// Folder test fixture: the stand-in's records as a tree, local trees, dispatch requests and the
// resume file, so each test states what the service and the disk must hold afterwards.
#include "FolderFixture.h"

#include <filesystem>
#include <list>

#include "FormFields.h"
#include "Records.h"
#include "SqliteDb.h"
#include "ini/QvIniFile.h"

using namespace _VelmoUpload;

namespace foldertest {

namespace {

std::string Body(const std::string& strRequest) {
    std::string::size_type nPos = strRequest.find("\r\n\r\n");
    return nPos == std::string::npos ? std::string() : strRequest.substr(nPos + 4);
}

}  // namespace

std::map<std::string, std::string> FolderTest::LocalTree(const std::string& strFolder) const {
    std::map<std::string, std::string> files;
    const size_t nBase = Utils::GetParentDir(strFolder).size() + 1;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(strFolder))
        if (entry.symlink_status().type() == std::filesystem::file_type::regular)
            files[entry.path().string().substr(nBase)] = enginetest::FileSha1(entry.path());
    return files;
}

RemoteTree FolderTest::Remote(const std::string& strAccount) {
    RemoteTree tree;
    standin::SqliteDb db;
    db.Open(StandinDataDir() + "/standin.db");
    standin::Records records(db);
    standin::Account account;
    if (!records.AccountByName(strAccount, account)) {
        ADD_FAILURE() << "no account " << strAccount;
        return tree;
    }
    std::map<long long, standin::Folder> folders;
    for (const standin::Folder& folder : records.FoldersOf(account.nId))
        folders[folder.nId] = folder;
    // a folder's path: its names up to the root, which itself has none
    auto pathOf = [&](long long nId) {
        std::string strPath;
        while (nId != account.nRootFolder && folders.count(nId)) {
            strPath = folders[nId].strName + (strPath.empty() ? "" : "/" + strPath);
            nId = folders[nId].nParentId;
        }
        return strPath;
    };
    for (const auto& entry : folders) {
        const std::string strTarget =
            "U_" + std::to_string(account.nId) + "_" + std::to_string(entry.first);
        const std::string strPath = pathOf(entry.first);
        tree.pathOfTarget[strTarget] = strPath;
        if (entry.first == account.nRootFolder)
            continue;
        tree.folders.insert(strPath);
        tree.targetOf[strPath] = strTarget;
    }
    for (const standin::StoredFile& file : records.FilesOf(account.nId)) {
        std::string strDir = pathOf(file.nFolderId);
        std::string strPath = strDir.empty() ? file.strName : strDir + "/" + file.strName;
        tree.files[strPath] = file.strSha1;
        ++tree.fileRecords[strPath];
    }
    return tree;
}

std::vector<Dispatch> FolderTest::Dispatches() const {
    static const std::vector<std::string> kBodyKeys = {
        "userid", "filename", "filesize", "target", "path", "fileid", "quickid", "pickcode"};
    std::vector<Dispatch> dispatches;
    for (const std::string& strRequest : m_proxy.Requests("POST /files/")) {
        Dispatch dispatch;
        const std::string::size_type nKind = std::string("POST /files/").size();
        dispatch.strKind = strRequest.substr(nKind, strRequest.find_first_of("? ", nKind) - nKind);
        standin::FormFields body = standin::FormFields::Parse(Body(strRequest), kBodyKeys);
        dispatch.strFileName = body.Get("filename");
        dispatch.strTarget = body.Get("target");
        dispatch.strPath = body.Get("path");
        dispatch.strPickCode = body.Get("pickcode");
        dispatches.push_back(dispatch);
    }
    return dispatches;
}

std::vector<Dispatch> FolderTest::DispatchesOf(const std::string& strFileName) const {
    std::vector<Dispatch> found;
    for (const Dispatch& dispatch : Dispatches())
        if (dispatch.strFileName == strFileName)
            found.push_back(dispatch);
    return found;
}

std::string FolderTest::ResumeFile() const {
    std::string strFolder;
    Utils::GetConfigFolder(strFolder);
    return strFolder + LoginManager::GetUserId() + "_upload.ini";
}

std::vector<std::string> FolderTest::ResumeSections(const std::string& strFile) {
    QvIniFile ini;
    std::list<std::string> sections;
    if (Utils::IsExist(strFile) && ini.Load(strFile))
        ini.GetSections(sections);
    return std::vector<std::string>(sections.begin(), sections.end());
}

bool FolderTest::WaitForResumeFile(const std::string& strFile, std::set<std::string> expected) {
    return velmotest::waitFor(
        [&] {
            std::vector<std::string> sections = ResumeSections(strFile);
            return std::set<std::string>(sections.begin(), sections.end()) == expected &&
                   sections.size() == expected.size();
        },
        std::chrono::seconds(10));
}

void FolderTest::Logout() {
    UploadManager::UnInitialize();
    LoginManager::Logout();
}

void FolderTest::RememberFolder(const std::string& strFolder,
                                const std::vector<std::string>& files) {
    for (const std::string& strPath : files) {
        TaskInfo task;
        task.strFolderPath = strFolder;
        task.strFolderTarget = LoginManager::GetTarget();
        task.strFilePath = strPath;
        long long nSize = 0;
        ASSERT_TRUE(Utils::GetFileSize(strPath, nSize)) << strPath;
        task.nFileSize = nSize;
        ASSERT_TRUE(ResumeManager::Update(&task, false));
    }
    // a restart of the program with the login remembered: the store is written and read again
    UploadManager::UnInitialize();
    UploadManager::Initialize(&velmotest::ReportLog::Record, &m_reports);
    ASSERT_TRUE(WaitForStatus(strFolder, TaskStatusStop));
}

}  // namespace foldertest
