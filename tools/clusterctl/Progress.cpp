#include "Progress.h"

#include "Signals.h"

namespace clusterctl {
namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};

}  // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool enabled, bool outputOnTerminal)
    : m_terminal(terminal), m_enabled(enabled), m_outputOnTerminal(outputOnTerminal) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Update(const clusterwalk::PageCount& count, uint64_t retries) {
    if (!m_enabled || count.pages < 2) return;
    const Clock::time_point now = Clock::now();
    if (now - m_lastDraw < kRedrawInterval) return;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? static_cast<double>(count.entries) / seconds : 0.0;
    SetProgressLineShown(true);  // before drawing: a signal may come halfway
    std::fprintf(m_terminal, "\r\033[K%llu pages, %llu entries, %.0f entries/s",
                 static_cast<unsigned long long>(count.pages),
                 static_cast<unsigned long long>(count.entries), rate);
    if (retries > 0)
        std::fprintf(m_terminal, ", %llu retries", static_cast<unsigned long long>(retries));
    std::fflush(m_terminal);
    m_shown = true;
    m_lastDraw = now;
}

void ProgressLine::BeforeOutput() {
    if (m_outputOnTerminal) Clear();
}

void ProgressLine::Clear() {
    if (!m_shown) return;
    std::fputs("\r\033[K", m_terminal);
    std::fflush(m_terminal);
    m_shown = false;
    SetProgressLineShown(false);
}

}  // namespace clusterctl
