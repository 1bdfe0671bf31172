// Paths as the engine keys its tasks: absolute, without a trailing "/".
#pragma once

#include <string>

namespace rodedudir {

// The text without the blanks around it; blanks alone give an empty text.
std::string trim_blanks(const std::string& strText);
// strPath made absolute against the working directory; an empty or blank one stays as it is.
std::string make_absolute(const std::string& strPath);
// The key of a task for a path the user gave: blanks around it dropped unless the file's name
// has them, absolute, no trailing "/". Empty when nothing is left.
std::string normalize_task_path(const std::string& strPath);

}  // namespace rodedudir
