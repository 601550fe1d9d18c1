#include "SimState.h"

#include <openssl/rand.h>

#include <algorithm>
#include <iterator>

#include "Render.h"
#include "TreeDiff.h"

namespace clustersim {
namespace {

// Tokens that expired this long ago are forgotten (then reported as unknown), so that a long
// run of logins keeps a bounded set.
constexpr std::chrono::hours kExpiredKept{1};
constexpr size_t kFirstLook = 1024;
const char* const kSyntheticRoot = "synthetic";

std::string RandomToken() {
    constexpr size_t kBytes = 32;
    unsigned char random[kBytes];
    if (RAND_bytes(random, sizeof(random)) != 1) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string token = "1:";
    for (const unsigned char byte : random) {
        token += kHex[byte >> 4];
        token += kHex[byte & 0xF];
    }
    return token;
}

// The same on every run: nothing of it depends on the clock or on what the store holds.
SnapshotPtr SyntheticSnapshot(const SyntheticEntry& root, SyntheticVersion version) {
    const bool base = version == SyntheticVersion::Base;
    Snapshot snapshot;
    snapshot.id = base ? Synthetic::kBaseSnapshotId : Synthetic::kTargetSnapshotId;
    snapshot.name = base ? "synthetic-base" : "synthetic-target";
    snapshot.timestamp = base ? SyntheticChanges::kBaseTime : SyntheticChanges::kTargetTime;
    snapshot.sourceId = root.attrs.id;
    snapshot.sourceNames = {kSyntheticRoot};
    snapshot.root = MakeNode(root.attrs, {});
    snapshot.synthetic = version;
    return std::make_shared<const Snapshot>(std::move(snapshot));
}

}  // namespace

bool Snapshot::Contains(const Names& names) const {
    return names.size() >= sourceNames.size() &&
           std::equal(sourceNames.begin(), sourceNames.end(), names.begin());
}

NodePtr Snapshot::Resolve(const Names& names) const {
    return Contains(names) ? Lookup(root, names, sourceNames.size()) : nullptr;
}

SnapshotPtr SnapshotStore::Add(Snapshot snapshot) {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_nextId == Synthetic::kBaseSnapshotId || m_nextId == Synthetic::kTargetSnapshotId) {
        ++m_nextId;
    }
    snapshot.id = m_nextId++;
    auto added = std::make_shared<const Snapshot>(std::move(snapshot));
    m_snapshots.emplace(added->id, added);
    return added;
}

std::vector<SnapshotPtr> SnapshotStore::List() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<SnapshotPtr> all;
    for (const auto& entry : m_snapshots) all.push_back(entry.second);
    return all;
}

SnapshotPtr SnapshotStore::Find(uint64_t id) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_snapshots.find(id);
    return it == m_snapshots.end() ? nullptr : it->second;
}

bool SnapshotStore::Delete(uint64_t id) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_snapshots.erase(id) == 0) return false;
    }
    std::lock_guard<std::mutex> lock(m_changesMutex);
    for (auto it = m_changes.begin(); it != m_changes.end();) {
        const bool involved = it->first.first == id || it->first.second == id;
        it = involved ? m_changes.erase(it) : std::next(it);
    }
    return true;
}

uint64_t SnapshotStore::NextId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextId;
}

void SnapshotStore::Restore(const std::vector<SnapshotPtr>& snapshots, uint64_t nextId) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_snapshots.clear();
        for (const SnapshotPtr& snapshot : snapshots) m_snapshots.emplace(snapshot->id, snapshot);
        m_nextId = nextId;
    }
    std::lock_guard<std::mutex> lock(m_changesMutex);
    m_changes.clear();
}

std::shared_ptr<const RenderedChanges> SnapshotStore::Changes(const Snapshot& newer,
                                                              const Snapshot& older) {
    std::lock_guard<std::mutex> lock(m_changesMutex);
    auto& cached = m_changes[{newer.id, older.id}];
    if (!cached) {
        RenderedChanges rendered;
        for (const Change& change :
             DiffTrees(older.root, newer.root, JoinPath(newer.sourceNames))) {
            rendered.push_back(RenderChange(change));
        }
        cached = std::make_shared<const RenderedChanges>(std::move(rendered));
    }
    return cached;
}

Accounts::Accounts(const std::vector<std::pair<std::string, std::string>>& users,
                   unsigned ttlSeconds)
    : m_ttl(ttlSeconds > 0
                ? std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(ttlSeconds))
                : Clock::duration::max()) {
    for (const auto& [name, password] : users) m_passwords[name] = password;
}

void Accounts::AddUser(const std::string& name, const std::string& password) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_passwords[name] = password;
}

std::optional<std::string> Accounts::Login(const std::string& name, const std::string& password) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_passwords.find(name);
    if (it == m_passwords.end() || it->second != password) return std::nullopt;
    std::string token = RandomToken();
    if (token.empty()) return std::nullopt;
    const Clock::time_point now = Clock::now();
    ForgetLongExpired(now);
    const bool lasts = m_ttl == Clock::duration::max() || now > Clock::time_point::max() - m_ttl;
    m_tokens[token] = lasts ? Clock::time_point::max() : now + m_ttl;
    return token;
}

