// Reading one line from a descriptor while watching the signal pipe; the terminal's echo is
// switched off only for the time of the prompt and always restored.
#include "PasswordReader.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmocli {

namespace {

// Longer lines are not passwords but a wrong file on standard input.
constexpr size_t kMaxPassword = 1024;

// Byte by byte, so nothing after the newline is consumed.
PasswordResult ReadLine(int fd, int nWakeFd, std::string& strLine, std::string& strError) {
    strLine.clear();
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {nWakeFd, POLLIN, 0}};
        int nReady = poll(fds, nWakeFd >= 0 ? 2 : 1, -1);
        if (nReady < 0) {
            if (errno == EINTR)
                continue;
            strError = std::string("cannot wait for the password: ") + strerror(errno);
            return PasswordResult::Failed;
        }
        if (nWakeFd >= 0 && (fds[1].revents & POLLIN))
            return PasswordResult::Interrupted;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            strError = std::string("cannot read the password: ") + strerror(errno);
            return PasswordResult::Failed;
        }
        if (n == 0 || c == '\n')
            break;
        if (strLine.size() >= kMaxPassword) {
            strError = "the password line is too long";
            return PasswordResult::Failed;
        }
        strLine += c;
    }
    if (!strLine.empty() && strLine.back() == '\r')
        strLine.pop_back();
    if (strLine.empty()) {
        strError = "empty password";
        return PasswordResult::Failed;
    }
    return PasswordResult::Ok;
}

}  // namespace

PasswordResult ReadPasswordFromStdin(int nWakeFd, std::string& strPassword, std::string& strError) {
    return ReadLine(STDIN_FILENO, nWakeFd, strPassword, strError);
}

PasswordResult ReadPasswordFromTerminal(const std::string& strPrompt, int nWakeFd,
                                        std::string& strPassword, std::string& strError) {
    // the controlling terminal even when standard input is a file or a pipe
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        strError = "no terminal to ask for the password; pipe it in with --password-stdin";
        return PasswordResult::Failed;
    }
    termios saved;
    bool bRestore = tcgetattr(fd, &saved) == 0;
    if (bRestore) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;  // the Enter still moves to the next line
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    ssize_t nWritten = write(fd, strPrompt.data(), strPrompt.size());
    (void)nWritten;
    PasswordResult result = ReadLine(fd, nWakeFd, strPassword, strError);
    if (bRestore)
        tcsetattr(fd, TCSAFLUSH, &saved);
    if (result == PasswordResult::Interrupted) {
        nWritten = write(fd, "\n", 1);
    }
    close(fd);
    return result;
}

}  // namespace velmocli
