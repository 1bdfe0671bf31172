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
        for (; nId != account.nRootFolder && folders.count(nId); nId = folders[nId].nParentId)
            strPath = folders[nId].strName + (strPath.empty() ? "" : "/" + strPath);
        return strPath;
    };
    for (const auto& entry : folders) {
        if (entry.first == account.nRootFolder)
            continue;
        tree.folders.insert(pathOf(entry.first));
        tree.targetOf[pathOf(entry.first)] =
            "U_" + std::to_string(account.nId) + "_" + std::to_string(entry.first);
    }
    for (const standin::StoredFile& file : records.FilesOf(account.nId)) {
        std::string strDir = pathOf(file.nFolderId);
        std::string strPath = strDir.empty() ? file.strName : strDir + "/" + file.strName;
        EXPECT_TRUE(tree.files.emplace(strPath, file.strSha1).second) << strPath << " stored twice";
    }
    return tree;
}

std::vector<Dispatch> FolderTest::Dispatches(const std::string& strFileName) const {
    static const std::vector<std::string> kBodyKeys = {
        "userid", "filename", "filesize", "target", "path", "fileid", "quickid", "pickcode"};
    const std::string kStart = "POST /files/";
    std::vector<Dispatch> dispatches;
    for (const std::string& strRequest : m_proxy.Requests(kStart)) {
        const std::string::size_type nBody = strRequest.find("\r\n\r\n");
        standin::FormFields body = standin::FormFields::Parse(
            nBody == std::string::npos ? std::string() : strRequest.substr(nBody + 4), kBodyKeys);
        const std::string::size_type nKindEnd = strRequest.find_first_of("? ", kStart.size());
        Dispatch dispatch{strRequest.substr(kStart.size(), nKindEnd - kStart.size()),
                          body.Get("filename"), body.Get("target"), body.Get("path"),
                          body.Get("pickcode")};
        if (strFileName.empty() || dispatch.strFileName == strFileName)
            dispatches.push_back(dispatch);
    }
    return dispatches;
}

bool FolderTest::UploadFolder(const std::string& strFolder, bool bStart) {
    return UploadManager::UploadFolder(strFolder, LoginManager::GetTarget(), ISPTypeAuto, bStart);
}

bool FolderTest::Remember(const std::string& strFolder, const std::string& strPath, bool bSave) {
    TaskInfo task;
    task.strFolderPath = strFolder;
    task.strFolderTarget = LoginManager::GetTarget();
    task.strFilePath = strPath;
    task.nFileSize = static_cast<int64_t>(std::filesystem::file_size(strPath));
    return ResumeManager::Update(&task, bSave);
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

bool FolderTest::WaitForResumeFile(const std::string& strFile,
                                   std::multiset<std::string> expected) {
    return velmotest::waitFor(
        [&] {
            std::vector<std::string> sections = ResumeSections(strFile);
            return std::multiset<std::string>(sections.begin(), sections.end()) == expected;
        },
        std::chrono::seconds(10));
}

}  // namespace foldertest
