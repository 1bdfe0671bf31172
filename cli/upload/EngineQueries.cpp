// Reading the resume store and the folder registry through their public calls.
#include "EngineQueries.h"

#include <set>

#include "core/FolderManager.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

namespace velmocli {

using namespace _VelmoUpload;

std::vector<std::string> UnfinishedUploads() {
    std::vector<std::string> paths, uploads;
    ResumeManager::GetResumePaths(paths);
    std::set<std::string> seen;
    for (const std::string& strPath : paths) {
        ResumeInfo info;
        std::string strUpload = strPath;
        if (ResumeManager::GetResumeInfo(strPath, info) && !info.strFolderPath.empty())
            strUpload = info.strFolderPath;
        if (seen.insert(strUpload).second)
            uploads.push_back(strUpload);
    }
    return uploads;
}

std::vector<std::pair<std::string, std::string>> FolderFailures(const std::string& strFolderPath) {
    ErrorList errors;
    FolderManager::LoadUnfinishTask(strFolderPath, errors);
    std::vector<std::pair<std::string, std::string>> failures;
    for (const auto& error : errors)
        failures.emplace_back(error.first, Utils::StringG2U(error.second));
    return failures;
}

}  // namespace velmocli
