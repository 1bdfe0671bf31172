// Folder uploads against the stand-in: local trees, the remote tree read from the stand-in's
// records, the dispatch requests seen by the recording gateway, and the resume file on disk.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "EngineFixture.h"

namespace foldertest {

// Files and folders of one account, paths relative to the account's root ("pics/2012/x.jpg").
struct RemoteTree {
    std::map<std::string, std::string> files;     // path -> SHA-1
    std::set<std::string> folders;                // every folder below the root
    std::map<std::string, std::string> targetOf;  // folder path -> "U_<user>_<folder>"
};

// One dispatch request (upload, resume or cancel) as the client sent it.
struct Dispatch {
    std::string strKind;  // "upload", "resume" or "cancel"
    std::string strFileName, strTarget, strPath, strPickCode;
};

class FolderTest : public enginetest::ProxiedEngineTest {
protected:
    // Files of the local folder, paths relative to the folder's parent, as on the service.
    std::map<std::string, std::string> LocalTree(const std::string& strFolder) const;
    // The account's tree; a file stored twice under one path fails the test.
    RemoteTree Remote(const std::string& strAccount = "alice");
    std::vector<Dispatch> Dispatches(const std::string& strFileName = std::string()) const;
    // The folder into the account's own folder, started or added stopped.
    bool UploadFolder(const std::string& strFolder, bool bStart = true);
    // A record of the folder's file in the resume store, as an earlier session leaves it.
    bool Remember(const std::string& strFolder, const std::string& strPath, bool bSave);

    std::string ResumeFile() const;  // the logged-in user's
    static std::vector<std::string> ResumeSections(const std::string& strFile);
    // Waits until the file on disk holds exactly these sections, in any order.
    bool WaitForResumeFile(const std::string& strFile, std::multiset<std::string> expected);

    std::string FolderPath(const std::string& strName) const { return m_strWork + "/" + strName; }
};

using enginetest::kMiB;

// A text of the catalogue as the engine reports it, in GBK.
inline std::string Gbk(const char* pszUtf8) {
    return _VelmoUpload::Utils::StringU2G(pszUtf8);
}

}  // namespace foldertest
