// What the tests of the walking layer share: retries that cost milliseconds, simulated clusters
// holding one big directory or a generated tree, counts read off the simulator's journal, and
// the entries of a whole tree as a plain one-connection walk reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ResilientSession.h"
#include "ClusterWalk/RetryPolicy.h"

namespace walk_test {

// Short waits, so faults cost milliseconds; no process-wide budget, so many faults never make
// one final (tests of that budget set their own).
inline clusterwalk::RetryOptions QuickRetries() {
    clusterwalk::RetryOptions options;
    options.firstDelaySeconds = 0.01;
    options.maxDelaySeconds = 0.05;
    options.maxAttempts = 8;
    options.requestBudgetSeconds = 10;
    options.budgetCapacity = 0;
    return options;
}

// Plain HTTP, no demo data: a directory "/big" of `files` files, `pageSize` to a page.
inline clustersim::Options BigDirectory(uint64_t files, unsigned pageSize) {
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    options.seedFiles = files;
    options.defaultPageSize = pageSize;
    return options;
}

// Plain HTTP, no demo data: the generated tree under /synthetic, `pageSize` to a page.
inline clustersim::Options SyntheticTree(uint64_t files, uint64_t dirs, unsigned depth,
                                         unsigned pageSize) {
    clustersim::Options options;
    options.tls = false;
    options.seedDemo = false;
    options.synthetic.files = files;
    options.synthetic.dirs = dirs;
    options.synthetic.depth = depth;
    options.synthetic.seed = 7;
    options.defaultPageSize = pageSize;
    return options;
}

// Entries by path and id, with how often each was seen: a walk that doubles one shows a 2.
using EntryCounts = std::map<std::pair<std::string, uint64_t>, unsigned>;

// Counts what a sink is handed. Thread-safe, so it does not lean on how the walker calls it.
class EntryCollector {
  public:
    void Add(const std::list<Cluster::CDirectoryEntry>& entries) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const Cluster::CDirectoryEntry& entry : entries) {
            ++m_counts[{entry.path, entry.id}];
            if (!entry.isDirectory) m_bytes += entry.size;
        }
    }
    EntryCounts Counts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_counts;
    }
    uint64_t Bytes() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_bytes;
    }

  private:
    mutable std::mutex m_mutex;
    EntryCounts m_counts;
    uint64_t m_bytes = 0;
};

// Every entry below `root`, one directory after another over one session, as the reference a
// parallel walk must match. Directories come back `directories` in number, `root` included.
inline EntryCounts SequentialTree(clusterwalk::CResilientSession& session, const std::string& root,
                                  EntryCollector& collector, uint64_t& directories) {
    std::vector<std::string> pending{root};
    directories = 0;
    while (!pending.empty()) {
        const std::string path = pending.back();
        pending.pop_back();
        ++directories;
        auto pager = clusterwalk::DirectoryPager(session, path, 0);
        while (pager.NextPage()) {
            collector.Add(pager.Records());
            for (const Cluster::CDirectoryEntry& entry : pager.Records())
                if (entry.isDirectory) pending.push_back(entry.path);
        }
        if (pager.Error().IsError()) return {};
    }
    return collector.Counts();
}

// A page as a reading of it ended: its entries one line each with every field, the next
// link, and the error code (0 when it was read).
struct PageReading {
    std::string entries;
    std::string nextLink;
    unsigned code = 0;
    bool operator==(const PageReading& other) const {
        return entries == other.entries && nextLink == other.nextLink && code == other.code;
    }
};

// How a failed expectation shows a page.
inline void PrintTo(const PageReading& page, std::ostream* out) {
    *out << "code " << page.code << ", next [" << page.nextLink << "], entries:\n" << page.entries;
}

inline std::string Describe(const std::list<Cluster::CDirectoryEntry>& entries) {
    std::string text;
    for (const Cluster::CDirectoryEntry& entry : entries) {
        text += entry.path + (entry.isDirectory ? " dir" : " file");
        for (const uint64_t field : {entry.id, entry.mode, entry.owner, entry.group, entry.size,
                                     static_cast<uint64_t>(entry.changeTime),
                                     static_cast<uint64_t>(entry.modificationTime),
                                     static_cast<uint64_t>(entry.creationTime)})
            text += " " + std::to_string(field);
        text += "\n";
    }
    return text;
}

inline PageReading Reading(const CZuError& error,
                           const std::list<Cluster::CDirectoryEntry>& entries,
                           const std::string& nextLink) {
    return {Describe(entries), nextLink, error.IsError() ? error.GetCode() : 0u};
}

// The page at `pageLink` as the client library's one-page call reads it through the session.
// `nextLink` starts as "unchanged", so a failure shows whether the call kept it.
inline PageReading LibraryPage(clusterwalk::CResilientSession& session, const std::string& path,
                               int snapshotId, const std::string& pageLink) {
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink = "unchanged";
    Cluster::CFileSystemQueries files = session.Files();
    const CZuError error = session.Run(clusterwalk::RequestKind::Get, [&] {
        return files.GetDirectoryEntries(path, entries, nextLink, snapshotId, pageLink);
    });
    return Reading(error, entries, nextLink);
}

// Every page of a directory as LibraryPage reads them, up to the first failure.
inline std::vector<PageReading> LibraryPages(clusterwalk::CResilientSession& session,
                                             const std::string& path, int snapshotId) {
    std::vector<PageReading> pages;
    std::string pageLink;
    do {
        pages.push_back(LibraryPage(session, path, snapshotId, pageLink));
        pageLink = pages.back().code == 0 ? pages.back().nextLink : std::string();
    } while (!pageLink.empty());
    return pages;
}

// Entries seen more than once, as "path xN" lines; empty when none was.
inline std::string Doubled(const EntryCounts& counts) {
    std::string doubled;
    for (const auto& [key, times] : counts)
        if (times != 1) doubled += key.first + " x" + std::to_string(times) + "\n";
    return doubled;
}

// Requests of `method` whose target starts with `prefix`.
inline size_t JournalCount(const clustersim::Simulator& sim, const std::string& method,
                           const std::string& prefix) {
    size_t requests = 0;
    for (const auto& entry : sim.Journal())
        requests += entry.method == method && entry.target.rfind(prefix, 0) == 0;
    return requests;
}

inline size_t Logins(const clustersim::Simulator& sim) {
    return JournalCount(sim, "POST", "/v1/session/login");
}

}  // namespace walk_test