TokenState Accounts::Check(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_tokens.find(token);
    if (it == m_tokens.end()) return TokenState::Unknown;
    if (Clock::now() < it->second) return TokenState::Valid;
    ++m_expiredRefusals;
    return TokenState::Expired;
}

uint64_t Accounts::ExpiredRefusals() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_expiredRefusals;
}

void Accounts::RevokeTokens() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens.clear();
}

// Looks only when the set has doubled since the last look, so that logins stay cheap.
void Accounts::ForgetLongExpired(Clock::time_point now) {
    if (m_ttl == Clock::duration::max() || m_tokens.size() < m_nextLook) return;
    const Clock::time_point before = now - kExpiredKept;
    for (auto it = m_tokens.begin(); it != m_tokens.end();) {
        it = it->second < before ? m_tokens.erase(it) : std::next(it);
    }
    m_nextLook = std::max<size_t>(kFirstLook, 2 * m_tokens.size());
}

uint64_t ShareRegistry::AddSmb(SmbShare share) {
    std::lock_guard<std::mutex> lock(m_mutex);
    share.id = m_nextSmbId++;
    m_smb.push_back(std::move(share));
    return m_smb.back().id;
}

uint64_t ShareRegistry::AddNfs(NfsExport nfsExport) {
    std::lock_guard<std::mutex> lock(m_mutex);
    nfsExport.id = m_nextNfsId++;
    m_nfs.push_back(std::move(nfsExport));
    return m_nfs.back().id;
}

std::vector<SmbShare> ShareRegistry::SmbShares() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_smb;
}

std::vector<NfsExport> ShareRegistry::NfsExports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nfs;
}

uint64_t ShareRegistry::NextSmbId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextSmbId;
}

uint64_t ShareRegistry::NextNfsId() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nextNfsId;
}

void ShareRegistry::Restore(std::vector<SmbShare> smb, std::vector<NfsExport> nfs,
                            uint64_t nextSmbId, uint64_t nextNfsId) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_smb = std::move(smb);
    m_nfs = std::move(nfs);
    m_nextSmbId = nextSmbId;
    m_nextNfsId = nextNfsId;
}

SimState::SimState(const Options& options)
    : accounts(options.users, options.tokenTtlSeconds),
      synthetic(options.synthetic, options.seed),
      syntheticChanges(synthetic, options.synthetic),
      defaultPageSize(std::max(1u, options.defaultPageSize)) {
    if (!synthetic.Enabled()) return;
    const SyntheticEntry root = *synthetic.Find({kSyntheticRoot});
    for (const SyntheticVersion version : {SyntheticVersion::Base, SyntheticVersion::Target}) {
        syntheticSnapshots.push_back(SyntheticSnapshot(root, version));
    }
}

SnapshotPtr SimState::TakeSnapshot(const std::string& name, const std::string& sourcePath,
                                   const std::string& expiration) {
    const auto names = ParsePath(sourcePath);
    NodePtr source;
    if (names && synthetic.Covers(*names)) {
        const auto entry = synthetic.Find(*names);
        if (entry) source = MakeNode(entry->attrs, {});
    } else if (names) {
        source = Lookup(tree.Root(), *names);
    }
    if (!source || !source->IsDirectory()) return nullptr;
    Snapshot snapshot;
    snapshot.name = name;
    snapshot.timestamp = clock.Tick();
    snapshot.expiration = expiration;
    snapshot.sourceId = source->attrs.id;
    snapshot.sourceNames = *names;
    snapshot.root = source;
    return snapshots.Add(std::move(snapshot));
}

SnapshotPtr SimState::FindSnapshot(uint64_t id) const {
    for (const SnapshotPtr& snapshot : syntheticSnapshots) {
        if (snapshot->id == id) return snapshot;
    }
    return snapshots.Find(id);
}

std::vector<SnapshotPtr> SimState::Snapshots() const {
    std::vector<SnapshotPtr> all = snapshots.List();
    all.insert(all.end(), syntheticSnapshots.begin(), syntheticSnapshots.end());
    return all;
}

bool SimState::IsSyntheticSnapshot(uint64_t id) const {
    return std::any_of(syntheticSnapshots.begin(), syntheticSnapshots.end(),
                       [id](const SnapshotPtr& snapshot) { return snapshot->id == id; });
}

SyntheticView SimState::SyntheticAs(SyntheticVersion version) const {
    return SyntheticView(synthetic,
                         version == SyntheticVersion::Target ? &syntheticChanges : nullptr);
}

StateImage SimState::Image() const {
    StateImage image;
    image.snapshots = snapshots.List();
    image.nextSnapshotId = snapshots.NextId();
    image.root = tree.Root();
    image.nextFileId = tree.NextId();
    image.smbShares = shares.SmbShares();
    image.nfsExports = shares.NfsExports();
    image.nextSmbId = shares.NextSmbId();
    image.nextNfsId = shares.NextNfsId();
    image.clock = clock.Last();
    return image;
}

void SimState::Restore(StateImage image) {
    clock.Restore(image.clock);
    tree.Restore(std::move(image.root), image.nextFileId);
    snapshots.Restore(image.snapshots, image.nextSnapshotId);
    shares.Restore(std::move(image.smbShares), std::move(image.nfsExports), image.nextSmbId,
                   image.nextNfsId);
}

}  // namespace clustersim
