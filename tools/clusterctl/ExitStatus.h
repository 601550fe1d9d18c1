// clusterctl's exit statuses. Scripts branch on them, so each stays what it is once released.
#pragma once

namespace clusterctl {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailure = 1,        // any failure not named below
    kExitUsage = 2,          // the command line is wrong; nothing was sent
    kExitNoCluster = 3,      // no URL configured and no --simulated
    kExitAuthRejected = 4,   // the cluster refused the credentials
    kExitNotFound = 5,       // the path, snapshot, share or export does not exist
    kExitUnreachable = 6,    // no answer: network, name resolution or TLS
    kExitIncomplete = 7,     // some of a walk failed; what could be read was written
    kExitInterrupted = 130,  // SIGINT (128 + 2)
    kExitTerminated = 143,   // SIGTERM (128 + 15)
};

}  // namespace clusterctl
