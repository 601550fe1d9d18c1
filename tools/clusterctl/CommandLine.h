// The command line: global options, the commands and their arguments.
#pragma once

#include <functional>
#include <optional>

#include "Commands.h"
#include "Session.h"

namespace clusterctl {

struct Invocation {
    ConnectionOptions connection;
    OutputOptions output;
    bool verbose = false;
    std::function<CZuError(CommandContext&)> command;
};

// Fills `invocation` from the arguments. Returns the exit status when the run ends here:
// 0 after --help, 2 after a usage error (already reported on stderr).
std::optional<int> ParseCommandLine(int argc, char** argv, Invocation& invocation);

}  // namespace clusterctl
