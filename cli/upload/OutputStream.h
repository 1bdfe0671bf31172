// Standard output belongs to the client's results: the engine prints diagnostics there (the
// INI store names every section it saves), so those are moved out of the way.
#pragma once

#include <cstdio>

namespace velmocli {

// Call once, before the engine runs: returns a stream on the original standard output and
// points descriptor 1 at /dev/null. On failure, stdout itself.
FILE* ClaimStdout();

}  // namespace velmocli
