// Shows the running uploads: on a terminal a block of lines redrawn in place (one per running
// task plus the summary); elsewhere plain lines, at most one batch a second, for logs.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "TaskBoard.h"

namespace velmocli {

class ProgressView {
public:
    // bTerminal: redraw in place with escape sequences; out: where progress goes.
    ProgressView(bool bTerminal, FILE* out);

    void Update(const TaskBoard& board);
    // Takes the live block off the screen, so other output starts on a clean line.
    void Clear();

private:
    // Both false when there was nothing new to show.
    bool DrawBlock(const TaskBoard& board);
    bool PrintPlain(const TaskBoard& board);

    bool m_bTerminal;
    FILE* m_out;
    int m_nLinesShown = 0;
    std::chrono::steady_clock::time_point m_tLastDraw;
    unsigned long m_nPrintedGeneration = 0;
    unsigned long m_nDrawnRevision = 0;
};

}  // namespace velmocli
