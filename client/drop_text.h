// The text of a drop on the main window: the "file://" entries it holds.
#pragma once

#include <string>
#include <vector>

namespace rodedudir {

// Every entry from a "file://" to the end of its line (a CR before the LF left out), in order.
std::vector<std::string> split_drop_uris(const std::string& strText);

// The local file name of a "file" URI; on failure prints why and returns the URI unchanged.
std::string get_filename_from_uri(const std::string& strUri);

}  // namespace rodedudir
