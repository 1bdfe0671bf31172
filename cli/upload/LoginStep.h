// Logging in for velmoupload-cli: with --user and a password read safely, or with the account
// a previous login remembered; waits for the session's answer on the main thread.
#pragma once

#include <atomic>
#include <string>

#include "CliOptions.h"
#include "EngineEvents.h"

namespace velmocli {

enum class LoginResult { LoggedIn, Refused, NoAccount, BadInput, Interrupted };

// strMessage: the reason for anything but LoggedIn (UTF-8).
LoginResult LogIn(const CliOptions& opts, EventQueue& queue, const std::atomic<bool>& bInterrupted,
                  std::string& strMessage);

}  // namespace velmocli
