// What the change feed's tests share: a small tree with two snapshots of it and known changes
// between them, a thread-safe collector of the records a feed delivers, and the two readings
// a feed is held against: the raw difference and a walk of the newer snapshot.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ChangeFeed.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/TreeWalker.h"
#include "tests/support/WalkLayerSupport.h"

namespace feed_test {

// A change by path and operation, with how often it was delivered (or listed).
using ChangeCounts = std::map<std::pair<std::string, int>, unsigned>;

struct SnapshotPair {
    uint64_t older = 0;
    uint64_t newer = 0;
};

inline std::string FileName(const std::string& directory, unsigned index) {
    return directory + "/f" + std::to_string(1000 + index);
}

// Below `root`: "keep" never changes; in "busy", of `busy` files, the first half changes
// content, the next quarter is removed and `busy` / 4 new files appear; "gone" goes with its
// files; "new" comes with two files, "odd name %41" with one; "top" at the root changes
// content. After the newer snapshot the first file of "busy" changes again, so the live tree
// differs from it.
inline SnapshotPair MakeChangedTree(clustersim::Simulator& sim, const std::string& root,
                                    unsigned busy) {
    for (unsigned i = 0; i < 5; ++i) sim.WriteFile(FileName(root + "/keep", i), 100 + i);
    for (unsigned i = 0; i < busy; ++i) sim.WriteFile(FileName(root + "/busy", i), 10 + i);
    for (unsigned i = 0; i < 3; ++i) sim.WriteFile(FileName(root + "/gone", i), 7);
    sim.WriteFile(root + "/top", 1);
    SnapshotPair pair;
    pair.older = sim.TakeSnapshot("feed-older", root);
    for (unsigned i = 0; i < busy / 2; ++i) sim.WriteFile(FileName(root + "/busy", i), 5000 + i);
    for (unsigned i = busy / 2; i < busy * 3 / 4; ++i) sim.Remove(FileName(root + "/busy", i));
    for (unsigned i = busy; i < busy + busy / 4; ++i) sim.WriteFile(FileName(root + "/busy", i), 3);
    sim.Remove(root + "/gone");
    sim.WriteFile(root + "/new/a", 11);
    sim.WriteFile(root + "/new/b", 12);
    // Bytes a checkpoint line or a request path must escape.
    sim.WriteFile(root + "/odd name %41/x y", 13);
    sim.WriteFile(root + "/top", 2);
    pair.newer = sim.TakeSnapshot("feed-newer", root);
    sim.WriteFile(FileName(root + "/busy", 0), 999999);
    return pair;
}

// Collects what a sink is handed; thread-safe, and notes two sink calls at once.
class ChangeCollector {
  public:
    void Add(const std::vector<clusterwalk::ChangeRecord>& records) {
        if (++m_inSink > 1) m_overlapped = true;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_calls;
            for (const clusterwalk::ChangeRecord& record : records) {
                ++m_counts[{record.path, record.operation}];
                m_records[record.path] = record;
            }
        }
        --m_inSink;
    }
    clusterwalk::ChangeSink Sink() {
        return [this](std::vector<clusterwalk::ChangeRecord>& records) { Add(records); };
    }
    ChangeCounts Counts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts;
    }
    // The last record delivered for each path.
    std::map<std::string, clusterwalk::ChangeRecord> Records() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    uint64_t Calls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    bool Overlapped() const { return m_overlapped; }

  private:
    mutable std::mutex m_mutex;
    ChangeCounts m_counts;
    std::map<std::string, clusterwalk::ChangeRecord> m_records;
    uint64_t m_calls = 0;
    std::atomic<int> m_inSink{0};
    std::atomic<bool> m_overlapped{false};
};

// Changes delivered other than once, as "path op xN" lines; empty when none was.
inline std::string NotOnce(const ChangeCounts& counts) {
    std::string text;
    for (const auto& [key, times] : counts)
        if (times != 1)
            text +=
                key.first + " " + std::to_string(key.second) + " x" + std::to_string(times) + "\n";
    return text;
}

// The difference as the plain pager reads it, one request per page.
inline ChangeCounts RawDifference(const std::string& url, uint64_t older, uint64_t newer) {
    clusterwalk::CResilientSession session(nullptr, url, "admin", "admin");
    ChangeCounts counts;
    if (session.Connect().IsError()) return counts;
    auto pager = clusterwalk::SnapshotDiffPager(session, older, newer);
    while (pager.NextPage())
        for (const Cluster::CSnapshotDiffInfo& change : pager.Records())
            ++counts[{change.path, change.operation}];
    if (pager.Error().IsError()) counts.clear();
    return counts;
}

// Every entry below `root` as of the snapshot, by path without a directory's trailing "/",
// as the tree walker reads it.
inline std::map<std::string, Cluster::CDirectoryEntry> SnapshotEntries(const std::string& url,
                                                                       const std::string& root,
                                                                       uint64_t snapshot) {
    clusterwalk::CTreeWalker walker(nullptr, url, "admin", "admin", 2);
    std::map<std::string, Cluster::CDirectoryEntry> entries;
    const clusterwalk::WalkSummary summary =
        walker.Walk({clusterwalk::RootUnit(root, static_cast<int>(snapshot))},
                    [&](std::list<Cluster::CDirectoryEntry>& page) {
                        for (Cluster::CDirectoryEntry& entry : page) {
                            std::string key = entry.path;
                            if (key.size() > 1 && key.back() == '/') key.pop_back();
                            entries[key] = entry;
                        }
                    });
    if (!summary.Complete()) entries.clear();
    return entries;
}

// The id of the snapshot of that name; 0 when there is none.
inline uint64_t SnapshotId(const std::string& url, const std::string& name) {
    clusterwalk::CResilientSession session(nullptr, url, "admin", "admin");
    std::list<Cluster::CSnapshotInfo> snapshots;
    if (session.Connect().IsError()) return 0;
    Cluster::CSnapshotQueries queries = session.Snapshots();
    if (session.Run(clusterwalk::RequestKind::Get, [&] { return queries.ListSnapshots(snapshots); })
            .IsError())
        return 0;
    for (const Cluster::CSnapshotInfo& snapshot : snapshots)
        if (snapshot.name == name) return snapshot.id;
    return 0;
}

// Adds `more` to `counts`: what two runs delivered together.
inline void AddCounts(ChangeCounts& counts, const ChangeCounts& more) {
    for (const auto& [key, times] : more) counts[key] += times;
}

}  // namespace feed_test
