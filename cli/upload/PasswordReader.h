// The password of --user: asked on the terminal without echo, or taken from the first line of
// standard input. Never from the command line, where other users can read it.
#pragma once

#include <string>

namespace velmocli {

enum class PasswordResult { Ok, Interrupted, Failed };

// Both give up with Interrupted when nWakeFd becomes readable (a Ctrl-C meanwhile).
PasswordResult ReadPasswordFromStdin(int nWakeFd, std::string& strPassword, std::string& strError);
PasswordResult ReadPasswordFromTerminal(const std::string& strPrompt, int nWakeFd,
                                        std::string& strPassword, std::string& strError);

}  // namespace velmocli
