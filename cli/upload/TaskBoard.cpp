// Report handling: an ended task stays ended, since the engine may still report it in the
// moment between its last status and its removal.
#include "TaskBoard.h"

#include "TaskModel.h"
#include "utils/Utils.h"

namespace velmocli {

using namespace _VelmoUpload;

bool TaskBoard::Add(const std::string& strShownPath, const std::string& strEnginePath) {
    if (Find(strEnginePath))
        return false;
    TaskEntry entry;
    entry.strShownPath = strShownPath;
    entry.strEnginePath = strEnginePath;
    m_index[strEnginePath] = m_tasks.size();
    m_tasks.push_back(entry);
    return true;
}

void TaskBoard::Fail(const std::string& strEnginePath, int nErrorCode,
                     const std::string& strMessage) {
    TaskEntry* pEntry = Find(strEnginePath);
    if (!pEntry || pEntry->outcome != Outcome::Pending)
        return;
    ++m_nRevision;
    pEntry->outcome = Outcome::Failed;
    pEntry->bRunning = false;
    pEntry->nErrorCode = nErrorCode;
    pEntry->strMessage = strMessage;
}

bool TaskBoard::Apply(const ProgressReport& report) {
    TaskEntry* pEntry = Find(report.strFilePath);
    if (!pEntry)
        return false;
    ++m_nRevision;
    m_strSummary = report.strTaskInfo;
    if (pEntry->outcome != Outcome::Pending)
        return true;
    switch (report.status) {
        case TaskStatusHash:
        case TaskStatusUpload:
            pEntry->bRunning = true;
            pEntry->lastRunning = report;
            ++m_nRunningGeneration;
            return true;
        case TaskStatusSucceed:
            pEntry->outcome = Outcome::Succeeded;
            break;
        case TaskStatusError:
            pEntry->outcome = Outcome::Failed;
            pEntry->nErrorCode = report.nErrorCode;
            pEntry->strMessage = Utils::StringG2U(report.strErrorMsg);
            break;
        case TaskStatusStop:
            pEntry->outcome = Outcome::Stopped;
            break;
        case TaskStatusCancel:
            // nobody here cancels; another client of the same store could have
            pEntry->outcome = Outcome::Failed;
            pEntry->strMessage = "cancelled";
            break;
        default:  // queued
            break;
    }
    pEntry->bRunning = false;
    return true;
}

void TaskBoard::SetFailedFiles(const std::string& strEnginePath,
                               std::vector<std::pair<std::string, std::string>> failedFiles) {
    TaskEntry* pEntry = Find(strEnginePath);
    if (pEntry)
        pEntry->failedFiles = std::move(failedFiles);
}

void TaskBoard::StopUnfinished() {
    for (TaskEntry& entry : m_tasks) {
        if (entry.outcome == Outcome::Pending) {
            entry.outcome = Outcome::Stopped;
            entry.bRunning = false;
        }
    }
}

std::vector<std::string> TaskBoard::PendingPaths() const {
    std::vector<std::string> pending;
    for (const TaskEntry& entry : m_tasks)
        if (entry.outcome == Outcome::Pending)
            pending.push_back(entry.strEnginePath);
    return pending;
}

bool TaskBoard::AllDone() const {
    for (const TaskEntry& entry : m_tasks)
        if (entry.outcome == Outcome::Pending)
            return false;
    return true;
}

bool TaskBoard::AllSucceeded() const {
    for (const TaskEntry& entry : m_tasks)
        if (entry.outcome != Outcome::Succeeded)
            return false;
    return true;
}

std::vector<const TaskEntry*> TaskBoard::Running() const {
    std::vector<const TaskEntry*> running;
    for (const TaskEntry& entry : m_tasks)
        if (entry.bRunning)
            running.push_back(&entry);
    return running;
}

std::vector<std::string> TaskBoard::FinalLines() const {
    std::vector<std::string> lines;
    for (const TaskEntry& entry : m_tasks) {
        switch (entry.outcome) {
            case Outcome::Succeeded:
                lines.push_back("OK " + entry.strShownPath);
                break;
            case Outcome::Failed: {
                // a folder whose files failed has no code or message of its own
                std::string strMessage = entry.strMessage;
                if (strMessage.empty() && !entry.failedFiles.empty())
                    strMessage = std::to_string(entry.failedFiles.size()) +
                                 (entry.failedFiles.size() == 1 ? " file" : " files") + " failed";
                lines.push_back("FAILED " + entry.strShownPath + ": " +
                                std::to_string(entry.nErrorCode) +
                                (strMessage.empty() ? "" : " " + strMessage));
                for (const auto& failed : entry.failedFiles)
                    lines.push_back("  FAILED " + failed.first + ": " + failed.second);
                break;
            }
            case Outcome::Stopped:
            case Outcome::Pending:
                lines.push_back("STOPPED " + entry.strShownPath);
                break;
        }
    }
    return lines;
}

TaskEntry* TaskBoard::Find(const std::string& strEnginePath) {
    auto it = m_index.find(strEnginePath);
    return it == m_index.end() ? nullptr : &m_tasks[it->second];
}

}  // namespace velmocli
