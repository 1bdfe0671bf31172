// The uploads of this run as the main thread sees them: built from the engine's reports (or
// from a refusal decided here), it knows which are running, which are done and how.
#pragma once

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "EngineEvents.h"

namespace velmocli {

enum class Outcome { Pending, Succeeded, Failed, Stopped };

struct TaskEntry {
    std::string strShownPath;   // as the user gave it, for the final lines
    std::string strEnginePath;  // absolute; the engine's key of the task
    bool bRunning = false;
    ProgressReport lastRunning;
    Outcome outcome = Outcome::Pending;
    int nErrorCode = 0;
    std::string strMessage;  // UTF-8
    // a failed folder upload: (file, UTF-8 message) of each file that failed
    std::vector<std::pair<std::string, std::string>> failedFiles;
};

class TaskBoard {
public:
    // False when the engine path is already on the board (one line per file, however often
    // it was named).
    bool Add(const std::string& strShownPath, const std::string& strEnginePath);
    // A failure decided before the engine saw the task.
    void Fail(const std::string& strEnginePath, int nErrorCode, const std::string& strMessage);
    // False when the report concerns no task of this run.
    bool Apply(const ProgressReport& report);
    // The failed files of a folder upload, shown under its line.
    void SetFailedFiles(const std::string& strEnginePath,
                        std::vector<std::pair<std::string, std::string>> failedFiles);
    // At a Ctrl-C: whatever has not ended counts as stopped.
    void StopUnfinished();

    // Engine paths of the tasks that have not ended, in the order of Add.
    std::vector<std::string> PendingPaths() const;
    bool AllDone() const;
    bool AllSucceeded() const;
    bool Empty() const { return m_tasks.empty(); }
    std::vector<const TaskEntry*> Running() const;
    // The engine's latest summary text.
    const std::string& Summary() const { return m_strSummary; }
    // Grows with every running report: the plain display prints only when it moved.
    unsigned long RunningGeneration() const { return m_nRunningGeneration; }
    // Grows with every report of this run's tasks: the terminal redraws only when it moved.
    unsigned long Revision() const { return m_nRevision; }

    // "OK path", "FAILED path: code message" or "STOPPED path", in the order of Add; a failed
    // folder's files follow its line, indented.
    std::vector<std::string> FinalLines() const;

private:
    TaskEntry* Find(const std::string& strEnginePath);

    std::vector<TaskEntry> m_tasks;
    // engine path -> index in m_tasks; a run may hold thousands of files
    std::unordered_map<std::string, size_t> m_index;
    std::string m_strSummary;
    unsigned long m_nRunningGeneration = 0;
    unsigned long m_nRevision = 0;
};

}  // namespace velmocli
