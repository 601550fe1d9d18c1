// Walks over loopback against a running simulated cluster, timed end to end:
//   walk_bench URL CA_FILE MODE ARGUMENT
// MODE library-dir: every page of a directory through CFileSystemQueries;
//      layer-dir:   the same pages through a job's resilient session (retry policy, rate
//                   limit, cancellation), to price the layer against library-dir;
//      prefetch-dir: the same pages through a CDirectoryPageReader on such a session, which
//                   fetches each next page while the current one is parsed;
//      floor-dir:   the same pages with one reused libcurl handle, no parsing;
//      library-diff / floor-diff: the snapshot difference "diff-base" to "diff-target";
//      library-share / floor-share: COUNT requests for the first SMB share;
//      cancel:      logs in through a job's session against a cluster that holds requests,
//                   cancels the job from another thread after MILLISECONDS and times how long
//                   the blocked call takes to return.
// Prints "<seconds> <entries> <cpu seconds>" on one line: wall and CPU time (user and system,
// every thread of this process) of the walk alone. For cancel: the seconds from Cancel() to the
// call's return, then 1 when the call ended as cancelled, else 0.
#include <curl/curl.h>
#include <sys/resource.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterShares.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/PageReader.h"
#include "ClusterWalk/Pager.h"
#include "ClusterWalk/ResilientSession.h"

namespace {

struct Run {
    double seconds = 0;
    uint64_t entries = 0;
    double cpuSeconds = 0;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// The transfer floor: one handle, kept alive, the body collected and nothing parsed but the
// link to the next page.
class Fetcher {
  public:
    Fetcher(const std::string& base, const std::string& ca, const std::string& token)
        : m_base(base), m_handle(curl_easy_init()) {
        m_authorization = "Authorization: Bearer " + token;
        m_headers = curl_slist_append(nullptr, "Content-Type: application/json");
        m_headers = curl_slist_append(m_headers, m_authorization.c_str());
        curl_easy_setopt(m_handle, CURLOPT_CAINFO, ca.c_str());
        curl_easy_setopt(m_handle, CURLOPT_HTTPHEADER, m_headers);
        curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_body);
        curl_easy_setopt(m_handle, CURLOPT_ACCEPT_ENCODING, "");
    }
    ~Fetcher() {
        curl_slist_free_all(m_headers);
        curl_easy_cleanup(m_handle);
    }
    const std::string& Get(const std::string& path) {
        m_body.clear();
        const std::string url = m_base + path;
        curl_easy_setopt(m_handle, CURLOPT_URL, url.c_str());
        if (curl_easy_perform(m_handle) != CURLE_OK) m_body.clear();
        return m_body;
    }

