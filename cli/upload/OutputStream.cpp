// Moving descriptor 1 aside for velmoupload-cli.
#include "OutputStream.h"

#include <fcntl.h>
#include <unistd.h>

namespace velmocli {

FILE* ClaimStdout() {
    fflush(stdout);
    int fdOut = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fdOut < 0)
        return stdout;
    int fdNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fdNull < 0 || dup2(fdNull, STDOUT_FILENO) < 0) {
        if (fdNull >= 0)
            close(fdNull);
        close(fdOut);
        return stdout;
    }
    close(fdNull);
    FILE* out = fdopen(fdOut, "w");
    if (!out) {
        dup2(fdOut, STDOUT_FILENO);
        close(fdOut);
        return stdout;
    }
    // progress lines must reach a log as they happen, not when a block buffer fills
    setvbuf(out, nullptr, _IOLBF, 0);
    return out;
}

}  // namespace velmocli
