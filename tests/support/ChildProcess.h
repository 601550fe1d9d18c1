// Runs a program as a child process the way a script or a person would: its own arguments, an
// environment without our CLUSTER_* settings plus the test's own, stdout and stderr captured
// (or all three on one pseudo-terminal), exit status checked. Servers of the test keep running
// threads meanwhile, so all the child needs is built before fork: it must not allocate.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace child {

using Strings = std::vector<std::string>;

struct Outcome {
    int status = -1;  // -1: killed or ended by a signal
    int signal = 0;   // the signal that ended it, if one did
    bool timedOut = false;
    std::string out;  // on a terminal: everything the terminal showed
    std::string err;
};

struct Options {
    // Guards against a hung child; not a timing check. A child that outlives it is killed.
    std::chrono::seconds runLimit{30};
    // The child's stack limit (RLIMIT_STACK) in bytes; 0 keeps ours.
    size_t stackBytes = 0;
    // Called in the parent with the child's pid as soon as it runs.
    std::function<void(pid_t)> onStart;
    // Run only: stdout goes to this file (such as /dev/full), opened for writing, instead of
    // being captured.
    std::string stdoutFile;
};

// stdin from /dev/null, stdout and stderr captured apart.
Outcome Run(const std::string& program, const Strings& args, const Strings& environment,
            const Options& options = {});

// stdin, stdout and stderr on one pseudo-terminal; `typed` is typed once `prompt` shows.
Outcome RunOnTerminal(const std::string& program, const Strings& args, const Strings& environment,
                      const std::string& prompt = "", const std::string& typed = "",
                      const Options& options = {});

// The size of the file at `path`; 0 when there is none.
uint64_t FileSize(const std::string& path);

// Runs `run` with `options` whose onStart also watches `file` and sends the child `signal` once
// the file holds `bytes`: a run cut short part way through its output.
Outcome SignalWhenFileHolds(const std::string& file, uint64_t bytes, int signal, Options options,
                            const std::function<Outcome(const Options&)>& run);

}  // namespace child
