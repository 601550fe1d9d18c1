// clusterctl: the storage cluster's REST API from the command line.
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "CommandLine.h"
#include "Diagnostics.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "Signals.h"
#include "UsageError.h"

namespace {

using namespace clusterctl;

// The process holds a password and a bearer token: a core file or a debugger attached by
// another process of the same user must not carry them off.
void ForbidCoreDumps() {
    const struct rlimit none {};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Output that cannot be written is a failure, except that a reader who closed the pipe
// (`| head`) ends the run as it ends any tool: quietly, by SIGPIPE.
int OutputFailed(const OutputError& error) {
    if (error.ErrorNumber() == EPIPE) {
        std::signal(SIGPIPE, SIG_DFL);
        std::raise(SIGPIPE);
    }
    ReportLine(std::string("cannot write output: ") + std::strerror(error.ErrorNumber()));
    return kExitFailure;
}

int Run(const Invocation& invocation) {
    Session session;
    FailureScene scene{invocation.command, invocation.connection.url, "", true, invocation.verbose};
    CZuError error = session.Open(invocation.connection);
    scene.url = session.Url();
    scene.user = session.User();
    if (error.IsError()) return ReportFailure(error, session.LastOutcome(), scene);
    scene.duringLogin = false;
    {
        // Destroyed before an error is reported, so the line is gone by then.
        ProgressLine progress(stderr, isatty(STDERR_FILENO), isatty(STDOUT_FILENO));
        CommandContext context{session, invocation.output, progress, std::cout};
        error = invocation.run(context);
    }
    FlushOutput(std::cout);
    if (error.IsError()) return ReportFailure(error, session.LastOutcome(), scene);
    return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
    ForbidCoreDumps();
    InstallInterruptHandlers();
    // A closed pipe shows as EPIPE on the write, so it can be told from other write failures.
    std::signal(SIGPIPE, SIG_IGN);
    Invocation invocation;
    if (const auto exitStatus = ParseCommandLine(argc, argv, invocation)) return *exitStatus;
    SetUpDiagnostics(invocation.verbose);
    try {
        return Run(invocation);
    } catch (const UsageError& error) {
        ReportLine(error.what());
        return kExitUsage;
    } catch (const Failure& failure) {
        ReportLine(failure.what());
        return failure.ExitStatus();
    } catch (const OutputError& error) {
        return OutputFailed(error);
    }
}
