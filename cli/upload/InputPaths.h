// The paths named on the command line: checked before anything is sent, and made absolute,
// since the engine keys a task (and its resume record) by its path and a later --resume may
// run from another directory.
#pragma once

#include <string>

namespace velmocli {

// False with the reason when the path cannot be uploaded at all (missing, unreadable, not a
// regular file or folder).
bool CheckInputPath(const std::string& strPath, bool& bIsDir, std::string& strError);

// Absolute, with "." parts and repeated or trailing slashes removed. Symbolic links and ".."
// stay: the file keeps the name it was given, which is the name it gets on the service.
std::string AbsolutePath(const std::string& strPath);

}  // namespace velmocli
