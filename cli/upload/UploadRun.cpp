// The upload run on the main thread: start every task, then apply the queued reports and
// redraw until each task has ended. The engine's worker threads never touch the display.
#include "UploadRun.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "EngineQueries.h"
#include "InputPaths.h"
#include "ProgressView.h"
#include "TaskBoard.h"
#include "Velmoupload.h"
#include "core/FolderManager.h"
#include "core/LoginManager.h"
#include "utils/Utils.h"

namespace velmocli {

using namespace _VelmoUpload;

namespace {

constexpr std::chrono::milliseconds kPollInterval(250);
// A stopped upload ends at its next send unit, or once the reply of a piece already sent has
// come; a service that stalls longer than this only costs the last piece on resume.
constexpr std::chrono::seconds kEndGrace(30);
// How long the engine may hold nothing of a task that has not reported its end: longer than
// a folder's walk takes to register the folder.
constexpr std::chrono::seconds kLostGrace(5);

void Pump(EventQueue& queue, TaskBoard& board, std::chrono::milliseconds wait) {
    for (const CliEvent& event : queue.WaitAndTakeAll(wait)) {
        if (event.kind != CliEvent::Report || !board.Apply(event.report))
            continue;
        // read now: the folder record stays registered after an error, until the next run
        if (event.report.isFolder && event.report.status == TaskStatusError)
            board.SetFailedFiles(event.report.strFilePath,
                                 FolderFailures(event.report.strFilePath));
    }
}

bool EngineIdle() {
    return UploadManager::GetTaskCount() == 0 && UploadManager::GetRunningCount() <= 0;
}

// An ended task's thread still removes its resume record (or, when stopped, writes it) after
// the final report; closing the store before that would leave the record wrong.
bool WaitForEngineIdle(EventQueue& queue, TaskBoard& board) {
    const auto tDeadline = std::chrono::steady_clock::now() + kEndGrace;
    while (!EngineIdle()) {
        if (std::chrono::steady_clock::now() >= tDeadline)
            return false;
        Pump(queue, board, std::chrono::milliseconds(20));
    }
    return true;
}

// True when no pending task can still report: the engine has no file task, no upload thread
// and none of the pending folders. Then a report was lost and waiting would never end.
bool NothingLeftToReport(const TaskBoard& board) {
    if (!EngineIdle())
        return false;
    for (const std::string& strPath : board.PendingPaths())
        if (FolderManager::GetTask(strPath))
            return false;
    return true;
}

int ListUnfinished(const std::vector<std::string>& resumePaths, FILE* out) {
    for (const std::string& strPath : resumePaths)
        fprintf(out, "%s\n", strPath.c_str());
    if (resumePaths.empty())
        fprintf(stderr, "velmoupload-cli: no unfinished uploads\n");
    UploadManager::UnInitialize();
    return kExitOk;
}

void StartOne(const std::string& strPath, const std::string& strTarget, EventQueue& queue,
              TaskBoard& board) {
    if (Utils::IsDir(strPath)) {
        if (!UploadManager::UploadFolder(strPath, strTarget, ISPTypeAuto, true))
            board.Fail(strPath, EISDIR, "the folder upload could not be started");
        return;
    }
    if (UploadManager::StartTask(strPath, strTarget, ISPTypeAuto, std::string(), std::string(),
                                 true))
        return;
    // a refusal was reported on this very thread, so its report is already queued
    Pump(queue, board, std::chrono::milliseconds(0));
    board.Fail(strPath, 0, "the upload could not be queued");
}

}  // namespace

int RunUploads(const CliOptions& opts, EventQueue& queue, const std::atomic<bool>& bInterrupted,
               FILE* out) {
    UploadManager::Initialize(&EventQueue::OnProgress, &queue);
    UploadManager::SetMaxUploadCount(opts.nJobs);
    // the stored uploads were just announced as stopped; none of them is this run's task yet
    queue.WaitAndTakeAll(std::chrono::milliseconds(0));

    std::vector<std::string> resumePaths;
    if (opts.bResume || opts.paths.empty())
        resumePaths = UnfinishedUploads();
    if (!opts.bResume && opts.paths.empty())
        return ListUnfinished(resumePaths, out);

    TaskBoard board;
    std::vector<std::string> toStart;
    for (const std::string& strPath : resumePaths)
        if (board.Add(strPath, strPath))
            toStart.push_back(strPath);
    for (const std::string& strPath : opts.paths) {
        std::string strAbsolute = AbsolutePath(strPath);
        if (board.Add(strPath, strAbsolute))
            toStart.push_back(strAbsolute);
    }
    if (board.Empty()) {
        fprintf(stderr, "velmoupload-cli: nothing to resume\n");
        UploadManager::UnInitialize();
        return kExitOk;
    }

    ProgressView view(isatty(fileno(out)) == 1, out);
    const std::string strTarget = LoginManager::GetTarget();
    for (const std::string& strPath : toStart) {
        if (bInterrupted)
            break;
        StartOne(strPath, strTarget, queue, board);
    }

    bool bStopped = false;
    std::chrono::steady_clock::time_point tQuietSince{};
    bool bQuiet = false;
    while (!board.AllDone()) {
        if (bInterrupted) {
            bStopped = true;
            break;
        }
        Pump(queue, board, kPollInterval);
        view.Update(board);
        if (!NothingLeftToReport(board)) {
            bQuiet = false;
        } else if (!bQuiet) {
            bQuiet = true;
            tQuietSince = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - tQuietSince >= kLostGrace) {
            for (const std::string& strPath : board.PendingPaths())
                board.Fail(strPath, 0, "the upload ended without a result");
        }
    }
    if (bStopped) {
        view.Clear();
        fprintf(stderr, "velmoupload-cli: stopping; run again with --resume to continue\n");
        // a folder is stopped as a whole, so that it is reported and resumed as one
        for (const std::string& strPath : board.PendingPaths())
            if (Utils::IsDir(strPath))
                UploadManager::StopTask(strPath, true, TaskStatusStop);
        UploadManager::StopAllTask(true);
    }
    if (!WaitForEngineIdle(queue, board))
        fprintf(stderr,
                "velmoupload-cli: an upload did not end in time; it resumes from the "
                "service's last offset\n");
    board.StopUnfinished();
    // writes the resume records changed in the last second
    UploadManager::UnInitialize();

    view.Clear();
    for (const std::string& strLine : board.FinalLines())
        fprintf(out, "%s\n", strLine.c_str());
    if (bStopped)
        return kExitInterrupted;
    return board.AllSucceeded() ? kExitOk : kExitFailed;
}

}  // namespace velmocli
