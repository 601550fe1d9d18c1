// Everything the simulated cluster knows besides the file tree itself: snapshots, accounts,
// shares and exports. Each registry locks on its own; request threads share them.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ClusterSim.h"
#include "FileTree.h"
#include "SimClock.h"
#include "Synthetic.h"
#include "SyntheticChanges.h"
#include "SyntheticView.h"

namespace clustersim {

struct Snapshot {
    uint64_t id = 0;
    std::string name;
    int64_t timestamp = 0;
    std::string expiration;
    uint64_t sourceId = 0;
    Names sourceNames;
    NodePtr root;  // the source directory as it was when taken
    // The version of /synthetic it sees: only "synthetic-target" sees the changed one.
    SyntheticVersion synthetic = SyntheticVersion::Base;

    // Whether the live path `names` is the source or below it.
    bool Contains(const Names& names) const;
    // The frozen node at the live path `names`; null outside the source or when absent.
    NodePtr Resolve(const Names& names) const;
};
using SnapshotPtr = std::shared_ptr<const Snapshot>;

// Rendered change objects between two snapshots, in the order they are served.
using RenderedChanges = std::vector<std::string>;

class SnapshotStore {
  public:
    // Assigns the id, never one of the synthetic snapshots' ids.
    SnapshotPtr Add(Snapshot snapshot);
    std::vector<SnapshotPtr> List() const;
    SnapshotPtr Find(uint64_t id) const;
    bool Delete(uint64_t id);
    uint64_t NextId() const;
    // Replaces every snapshot, e.g. with saved ones that keep their ids.
    void Restore(const std::vector<SnapshotPtr>& snapshots, uint64_t nextId);
    // Worked out on first use and kept: both sides are frozen, so the answer cannot change.
    std::shared_ptr<const RenderedChanges> Changes(const Snapshot& newer, const Snapshot& older);

  private:
    mutable std::mutex m_mutex;
    std::map<uint64_t, SnapshotPtr> m_snapshots;
    uint64_t m_nextId = 1;
    std::mutex m_changesMutex;  // held while a diff is worked out, so each is done once
    std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<const RenderedChanges>> m_changes;
};

enum class TokenState { Valid, Expired, Unknown };

class Accounts {
  public:
    // ttlSeconds > 0: a token expires that long after the login that issued it.
    Accounts(const std::vector<std::pair<std::string, std::string>>& users, unsigned ttlSeconds);
    void AddUser(const std::string& name, const std::string& password);
    std::optional<std::string> Login(const std::string& name, const std::string& password);
    // An Expired answer is counted: each one is a 401 for an expired token.
    TokenState Check(const std::string& token);
    uint64_t ExpiredRefusals() const;
    void RevokeTokens();

  private:
    using Clock = std::chrono::steady_clock;

    void ForgetLongExpired(Clock::time_point now);

    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_passwords;
    std::map<std::string, Clock::time_point> m_tokens;  // each with its expiry
    Clock::duration m_ttl;
    uint64_t m_expiredRefusals = 0;
    size_t m_nextLook = 0;  // the set's size at which ForgetLongExpired looks again
};

struct SmbShare {
    uint64_t id = 0;
    std::string name;
    std::string fsPath;
    std::string description;
};

struct NfsExport {
    uint64_t id = 0;
    std::string exportPath;
    std::string fsPath;
    std::string description;
};

class ShareRegistry {
  public:
    uint64_t AddSmb(SmbShare share);
    uint64_t AddNfs(NfsExport nfsExport);
    std::vector<SmbShare> SmbShares() const;
    std::vector<NfsExport> NfsExports() const;
    uint64_t NextSmbId() const;
    uint64_t NextNfsId() const;
    // Replaces every share and export, e.g. with saved ones that keep their ids.
    void Restore(std::vector<SmbShare> smb, std::vector<NfsExport> nfs, uint64_t nextSmbId,
                 uint64_t nextNfsId);

  private:
    mutable std::mutex m_mutex;
    std::vector<SmbShare> m_smb;
    std::vector<NfsExport> m_nfs;
    uint64_t m_nextSmbId = 1;
    uint64_t m_nextNfsId = 1;
};

// What a state folder keeps. The defaults are a cluster that has just started, empty.
struct StateImage {
    int64_t clock = 0;  // the last time handed out
    NodePtr root;       // null: an empty tree
    uint64_t nextFileId = 2;
    std::vector<SnapshotPtr> snapshots;
    uint64_t nextSnapshotId = 1;
    std::vector<SmbShare> smbShares;
    std::vector<NfsExport> nfsExports;
    uint64_t nextSmbId = 1;
    uint64_t nextNfsId = 1;
};

struct SimState {
    explicit SimState(const Options& options);

    // Freezes the live directory at `sourcePath`; null when it is not a directory. A synthetic
    // directory never changes, so its snapshot keeps only the directory's own attributes.
    SnapshotPtr TakeSnapshot(const std::string& name, const std::string& sourcePath,
                             const std::string& expiration);

    // The snapshots of the store and, with a synthetic tree, "synthetic-base" and
    // "synthetic-target", which come from the options and are never saved or deleted.
    SnapshotPtr FindSnapshot(uint64_t id) const;
    std::vector<SnapshotPtr> Snapshots() const;
    bool IsSyntheticSnapshot(uint64_t id) const;
    SyntheticView SyntheticAs(SyntheticVersion version) const;

    // Every counter is read after what it counts, so a saved counter is above every saved id
    // even while requests change things meanwhile.
    StateImage Image() const;
    // Everything but accounts and tokens becomes the image's.
    void Restore(StateImage image);

    SimClock clock;
    FileTree tree{clock};
    SnapshotStore snapshots;
    Accounts accounts;
    ShareRegistry shares;
    Synthetic synthetic;
    SyntheticChanges syntheticChanges;
    std::vector<SnapshotPtr> syntheticSnapshots;  // by id
    unsigned defaultPageSize;
};

}  // namespace clustersim
