#include "Diagnostics.h"

#include <cstdio>

namespace clusterctl {
namespace {

constexpr int kRequestLogLevel = 2;

}  // namespace

void SetUpDiagnostics(bool verbose) {
    if (verbose) {
        g_ptrLogWriter.reset(new CStderrLogWriter(kRequestLogLevel));
    } else {
        g_ptrLogWriter.reset();
    }
}

void ReportError(const CZuError& error, bool verbose) {
    std::fprintf(stderr, "clusterctl: error %u: %s\n", error.GetCode(), error.GetMessage().c_str());
    if (!verbose) return;
    for (const CZuError::Location& location : error.GetLocations()) {
        std::fprintf(stderr, "  at %s:%d %s\n", location.file.c_str(), location.line,
                     location.function.c_str());
    }
}

}  // namespace clusterctl
