#include "Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "TerminalText.h"

namespace clusterctl {
namespace {

constexpr int kRequestLogLevel = 2;

std::string FormatArguments(const char* format, va_list arguments) {
    va_list counting;
    va_copy(counting, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, counting);
    va_end(counting);
    if (length <= 0) return "";
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.resize(static_cast<size_t>(length));
    return text;
}

// The request log quotes replies and URLs from the cluster: each line is escaped before it
// reaches the terminal.
class EscapingLogWriter : public CLogWriterInterface {
  public:
    void WriteLog(int level, const char* function, int line, int, int, const char* format,
                  ...) override __attribute__((format(printf, 7, 8))) {
        if (level > kRequestLogLevel) return;
        va_list arguments;
        va_start(arguments, format);
        const std::string text = FormatArguments(format, arguments);
        va_end(arguments);
        std::fprintf(stderr, "[%d] %s:%d: %s\n", level,
                     EscapeForTerminal(function != nullptr ? function : "").c_str(), line,
                     EscapeForTerminal(text).c_str());
    }
    int GetLogLevel() override { return kRequestLogLevel; }
};

}  // namespace

void SetUpDiagnostics(bool verbose) {
    if (verbose) {
        g_ptrLogWriter.reset(new EscapingLogWriter);
    } else {
        g_ptrLogWriter.reset();
    }
}

void ReportError(const CZuError& error, bool verbose) {
    std::fprintf(stderr, "clusterctl: error %u: %s\n", error.GetCode(),
                 EscapeForTerminal(error.GetMessage()).c_str());
    if (!verbose) return;
    for (const CZuError::Location& location : error.GetLocations()) {
        std::fprintf(stderr, "  at %s:%d %s\n", EscapeForTerminal(location.file).c_str(),
                     location.line, EscapeForTerminal(location.function).c_str());
    }
}

}  // namespace clusterctl
