// The single updating progress line of multi-page work. It is drawn on stderr only when
// stderr is a terminal, and only once a second page is read: short listings stay quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/Pager.h"
#include "ClusterWalk/TreeWalker.h"

namespace clusterctl {

class ProgressLine {
  public:
    // `outputOnTerminal`: the listing itself goes to a terminal too, so the line has to make
    // way before each page is written.
    ProgressLine(std::FILE* terminal, bool enabled, bool outputOnTerminal);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Redraws the line from the count and the requests sent again so far, at most a few times
    // a second.
    void Update(const clusterwalk::PageCount& count, uint64_t retries);
    // The same for a walk over many connections, from its first second on.
    void UpdateWalk(const clusterwalk::WalkProgress& walk);
    // The same for a change feed.
    void UpdateChanges(const clusterwalk::ChangeProgress& feed);
    // Call before writing a page of output.
    void BeforeOutput();
    void Clear();

  private:
    using Clock = std::chrono::steady_clock;

    bool Due(Clock::time_point now) const;
    double Rate(uint64_t entries, Clock::time_point now) const;
    void Show(Clock::time_point now, const std::string& line);

    std::FILE* m_terminal;
    bool m_enabled;
    bool m_outputOnTerminal;
    bool m_shown = false;
    Clock::time_point m_start = Clock::now();
    Clock::time_point m_lastDraw;  // the epoch until the first draw
};

}  // namespace clusterctl
