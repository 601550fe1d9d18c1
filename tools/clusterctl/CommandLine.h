// The command line: global options, profiles, the commands and their arguments.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "Commands.h"
#include "Session.h"

namespace clusterctl {

struct Invocation {
    ConnectionOptions connection;
    OutputOptions output;
    bool verbose = false;
    std::string command;  // the words that name what was asked, for messages: "ls /home"
    std::function<CZuError(CommandContext&)> run;
};

// Fills `invocation` from the arguments, the environment and the profile. Returns the exit
// status when the run ends here: 0 after --help, help or --version, 2 after a usage error and
// 3 when no cluster is configured (both already reported on stderr).
std::optional<int> ParseCommandLine(int argc, char** argv, Invocation& invocation);

}  // namespace clusterctl
