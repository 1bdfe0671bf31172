// One running instance per user: a Unix socket in a folder only the user can enter. A second
// start hands its path to the running instance and ends; the first keeps the bound socket
// and serves it from a thread of the main window.
#pragma once

#include <string>

namespace rodedudir {

// The message a second start sends: three fields "restore;addtask;path", at most this long.
constexpr size_t kSingletonMessageMax = 1023;
// a command field holds at most this many characters
constexpr size_t kSingletonCommandMax = 19;
constexpr const char kRestoreCommand[] = "zov_restore";
constexpr const char kAddTaskCommand[] = "zov_addtask";

// What a received message asks for.
struct SingletonRequest {
    bool bRestore = false;  // show the main window
    bool bAddTask = false;  // and add strPath (when it is not empty)
    std::string strPath;
};

// The message for a path (empty: only show the window); false when it would not fit, since
// a cut path could name another file.
bool format_singleton_message(const std::string& strPath, std::string& strMessage);
// Reads a received message; false when it is to be ignored (too short, too long, a field
// wider than its width, an unknown command). strWhy says which.
bool parse_singleton_message(const std::string& strMessage, SingletonRequest& request,
                             std::string& strWhy);

// The socket file of this user: $XDG_RUNTIME_DIR/ZOVBACKUP_SINGLETON when that folder is the
// user's own, else /tmp/ZOVBACKUP_SINGLETON-<uid>/ZOVBACKUP_SINGLETON (the folder made 0700).
// Empty (with strError) when no safe place exists.
std::string singleton_socket_path(std::string& strError);

enum class ClaimResult {
    First,       // this process is the instance; listening_fd() serves others (or -1)
    HandedOver,  // a running instance took the message; end now
    PathTooLong  // the path does not fit the message; nothing was sent
};

// Decides, before any window exists, whether this process is the instance: under a lock
// file, a running instance gets the message; otherwise a stale socket file is removed and
// the socket bound, so two starts at once leave one instance.
ClaimResult claim_single_instance(const std::string& strPath, std::string& strError);

// The listening socket bound by claim_single_instance; -1 when none.
int listening_fd();

// The client half on its own: connects to the user's socket and sends the message for
// strPath. True when a running instance took the whole message.
bool check_singleton(const char* pszPath);

// Serves one connection of the listening socket: refuses other users, reads the message to
// its end (bounded in size and time) and parses it. False: nothing to do.
bool read_singleton_request(int nConnFd, SingletonRequest& request, std::string& strWhy);

}  // namespace rodedudir
