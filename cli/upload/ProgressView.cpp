// Drawing the progress: the terminal block is rewritten from its first line each time, with
// every line cut to the width so that no line wraps and the cursor arithmetic stays right.
#include "ProgressView.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "ProgressFormat.h"

namespace velmocli {

namespace {

// A redraw per report batch could flicker with many jobs; a tenth of a second is smooth.
constexpr std::chrono::milliseconds kTerminalInterval(100);
// Logs get one batch of lines a second at most.
constexpr std::chrono::milliseconds kPlainInterval(1000);

size_t TerminalColumns(FILE* out) {
    winsize size;
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        return size.ws_col - 1;  // the last column would wrap on some terminals
    return 79;
}

}  // namespace

ProgressView::ProgressView(bool bTerminal, FILE* out)
    : m_bTerminal(bTerminal),
      m_out(out),
      m_tLastDraw(std::chrono::steady_clock::now() - kPlainInterval) {}

void ProgressView::Update(const TaskBoard& board) {
    auto tNow = std::chrono::steady_clock::now();
    if (tNow - m_tLastDraw < (m_bTerminal ? kTerminalInterval : kPlainInterval))
        return;
    bool bDrawn = m_bTerminal ? DrawBlock(board) : PrintPlain(board);
    if (bDrawn) {
        m_tLastDraw = tNow;
        fflush(m_out);
    }
}

void ProgressView::Clear() {
    if (m_bTerminal && m_nLinesShown > 0) {
        fprintf(m_out, "\x1b[%dA\r\x1b[J", m_nLinesShown);
        fflush(m_out);
    }
    m_nLinesShown = 0;
}

bool ProgressView::DrawBlock(const TaskBoard& board) {
    if (board.Revision() == m_nDrawnRevision)
        return false;
    m_nDrawnRevision = board.Revision();
    std::vector<std::string> lines;
    for (const TaskEntry* pEntry : board.Running())
        lines.push_back("  " + RunningLine(pEntry->lastRunning));
    std::string strSummary = SummaryLine(board.Summary());
    if (!strSummary.empty())
        lines.push_back(strSummary);

    if (lines.empty() && m_nLinesShown == 0)
        return false;
    const size_t nColumns = TerminalColumns(m_out);
    std::string strOut;
    if (m_nLinesShown > 0)
        strOut += "\x1b[" + std::to_string(m_nLinesShown) + "A\r";
    strOut += "\x1b[J";
    for (const std::string& strLine : lines)
        strOut += FitColumns(strLine, nColumns) + "\n";
    fwrite(strOut.data(), 1, strOut.size(), m_out);
    m_nLinesShown = static_cast<int>(lines.size());
    return true;
}

bool ProgressView::PrintPlain(const TaskBoard& board) {
    if (board.RunningGeneration() == m_nPrintedGeneration)
        return false;
    m_nPrintedGeneration = board.RunningGeneration();
    for (const TaskEntry* pEntry : board.Running())
        fprintf(m_out, "progress: %s\n", RunningLine(pEntry->lastRunning).c_str());
    return true;
}

}  // namespace velmocli
