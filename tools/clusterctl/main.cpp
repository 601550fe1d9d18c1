// clusterctl: the storage cluster's REST API from the command line.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "CommandLine.h"
#include "Diagnostics.h"
#include "TerminalText.h"
#include "UsageError.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The process holds a password and a bearer token: a core file or a debugger attached by
// another process of the same user must not carry them off.
void ForbidCoreDumps() {
    const struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

CZuError Run(const clusterctl::Invocation& invocation) {
    clusterctl::Session session;
    CZuError error = session.Open(invocation.connection);
    if (error.IsError()) return error;
    // Destroyed before an error is reported, so the line is gone by then.
    clusterctl::ProgressLine progress(stderr, isatty(STDERR_FILENO), isatty(STDOUT_FILENO));
    clusterctl::CommandContext context{session, invocation.output, progress, std::cout};
    return invocation.command(context);
}

}  // namespace

int main(int argc, char** argv) {
    ForbidCoreDumps();
    clusterctl::Invocation invocation;
    if (const auto exitStatus = clusterctl::ParseCommandLine(argc, argv, invocation)) {
        return *exitStatus;
    }
    clusterctl::SetUpDiagnostics(invocation.verbose);
    try {
        const CZuError error = Run(invocation);
        if (!error.IsError()) return 0;
        clusterctl::ReportError(error, invocation.verbose);
        return kExitFailure;
    } catch (const clusterctl::UsageError& error) {
        std::fprintf(stderr, "clusterctl: %s\n",
                     clusterctl::EscapeForTerminal(error.what()).c_str());
        return kExitUsage;
    }
}
