// What clusterctl says on stderr besides progress: errors, and with -v the request log.
#pragma once

#include "platform/ZuUtils.h"

namespace clusterctl {

// Quiet by default: the library's own log and event lines would break the one-line error.
// Verbose: the library's request log (it masks secrets itself) goes to stderr, escaped.
void SetUpDiagnostics(bool verbose);

// "clusterctl: error CODE: MESSAGE", escaped; verbose adds the code-location trail.
void ReportError(const CZuError& error, bool verbose);

}  // namespace clusterctl