  private:
    std::string m_base;
    CURL* m_handle;
    std::string m_authorization;
    curl_slist* m_headers = nullptr;
    std::string m_body;
};

std::string NextLinkOf(const std::string& page) {
    const size_t at = page.rfind("\"next\":\"");
    if (at == std::string::npos) return "";
    const size_t begin = at + 8;
    return page.substr(begin, page.find('"', begin) - begin);
}

uint64_t Count(const std::string& page, const char* marker) {
    uint64_t count = 0;
    for (size_t at = page.find(marker); at != std::string::npos; at = page.find(marker, at + 1))
        ++count;
    return count;
}

Run FloorWalk(Fetcher& fetcher, std::string path, const char* marker) {
    Run run;
    do {
        const std::string& page = fetcher.Get(path);
        run.entries += Count(page, marker);
        path = NextLinkOf(page);
    } while (!path.empty());
    return run;
}

// Reads every page with the walker clusterctl uses and counts the records.
template <class Record>
Run CountEveryPage(clusterwalk::Pager<Record>& pager) {
    Run run;
    clusterwalk::PageCount count;
    const CZuError error = clusterwalk::WalkPages(
        pager, [](std::list<Record>&) { return CZuError::Success(); }, count);
    if (error.IsError()) std::fprintf(stderr, "%s\n", error.ToString().c_str());
    run.entries += count.entries;
    return run;
}

template <class Record, class FetchPage>
Run CountEveryPage(FetchPage&& fetchPage) {
    clusterwalk::Pager<Record> pager(std::forward<FetchPage>(fetchPage));
    return CountEveryPage(pager);
}

Run LibraryDirectoryWalk(const boost::shared_ptr<Cluster::CConnection>& connection,
                         const std::string& path) {
    Cluster::CFileSystemQueries files(connection, boost::make_shared<Cluster::CParser>());
    return CountEveryPage<Cluster::CDirectoryEntry>(
        [&](const std::string& pageLink, std::list<Cluster::CDirectoryEntry>& entries,
            std::string& nextLink) {
            return files.GetDirectoryEntries(path, entries, nextLink, 0, pageLink);
        });
}

// Short waits and no process-wide budget, as a long job on a flaky cluster would set them; on
// the fault-free simulator they never come into play, so only the layer's bookkeeping is priced.
clusterwalk::JobOptions LayerOptions() {
    clusterwalk::JobOptions options;
    options.retry.firstDelaySeconds = 0.01;
    options.retry.maxDelaySeconds = 0.1;
    options.retry.budgetCapacity = 0;
    return options;
}

bool FindDiffSnapshots(Cluster::CSnapshotQueries& snapshots, uint64_t& base, uint64_t& target) {
    std::list<Cluster::CSnapshotInfo> list;
    if (snapshots.ListSnapshots(list).IsError()) return false;
    for (const auto& snapshot : list) {
        if (snapshot.name == "diff-base") base = snapshot.id;
        if (snapshot.name == "diff-target") target = snapshot.id;
    }
    return base != 0 && target != 0;
}

Run LibraryDiffWalk(Cluster::CSnapshotQueries& snapshots, uint64_t base, uint64_t target) {
    return CountEveryPage<Cluster::CSnapshotDiffInfo>(
        [&](const std::string& pageLink, std::list<Cluster::CSnapshotDiffInfo>& changes,
            std::string& nextLink) {
            return snapshots.GetSnapshotDiff(base, target, changes, nextLink, pageLink);
        });
}

// Every page through the reader alone, as a walker that takes whole pages would read them.
Run PrefetchDirectoryWalk(clusterwalk::CResilientSession& session, const std::string& path) {
    Run run;
    clusterwalk::CDirectoryPageReader reader(session, path, 0);
    std::list<Cluster::CDirectoryEntry> entries;
    std::string nextLink;
    do {
        const CZuError error = reader.Next(entries, nextLink);
        if (error.IsError()) {
            std::fprintf(stderr, "%s\n", error.ToString().c_str());
            break;
        }
        run.entries += entries.size();
    } while (!nextLink.empty());
    return run;
}

template <class Work>
Run Timed(Work work) {
    const double cpuStarted = CpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    Run run = work();
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.cpuSeconds = CpuSeconds() - cpuStarted;
    return run;
}

// The login is the blocked call: the cluster holds every request, logins included.
Run CancelLatency(const std::string& url, int waitMilliseconds) {
    auto job = std::make_shared<clusterwalk::CJob>(LayerOptions());
    clusterwalk::CResilientSession session(job, url, "admin", "admin");
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMilliseconds));
        cancelled = std::chrono::steady_clock::now();
        job->Cancel();
    });
    const CZuError error = session.Connect();
    const auto returned = std::chrono::steady_clock::now();
    canceller.join();
    Run run;
    run.seconds = std::chrono::duration<double>(returned - cancelled).count();
    run.entries = error.GetCode() == clusterwalk::kCancelledError ? 1 : 0;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s URL CA_FILE MODE PATH|COUNT|MILLISECONDS\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const std::string mode = argv[3];
    const std::string argument = argv[4];
    setenv("CURL_CA_BUNDLE", argv[2], 1);
    if (mode == "cancel") {
        const Run run = CancelLatency(url, std::atoi(argument.c_str()));
        std::printf("%.6f %lu 0\n", run.seconds, run.entries);
        return 0;
    }
    auto connection = boost::make_shared<Cluster::CConnection>();
    const CZuError login = connection->Connect(url, "admin", "admin");
    if (login.IsError()) {
        std::fprintf(stderr, "%s\n", login.ToString().c_str());
        return 1;
    }
    std::string token;
    connection->GetAuthorizationToken(token);
    Fetcher fetcher(url, argv[2], token);
    Cluster::CSnapshotQueries snapshots(connection, boost::make_shared<Cluster::CParser>());
    Cluster::CShares shares(connection, boost::make_shared<Cluster::CParser>());
    uint64_t base = 0;
    uint64_t target = 0;
    const bool diff = mode.find("diff") != std::string::npos;
    if (diff && !FindDiffSnapshots(snapshots, base, target)) return 1;
    const std::string diffPath =
        "/v2/snapshots/" + std::to_string(target) + "/changes-since/" + std::to_string(base);
    const int requests = std::atoi(argument.c_str());

    Run run;
    if (mode == "library-dir") {
        run = Timed([&] { return LibraryDirectoryWalk(connection, argument); });
    } else if (mode == "layer-dir" || mode == "prefetch-dir") {
        auto job = std::make_shared<clusterwalk::CJob>(LayerOptions());
        clusterwalk::CResilientSession session(job, url, "admin", "admin");
        const CZuError layerLogin = session.Connect();
        if (layerLogin.IsError()) {
            std::fprintf(stderr, "%s\n", layerLogin.ToString().c_str());
            return 1;
        }
        run = Timed([&] {
            if (mode == "prefetch-dir") return PrefetchDirectoryWalk(session, argument);
            auto pager = clusterwalk::DirectoryPager(session, argument, 0);
            return CountEveryPage(pager);
        });
    } else if (mode == "floor-dir") {
        char encoded[4096];
        char* escaped =
            curl_easy_escape(nullptr, argument.c_str(), static_cast<int>(argument.size()));
        std::snprintf(encoded, sizeof encoded, "/v1/files/%s/entries/", escaped);
        curl_free(escaped);
        run = Timed([&] { return FloorWalk(fetcher, encoded, "\"path\":"); });
    } else if (mode == "library-diff") {
        run = Timed([&] { return LibraryDiffWalk(snapshots, base, target); });
    } else if (mode == "floor-diff") {
        run = Timed([&] { return FloorWalk(fetcher, diffPath, "\"op\":"); });
    } else if (mode == "library-share") {
        run = Timed([&] {
            Run shareRun;
            for (int i = 0; i < requests; ++i) {
                Cluster::CSMBShareEntry share;
                if (!shares.GetSMBShare(1, share).IsError()) ++shareRun.entries;
            }
            return shareRun;
        });
    } else if (mode == "floor-share") {
        run = Timed([&] {
            Run shareRun;
            for (int i = 0; i < requests; ++i)
                shareRun.entries += !fetcher.Get("/v1/smb/shares/1").empty();
            return shareRun;
        });
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    std::printf("%.6f %lu %.6f\n", run.seconds, run.entries, run.cpuSeconds);
    return 0;
}
