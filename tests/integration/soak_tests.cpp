// Long walks through the resilient layer against simulated clusters that fail now and then: a
// listing of many pages that outlives its tokens must come out exactly as a fault-free one, and
// sessions of one job walking at once must keep to the job's shared limit. Both also run under
// ThreadSanitizer (preset tsan), on the smaller listing a sanitized build is given.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "ClusterSim.h"
#include "ClusterWalk/Pager.h"
#include "ClusterWalk/ResilientSession.h"
#include "tests/support/WalkLayerSupport.h"

// The build sets both: a sanitized build gets a smaller listing and a shorter token life.
#if !defined(SOAK_ENTRIES) || !defined(SOAK_TOKEN_TTL_SECONDS)
#error "SOAK_ENTRIES and SOAK_TOKEN_TTL_SECONDS come from tests/integration/CMakeLists.txt"
#endif

using namespace Cluster;
using clusterwalk::CJob;
using clusterwalk::CResilientSession;
using clusterwalk::JobOptions;
using clusterwalk::JobStatistics;

namespace {

constexpr uint64_t kEntries = SOAK_ENTRIES;
constexpr unsigned kTokenTtlSeconds = SOAK_TOKEN_TTL_SECONDS;
// As many pages whatever the listing's size, so the faults drawn from the seed below are the
// same in every build.
constexpr uint64_t kPages = 200;
constexpr unsigned kPageSize = static_cast<unsigned>(kEntries / kPages);
static_assert(kEntries % kPages == 0, "whole pages only, so the page count is exact");
// Every request is held this long, so that the walk outlasts a token by half again however fast
// the machine reads pages; a quicker walk would never meet an expired token.
constexpr unsigned kLatencyMs = kTokenTtlSeconds * 1000 * 3 / 2 / kPages + 1;
// Its first 200 draws hold both 503s and resets, and a walk makes at least that many requests.
constexpr uint64_t kSeed = 1;

struct Entry {
    std::string path;
    uint64_t size = 0;
    uint64_t id = 0;
    bool isDirectory = false;
};

using Listing = std::vector<Entry>;

Listing Collect(clusterwalk::Pager<CDirectoryEntry>& pager) {
    Listing listing;
    for (const CDirectoryEntry& entry : pager)
        listing.push_back({entry.path, entry.size, entry.id, entry.isDirectory});
    return listing;
}

// Empty when both hold the same entries in the same order; else the first that differs, so a
// failure prints one line rather than two listings of a hundred thousand entries.
std::string FirstDifference(const Listing& expected, const Listing& walked) {
    for (size_t i = 0; i < expected.size() && i < walked.size(); ++i) {
        const Entry& a = expected[i];
        const Entry& b = walked[i];
        if (a.path != b.path || a.size != b.size || a.id != b.id || a.isDirectory != b.isDirectory)
            return "entry " + std::to_string(i) + ": expected " + a.path + " (" +
                   std::to_string(a.size) + " bytes), walked " + b.path + " (" +
                   std::to_string(b.size) + " bytes)";
    }
    if (expected.size() != walked.size())
        return "expected " + std::to_string(expected.size()) + " entries, walked " +
               std::to_string(walked.size());
    return "";
}

// The listing as the library alone reads it from a cluster that never fails.
Listing FaultFreeListing(const clustersim::Simulator& sim) {
    const auto connection = boost::make_shared<CConnection>();
    const CZuError login = connection->Connect(sim.BaseUrl(), "admin", "admin");
    EXPECT_FALSE(login.IsError()) << login.ToString();
    auto pager = clusterwalk::DirectoryPager(
        CFileSystemQueries(connection, boost::make_shared<CParser>()), "/big", 0);
    Listing listing = Collect(pager);
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    return listing;
}

// What the session's counts must add up to against the cluster's, one walk or several: every
// attempt is a login, a page read whole, a failure that was retried, or a read refused for
// its expired token (each followed by one login). Logins meet no random fault, so each expired
// token costs exactly one new login. libcurl itself sends a request again once when a reused
// connection closes without an answer, so a reset may cost a request the session never saw.
void ExpectCountsAgree(const JobStatistics& job, const clustersim::ServerStatistics& server,
                       uint64_t sessions, uint64_t pages, size_t logins) {
    EXPECT_EQ(job.attempts, sessions + pages + job.retries + 2 * job.relogins);
    EXPECT_EQ(job.relogins, server.expiredTokens);
    EXPECT_EQ(logins, sessions + job.relogins);
    EXPECT_GE(job.retries, server.unavailable);
    EXPECT_LE(job.retries, server.unavailable + server.resets);
    EXPECT_LE(job.attempts, server.requests);
    EXPECT_LE(server.requests, job.attempts + server.resets);
}

TEST(Soak, WalkOutlivingItsTokensThroughFaultsYieldsTheFaultFreeListing) {
    clustersim::Simulator reference(walk_test::BigDirectory(kEntries, kPageSize));
    clustersim::Options faultyOptions = walk_test::BigDirectory(kEntries, kPageSize);
    faultyOptions.tokenTtlSeconds = kTokenTtlSeconds;
    faultyOptions.faultRates.unavailable = 0.02;
    faultyOptions.faultRates.reset = 0.02;
    faultyOptions.latencyMs = kLatencyMs;
    faultyOptions.seed = kSeed;
    clustersim::Simulator faulty(faultyOptions);
    std::string error;
    ASSERT_TRUE(reference.Start(&error)) << error;
    ASSERT_TRUE(faulty.Start(&error)) << error;

    const Listing expected = FaultFreeListing(reference);
    ASSERT_EQ(expected.size(), kEntries);

    const auto started = std::chrono::steady_clock::now();
    CResilientSession session(
        std::make_shared<CJob>(JobOptions{walk_test::QuickRetries(), {}, nullptr}),
        faulty.BaseUrl(), "admin", "admin");
    const CZuError login = session.Connect();
    ASSERT_FALSE(login.IsError()) << login.ToString();
    auto pager = clusterwalk::DirectoryPager(session, "/big", 0);
    const Listing walked = Collect(pager);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    EXPECT_EQ("", FirstDifference(expected, walked));
    EXPECT_EQ(pager.Count().pages, kPages);

    const JobStatistics statistics = session.Job().Statistics();
    const clustersim::ServerStatistics server = faulty.Statistics();
    std::printf(
        "soak: entries %llu compared, pages %llu, requests %llu, attempts %llu, retries %llu, "
        "re-logins %llu, 503s %llu, resets %llu, expired tokens %llu, seconds %.1f\n",
        static_cast<unsigned long long>(walked.size()),
        static_cast<unsigned long long>(pager.Count().pages),
        static_cast<unsigned long long>(server.requests),
        static_cast<unsigned long long>(statistics.attempts),
        static_cast<unsigned long long>(statistics.retries),
        static_cast<unsigned long long>(statistics.relogins),
        static_cast<unsigned long long>(server.unavailable),
        static_cast<unsigned long long>(server.resets),
        static_cast<unsigned long long>(server.expiredTokens), seconds);

    // Every kind of fault met the walk, and the layer rode each out.
    EXPECT_GT(server.unavailable, 0u);
    EXPECT_GT(server.resets, 0u);
    EXPECT_GT(server.expiredTokens, 0u);
    EXPECT_GT(statistics.retries, 0u);
    EXPECT_GT(statistics.relogins, 0u);
    EXPECT_GT(statistics.attempts, kPages);
    ExpectCountsAgree(statistics, server, 1, pager.Count().pages, walk_test::Logins(faulty));
}

// --- Sessions of one job on several threads ---

constexpr int kThreads = 4;
constexpr uint64_t kThreadEntries = 5000;
constexpr unsigned kThreadPageSize = 100;
constexpr clusterwalk::RateLimitOptions kRate{200, 2, 10};

struct ThreadWalk {
    std::string failure;
    Listing listing;
    uint64_t pages = 0;
};

ThreadWalk WalkOnItsOwnSession(const std::shared_ptr<CJob>& job, const std::string& url,
                               const std::shared_future<void>& start) {
    ThreadWalk walk;
    CResilientSession session(job, url, "admin", "admin");
    start.wait();
    const CZuError login = session.Connect();
    if (login.IsError()) {
        walk.failure = login.ToString();
        return walk;
    }
    auto pager = clusterwalk::DirectoryPager(session, "/big", 0);
    walk.listing = Collect(pager);
    walk.pages = pager.Count().pages;
    if (pager.Error().IsError()) walk.failure = pager.Error().ToString();
    return walk;
}

TEST(Soak, SessionsOfOneJobWalkAtOnceWithinItsSharedLimit) {
    clustersim::Simulator reference(walk_test::BigDirectory(kThreadEntries, kThreadPageSize));
    clustersim::Options faultyOptions = walk_test::BigDirectory(kThreadEntries, kThreadPageSize);
    faultyOptions.tokenTtlSeconds = 1;
    faultyOptions.faultRates.unavailable = 0.05;
    faultyOptions.faultRates.reset = 0.05;
    faultyOptions.latencyMs = 2;
    // The cluster turns away a request that finds as many in flight as the job allows, so a
    // limit that let one more through would show as a refusal.
    faultyOptions.maxConcurrent = static_cast<unsigned>(kRate.maxInFlight);
    clustersim::Simulator faulty(faultyOptions);
    std::string error;
    ASSERT_TRUE(reference.Start(&error)) << error;
    ASSERT_TRUE(faulty.Start(&error)) << error;
    const Listing expected = FaultFreeListing(reference);
    ASSERT_EQ(expected.size(), kThreadEntries);

    auto job = std::make_shared<CJob>(JobOptions{walk_test::QuickRetries(), kRate, nullptr});
    std::promise<void> release;
    const std::shared_future<void> start = release.get_future().share();
    std::vector<std::future<ThreadWalk>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.push_back(
            std::async(std::launch::async, WalkOnItsOwnSession, job, faulty.BaseUrl(), start));
    }
    const auto started = std::chrono::steady_clock::now();
    release.set_value();
    uint64_t pages = 0;
    for (auto& thread : threads) {
        const ThreadWalk walk = thread.get();
        EXPECT_EQ("", walk.failure);
        EXPECT_EQ("", FirstDifference(expected, walk.listing));
        pages += walk.pages;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(job->Limit().InFlight(), 0);
    const JobStatistics statistics = job->Statistics();
    const clustersim::ServerStatistics server = faulty.Statistics();
    EXPECT_EQ(pages, kThreads * kThreadEntries / kThreadPageSize);
    EXPECT_EQ(server.concurrencyRefusals, 0u);
    EXPECT_GT(server.unavailable + server.resets, 0u);
    EXPECT_GT(statistics.retries, 0u);
    ExpectCountsAgree(statistics, server, kThreads, pages, walk_test::Logins(faulty));
    // The bucket holds `burst` requests and refills at the rate, so the four sessions together
    // cannot have sent faster than that.
    EXPECT_GE(seconds, (statistics.attempts - kRate.burst) / kRate.requestsPerSecond);
}

}  // namespace
