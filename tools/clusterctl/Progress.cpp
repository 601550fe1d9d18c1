#include "Progress.h"

#include <cstdarg>
#include <string>

#include "Signals.h"

namespace clusterctl {
namespace {

constexpr std::chrono::milliseconds kRedrawInterval{100};
// A walk over in a moment stays quiet.
constexpr std::chrono::milliseconds kWalkQuietTime{250};

std::string Text(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string Text(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    return line;
}

std::string RetriesText(uint64_t retries) {
    return retries == 0 ? std::string()
                        : Text(", %llu retries", static_cast<unsigned long long>(retries));
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool enabled, bool outputOnTerminal)
    : m_terminal(terminal), m_enabled(enabled), m_outputOnTerminal(outputOnTerminal) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Update(const clusterwalk::PageCount& count, uint64_t retries) {
    const Clock::time_point now = Clock::now();
    if (count.pages < 2 || !Due(now)) return;
    Show(now, Text("%llu pages, %llu entries, %.0f entries/s",
                   static_cast<unsigned long long>(count.pages),
                   static_cast<unsigned long long>(count.entries), Rate(count.entries, now)) +
                  RetriesText(retries));
}

void ProgressLine::UpdateWalk(const clusterwalk::WalkProgress& walk) {
    const Clock::time_point now = Clock::now();
    if (now - m_start < kWalkQuietTime || !Due(now)) return;
    Show(now, Text("%llu entries, %.0f entries/s, %llu directories pending, %u being listed",
                   static_cast<unsigned long long>(walk.entries), Rate(walk.entries, now),
                   static_cast<unsigned long long>(walk.pending), walk.listing) +
                  RetriesText(walk.retries));
}

void ProgressLine::UpdateChanges(const clusterwalk::ChangeProgress& feed) {
    const Clock::time_point now = Clock::now();
    if (now - m_start < kWalkQuietTime || !Due(now)) return;
    Show(now, Text("%llu changes, %.0f changes/s, %llu difference pages, %llu groups pending, "
                   "%u being listed",
                   static_cast<unsigned long long>(feed.changes), Rate(feed.changes, now),
                   static_cast<unsigned long long>(feed.differencePages),
                   static_cast<unsigned long long>(feed.groupsPending), feed.listing) +
                  RetriesText(feed.retries));
}

bool ProgressLine::Due(Clock::time_point now) const {
    return m_enabled && now - m_lastDraw >= kRedrawInterval;
}

double ProgressLine::Rate(uint64_t entries, Clock::time_point now) const {
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    return seconds > 0 ? static_cast<double>(entries) / seconds : 0.0;
}

void ProgressLine::Show(Clock::time_point now, const std::string& line) {
    SetProgressLineShown(true);  // before drawing: a signal may come halfway
    std::fprintf(m_terminal, "\r\033[K%s", line.c_str());
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
