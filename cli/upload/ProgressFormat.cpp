// Formatting for the progress display; the engine's numbers are shown as they come, only
// clamped where a report can run ahead of the file (a piece counted before the service's
// offset corrects it).
#include "ProgressFormat.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "TaskModel.h"
#include "utils/Utils.h"

namespace velmocli {

namespace {

bool ParseCount(const std::string& strText, long long& nValue) {
    if (strText.empty() || strText.size() > 19)
        return false;
    for (char c : strText)
        if (c < '0' || c > '9')
            return false;
    nValue = std::strtoll(strText.c_str(), nullptr, 10);
    return true;
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

bool ParseTaskSummary(const std::string& strTaskInfo, TaskSummary& summary) {
    std::vector<std::string> fields;
    std::string::size_type nStart = 0;
    for (;;) {
        std::string::size_type nComma = strTaskInfo.find(',', nStart);
        fields.push_back(strTaskInfo.substr(nStart, nComma - nStart));
        if (nComma == std::string::npos)
            break;
        nStart = nComma + 1;
    }
    TaskSummary parsed;
    if (fields.size() != 4 || !ParseCount(fields[0], parsed.nCount) ||
        !ParseCount(fields[1], parsed.nTotalSize) || !ParseCount(fields[2], parsed.nSpeed) ||
        fields[3].empty())
        return false;
    parsed.strTimeLeft = fields[3];
    summary = parsed;
    return true;
}

std::string FormatBytes(long long nBytes) {
    if (nBytes < 0)
        nBytes = 0;
    if (nBytes < 1024)
        return std::to_string(nBytes) + " B";
    static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double fValue = static_cast<double>(nBytes) / 1024.0;
    size_t nUnit = 0;
    while (fValue >= 1024.0 && nUnit + 1 < sizeof(kUnits) / sizeof(kUnits[0])) {
        fValue /= 1024.0;
        ++nUnit;
    }
    char buf[32];
    snprintf(buf, sizeof(buf), fValue < 10.0 ? "%.2f %s" : "%.1f %s", fValue, kUnits[nUnit]);
    return buf;
}

int UploadPercent(long long nUploadSize, long long nFileSize) {
    if (nFileSize <= 0)
        return 0;
    if (nUploadSize >= nFileSize)
        return 100;
    if (nUploadSize <= 0)
        return 0;
    return static_cast<int>(static_cast<double>(nUploadSize) * 100.0 /
                            static_cast<double>(nFileSize));
}

std::string RunningLine(const ProgressReport& report) {
    std::string strLine = report.strFileName + "  ";
    if (report.status == _VelmoUpload::TaskStatusHash) {
        double fPercent = report.fHashPercent < 0 ? 0 : report.fHashPercent;
        strLine +=
            "hashing " + std::to_string(static_cast<int>(fPercent > 100 ? 100 : fPercent)) + "%";
        return strLine;
    }
    strLine += std::to_string(UploadPercent(report.nUploadSize, report.nFileSize)) + "% of " +
               FormatBytes(report.nFileSize);
    if (report.nSpeed > 0)
        strLine += "  " + FormatBytes(report.nSpeed) + "/s  " +
                   _VelmoUpload::Utils::SecondToHour(report.tLeftTime) + " left";
    return strLine;
}

std::string SummaryLine(const std::string& strTaskInfo) {
    TaskSummary summary;
    if (!ParseTaskSummary(strTaskInfo, summary) || summary.nCount <= 0)
        return std::string();
    std::string strLine = std::to_string(summary.nCount) +
                          (summary.nCount == 1 ? " file  " : " files  ") +
                          FormatBytes(summary.nTotalSize);
    if (summary.nSpeed > 0)
        strLine += "  " + FormatBytes(summary.nSpeed) + "/s  " + summary.strTimeLeft + " left";
    return strLine;
}

std::string FitColumns(const std::string& strLine, size_t nColumns) {
    size_t nChars = 0;
    for (char c : strLine)
        if (!IsContinuationByte(c))
            ++nChars;
    if (nChars <= nColumns)
        return strLine;
    const size_t nKeep = nColumns > 3 ? nColumns - 3 : 0;
    size_t nSeen = 0, nCut = 0;
    for (; nCut < strLine.size(); ++nCut) {
        if (!IsContinuationByte(strLine[nCut]) && nSeen++ == nKeep)
            break;
    }
    return strLine.substr(0, nCut) + std::string("...").substr(0, nColumns - nKeep);
}

}  // namespace velmocli
