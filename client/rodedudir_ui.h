// The UI definition the program carries: every window is built from this one text.
#pragma once

namespace rodedudir {

extern const char* const rodedudir_ui;

}  // namespace rodedudir
