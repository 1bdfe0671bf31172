// Questions the client asks the engine on its main thread: which uploads are unfinished, and
// which files of a failed folder upload failed.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velmocli {

// As the desktop window shows them: a single file by its path, a folder upload once by its
// folder (continuing a folder's file alone would report to the folder, not to the file).
std::vector<std::string> UnfinishedUploads();

// (file path, UTF-8 message) for every failed file of a registered folder upload.
std::vector<std::pair<std::string, std::string>> FolderFailures(const std::string& strFolderPath);

}  // namespace velmocli
