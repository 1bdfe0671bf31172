// After the login: lists the unfinished uploads, or uploads the given and the resumed files
// and waits for them, stopping them cleanly on Ctrl-C. Returns the process's exit status.
#pragma once

#include <atomic>
#include <cstdio>

#include "CliOptions.h"
#include "EngineEvents.h"

namespace velmocli {

// Exit statuses of velmoupload-cli.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

// out: where the listing, the progress and the final lines go.
int RunUploads(const CliOptions& opts, EventQueue& queue, const std::atomic<bool>& bInterrupted,
               FILE* out);

}  // namespace velmocli
