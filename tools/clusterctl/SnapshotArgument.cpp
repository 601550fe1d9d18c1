#include "SnapshotArgument.h"

#include <algorithm>
#include <cstdlib>
#include <list>

#include "ExitStatus.h"
#include "Failure.h"
#include "Prompts.h"
#include "TerminalText.h"

namespace clusterctl {
namespace {

// Enough candidates to spot a typo without flooding the terminal.
constexpr size_t kCandidatesShown = 10;

bool IsId(const std::string& argument) {
    return !argument.empty() && argument.find_first_not_of("0123456789") == std::string::npos;
}

std::string Listed(const std::list<Cluster::CSnapshotInfo>& snapshots) {
    std::string text;
    size_t shown = 0;
    for (const Cluster::CSnapshotInfo& snapshot : snapshots) {
        if (shown++ == kCandidatesShown) return text + ", …";
        text += (text.empty() ? "" : ", ") + EscapeForTerminal(snapshot.name) + " (" +
                std::to_string(snapshot.id) + ")";
    }
    return text.empty() ? "there are none" : text;
}

uint64_t IdOfName(const std::string& name, const std::list<Cluster::CSnapshotInfo>& snapshots) {
    std::list<Cluster::CSnapshotInfo> matches;
    std::copy_if(snapshots.begin(), snapshots.end(), std::back_inserter(matches),
                 [&name](const Cluster::CSnapshotInfo& snapshot) { return snapshot.name == name; });
    if (matches.empty()) {
        throw Failure(kExitNotFound, "no snapshot named " + EscapeForTerminal(name) +
                                         "; snapshots: " + Listed(snapshots));
    }
    if (matches.size() > 1) {
        throw Failure(kExitFailure, std::to_string(matches.size()) + " snapshots are named " +
                                        EscapeForTerminal(name) + ": " + Listed(matches) +
                                        "; give the id");
    }
    return matches.front().id;
}

}  // namespace

CZuError ResolveSnapshots(Session& session, const std::vector<std::string>& arguments,
                          std::vector<uint64_t>& ids) {
    std::list<Cluster::CSnapshotInfo> snapshots;
    if (!std::all_of(arguments.begin(), arguments.end(), IsId)) {
        Cluster::CSnapshotQueries queries = session.Snapshots();
        CZuError error = session.Run(clusterwalk::RequestKind::Get, [&] {
            snapshots.clear();  // the library appends: a repeated read starts over
            return queries.ListSnapshots(snapshots);
        });
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    }
    ids.clear();
    for (const std::string& argument : arguments) {
        ids.push_back(IsId(argument) ? std::strtoull(argument.c_str(), nullptr, 10)
                                     : IdOfName(argument, snapshots));
    }
    return CZuError::Success();
}

void ConfirmDeletion(uint64_t id, const std::string& argument) {
    const std::string snapshot =
        IsId(argument) ? std::to_string(id)
                       : std::to_string(id) + " (" + EscapeForTerminal(argument) + ")";
    if (!Confirm("Delete snapshot " + snapshot + "?")) {
        throw Failure(kExitFailure, "snapshot " + snapshot + " not deleted");
    }
}

}  // namespace clusterctl
