// Separate connections used from several threads at once against one simulated cluster: each
// thread logs in as its own user, walks a directory tree page by page (live and as a snapshot
// froze it) and lists the snapshots, several times over, all query objects sharing one parser.
// Every result is compared with the tree the test built. scripts/test also runs this under
// ThreadSanitizer (preset tsan).
#include <algorithm>
#include <future>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/Pager.h"
#include "SimFixture.h"

using namespace Cluster;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 3;
constexpr int kDirectories = 4;
constexpr int kFilesPerDirectory = 5;

using Files = std::map<std::string, uint64_t>;                       // path -> size
using SnapshotList = std::vector<std::pair<uint64_t, std::string>>;  // id, name

std::string WithoutTrailingSlash(std::string path) {
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Every file below `directory`, directory by directory and page by page.
CZuError Walk(CFileSystemQueries& files, const std::string& directory, int snapshotId,
              Files& found) {
    clusterwalk::PageCount count;
    return clusterwalk::WalkPages<CDirectoryEntry>(
        [&](const std::string& pageLink, std::list<CDirectoryEntry>& page, std::string& nextLink) {
            return files.GetDirectoryEntries(directory, page, nextLink, snapshotId, pageLink);
        },
        [&](std::list<CDirectoryEntry>& page) {
            for (const CDirectoryEntry& entry : page) {
                if (!entry.isDirectory) {
                    found[entry.path] = entry.size;
                    continue;
                }
                CZuError error = Walk(files, WithoutTrailingSlash(entry.path), snapshotId, found);
                if (error.IsError()) return error;
            }
            return CZuError::Success();
        },
        count);
}

CZuError ListSnapshots(CSnapshotQueries& snapshots, SnapshotList& listed) {
    std::list<CSnapshotInfo> records;
    CZuError error = snapshots.ListSnapshots(records);
    for (const CSnapshotInfo& record : records) listed.emplace_back(record.id, record.name);
    return error;
}

// What one thread saw.
struct Sight {
    std::string failure;  // the first error, empty when every call succeeded
    std::string token;
    std::vector<Files> liveWalks;
    std::vector<Files> frozenWalks;
    std::vector<SnapshotList> snapshotLists;
};

struct Account {
    std::string user;
    std::string password;
};

// Runs on its own thread with its own connection; starts when `start` is released.
Sight LookAround(const std::string& baseUrl, const Account& account,
                 const boost::shared_ptr<CParser>& parser, int frozenId,
                 std::shared_future<void> start) {
    Sight sight;
    const auto connection = boost::make_shared<CConnection>();
    CFileSystemQueries files(connection, parser);
    CSnapshotQueries snapshots(connection, parser);
    start.wait();
    CZuError error = connection->Connect(baseUrl, account.user, account.password);
    if (!error.IsError()) error = connection->GetAuthorizationToken(sight.token);
    for (int round = 0; round < kRounds && !error.IsError(); ++round) {
        sight.liveWalks.emplace_back();
        sight.frozenWalks.emplace_back();
        sight.snapshotLists.emplace_back();
        error = Walk(files, "/tree", 0, sight.liveWalks.back());
        if (!error.IsError()) error = Walk(files, "/tree", frozenId, sight.frozenWalks.back());
        if (!error.IsError()) error = ListSnapshots(snapshots, sight.snapshotLists.back());
    }
    if (error.IsError()) sight.failure = error.ToString();
    return sight;
}

class ConcurrentConnections : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        for (int d = 0; d < kDirectories; ++d) {
            for (int f = 0; f < kFilesPerDirectory; ++f) {
                const std::string path = "/tree/d" + std::to_string(d) + "/f" + std::to_string(f);
                live[path] = static_cast<uint64_t>(1000 * d + f);
                ASSERT_NE(0u, sim.WriteFile(path, live[path]));
            }
        }
        frozenId = static_cast<int>(sim.TakeSnapshot("frozen", "/tree"));
        ASSERT_NE(0, frozenId);
        frozen = live;
        live["/tree/d0/late"] = 7;
        ASSERT_NE(0u, sim.WriteFile("/tree/d0/late", 7));
        live.erase("/tree/d1/f0");
        ASSERT_TRUE(sim.Remove("/tree/d1/f0"));
        for (int t = 0; t < kThreads; ++t) {
            accounts.push_back({"user" + std::to_string(t), "secret " + std::to_string(t)});
            sim.AddUser(accounts.back().user, accounts.back().password);
        }
    }

    Files live;
    Files frozen;
    int frozenId = 0;
    std::vector<Account> accounts;
};

TEST_F(ConcurrentConnections, EachThreadSeesTheWholeTreeAndEverySnapshot) {
    // The listing as one connection alone reads it, before any thread runs.
    LogIn();
    CSnapshotQueries alone(connection, parser);
    SnapshotList expectedSnapshots;
    ASSERT_FALSE(ListSnapshots(alone, expectedSnapshots).IsError());
    ASSERT_EQ(1,
              std::count(expectedSnapshots.begin(), expectedSnapshots.end(),
                         std::make_pair(static_cast<uint64_t>(frozenId), std::string("frozen"))));

    const std::string baseUrl = sim.BaseUrl();
    std::promise<void> release;
    const std::shared_future<void> start = release.get_future().share();
    std::vector<std::future<Sight>> threads;
    for (const Account& account : accounts) {
        threads.push_back(
            std::async(std::launch::async, LookAround, baseUrl, account, parser, frozenId, start));
    }
    release.set_value();

    std::set<std::string> tokens;
    for (std::future<Sight>& thread : threads) {
        const Sight sight = thread.get();
        ASSERT_EQ("", sight.failure);
        ASSERT_EQ(static_cast<size_t>(kRounds), sight.liveWalks.size());
        EXPECT_FALSE(sight.token.empty());
        tokens.insert(sight.token);
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(live, sight.liveWalks[round]) << "round " << round;
            EXPECT_EQ(frozen, sight.frozenWalks[round]) << "round " << round;
            EXPECT_EQ(expectedSnapshots, sight.snapshotLists[round]) << "round " << round;
        }
    }
    EXPECT_EQ(static_cast<size_t>(kThreads), tokens.size()) << "two logins shared a token";
    EXPECT_TRUE(events->messages.empty());
}

}  // namespace
