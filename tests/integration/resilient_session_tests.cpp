// The resilient session against the simulated cluster on loopback: walks that ride out expiring
// tokens and random faults, requests that must not be sent twice, and clusters that stay down.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/ResilientSession.h"
#include "platform/ZuUtils.h"
#include "tests/support/Recorders.h"
#include "tests/support/WalkLayerSupport.h"

using namespace Cluster;
using clusterwalk::CJob;
using clusterwalk::CResilientSession;
using clusterwalk::CRetryPolicy;
using clusterwalk::RequestKind;
using clusterwalk::RetryOptions;

namespace {

constexpr uint64_t kFiles = 2000;
constexpr unsigned kPageSize = 100;

clustersim::Options BigDirectory() {
    return walk_test::BigDirectory(kFiles, kPageSize);
}

// A cluster whose tokens expire during the walk and whose answers fail now and then.
clustersim::Options Faulty() {
    clustersim::Options options = BigDirectory();
    options.tokenTtlSeconds = 1;
    options.latencyMs = 80;
    options.latencyJitterMs = 20;
    options.faultRates.unavailable = 0.05;
    options.faultRates.reset = 0.05;
    options.faultRates.truncated = 0.02;
    // A seed that meets every kind of fault within the walk.
    options.seed = 2;
    return options;
}

class ResilientSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(reference.Start(&error)) << error;
        m_previousWriter = g_ptrLogWriter;
        log = boost::make_shared<RecordingLogWriter>(1);
        g_ptrLogWriter = log;
    }
    void TearDown() override { g_ptrLogWriter = m_previousWriter; }

    static std::shared_ptr<CJob> Job(std::shared_ptr<CRetryPolicy> policy = nullptr,
                                     std::shared_ptr<clusterwalk::CRateLimit> limit = nullptr) {
        if (!policy) policy = std::make_shared<CRetryPolicy>(walk_test::QuickRetries());
        return std::make_shared<CJob>(std::move(policy), std::move(limit));
    }

    static std::unique_ptr<CResilientSession> Session(const std::string& url,
                                                      std::shared_ptr<CJob> job = Job(),
                                                      const std::string& password = "admin") {
        return std::make_unique<CResilientSession>(std::move(job), url, "admin", password);
    }

    static std::vector<std::string> Walk(CResilientSession& session, const std::string& path) {
        std::vector<std::string> paths;
        auto pager = clusterwalk::DirectoryPager(session, path, 0);
        for (const CDirectoryEntry& entry : pager) paths.push_back(entry.path);
        EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
        return paths;
    }

    // The session's own lines: those that start with `start` and hold `text`.
    size_t LogLinesWith(const std::string& start, const std::string& text) const {
        size_t lines = 0;
        for (const auto& line : log->lines)
            lines += line.rfind(start, 0) == 0 && line.find(text) != std::string::npos;
        return lines;
    }

    clustersim::Simulator reference{BigDirectory()};
    boost::shared_ptr<RecordingLogWriter> log;

  private:
    boost::shared_ptr<CLogWriterInterface> m_previousWriter;
};

// --- Walks that outlive their token on a cluster that fails now and then ---

TEST_F(ResilientSessionTest, FaultyWalkYieldsExactlyTheFaultFreeWalk) {
    auto plain = Session(reference.BaseUrl());
    ASSERT_FALSE(plain->Connect().IsError());
    const std::vector<std::string> expected = Walk(*plain, "/big");
    ASSERT_EQ(expected.size(), kFiles);
    EXPECT_EQ(plain->Job().Statistics().retries, 0u);

    clustersim::Simulator faulty(Faulty());
    std::string error;
    ASSERT_TRUE(faulty.Start(&error)) << error;
    auto limit = std::make_shared<clusterwalk::CRateLimit>(clusterwalk::RateLimitOptions{0, 1, 0});
    auto session = Session(faulty.BaseUrl(), Job(nullptr, limit));
    ASSERT_FALSE(session->Connect().IsError());
    EXPECT_EQ(Walk(*session, "/big"), expected);

    const clusterwalk::JobStatistics statistics = session->Job().Statistics();
    const clustersim::ServerStatistics server = faulty.Statistics();
    EXPECT_GT(statistics.retries, 0u);
    EXPECT_GT(statistics.relogins, 0u);
    // Every random fault met a read, and each read is sent again once per fault the session
    // saw. libcurl itself sends a request again once when a reused connection closes without
    // an answer, so a reset may not reach the session. Every expired token costs exactly one
    // new login.
    EXPECT_GE(statistics.retries, server.unavailable + server.truncations);
    EXPECT_LE(statistics.retries, server.unavailable + server.resets + server.truncations);
    EXPECT_EQ(statistics.relogins, server.expiredTokens);
    EXPECT_EQ(walk_test::Logins(faulty), 1 + statistics.relogins);
    EXPECT_LE(statistics.attempts, server.requests);
    EXPECT_EQ(LogLinesWith("GET: ", ", retry "), statistics.retries);
    EXPECT_EQ(limit->InFlight(), 0);
}

TEST_F(ResilientSessionTest, RevokedTokenMidWalkResumesAtTheSamePage) {
    auto session = Session(reference.BaseUrl());
    ASSERT_FALSE(session->Connect().IsError());
    const std::vector<std::string> expected = Walk(*session, "/big");

    auto pager = clusterwalk::DirectoryPager(*session, "/big", 0);
    std::vector<std::string> walked;
    ASSERT_TRUE(pager.NextPage());
    for (const auto& entry : pager.Records()) walked.push_back(entry.path);
    reference.RevokeTokens();
    reference.ClearJournal();
    while (pager.NextPage())
        for (const auto& entry : pager.Records()) walked.push_back(entry.path);
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(session->Job().Statistics().relogins, 1u);
    // The refused page and its repeat asked for the same page, so no page was read twice or
    // skipped: one request more than there are pages left to fetch, plus the login. The
    // second page was fetched while the first was read, before the tokens were revoked.
    EXPECT_EQ(walk_test::JournalCount(reference, "GET", "/v1/files/"), kFiles / kPageSize - 2 + 1);
    EXPECT_EQ(walk_test::JournalCount(reference, "POST", "/v1/session/login"), 1u);
    const auto journal = reference.Journal();
    ASSERT_GE(journal.size(), 3u);
    EXPECT_EQ(journal[0].target, journal[2].target);
}

// --- Failures that are final ---

TEST_F(ResilientSessionTest, RejectedAfterAFreshLoginIsFinal) {
    auto session = Session(reference.BaseUrl());
    ASSERT_FALSE(session->Connect().IsError());
    clustersim::Fault refuse;
    refuse.method = "GET";
    refuse.pathPrefix = "/v1/files/";
    refuse.status = 401;
    refuse.body = R"({"error_class":"unauthorized","description":"no"})";
    reference.AddFault(refuse);

    std::list<CDirectoryEntry> entries;
    std::string nextLink;
    auto files = session->Files();
    const CZuError error = session->Run(RequestKind::Get, [&] {
        return files.GetDirectoryEntries("/big", entries, nextLink, 0, "");
    });
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(session->GetLastRequestOutcome().httpStatus, 401);
    const clusterwalk::JobStatistics statistics = session->Job().Statistics();
    EXPECT_EQ(statistics.relogins, 1u);
    EXPECT_EQ(statistics.retries, 0u);
    EXPECT_EQ(statistics.attempts, 4u);  // login, refused read, login, refused read
    EXPECT_EQ(LogLinesWith("GET request refused", "right after a new login"), 1u);
}

TEST_F(ResilientSessionTest, WrongPasswordIsNotRetried) {
    auto session = Session(reference.BaseUrl(), Job(), "wrong");
    EXPECT_TRUE(session->Connect().IsError());
    EXPECT_EQ(session->GetLastRequestOutcome().httpStatus, 401);
    EXPECT_EQ(session->Job().Statistics().attempts, 1u);
    EXPECT_EQ(session->Job().Statistics().retries, 0u);
}

TEST_F(ResilientSessionTest, SentPostIsNeverRepeated) {
    auto session = Session(reference.BaseUrl());
    ASSERT_FALSE(session->Connect().IsError());
    const uint64_t source = reference.FileId("/big");
    ASSERT_NE(source, 0u);
    auto snapshots = session->Snapshots();
    CSnapshotInfo created;
    auto create = [&] { return snapshots.CreateSnapshot("nightly", source, created, ""); };

    // Busy, and closed without an answer on the connection the login left open, which the
    // transport itself would otherwise send again.
    for (const auto kind :
         {clustersim::Fault::Kind::Respond, clustersim::Fault::Kind::CloseNoAnswer}) {
        clustersim::Fault fault;
        fault.kind = kind;
        fault.method = "POST";
        fault.pathPrefix = "/v2/snapshots";
        fault.status = 503;
        fault.remaining = 1;
        reference.AddFault(fault);
        reference.ClearJournal();
        EXPECT_TRUE(session->Run(RequestKind::Post, create).IsError());
        EXPECT_TRUE(session->GetLastRequestOutcome().sent);
        EXPECT_EQ(walk_test::JournalCount(reference, "POST", "/v2/snapshots"), 1u);
        EXPECT_EQ(session->Job().Statistics().retries, 0u);
    }

    // The same request is sent when asked again: only the session does not repeat it.
    EXPECT_FALSE(session->Run(RequestKind::Post, create).IsError());
    EXPECT_EQ(walk_test::JournalCount(reference, "POST", "/v2/snapshots"), 2u);
}

// --- A cluster that stays down ---

class RefusingClusterTest : public ResilientSessionTest {
  protected:
    void SetUp() override {
        ResilientSessionTest::SetUp();
        // A port that was just served and is closed now refuses connections.
        url = reference.BaseUrl();
        reference.Stop();
    }
    std::string url;
};

TEST_F(RefusingClusterTest, FailsAfterItsAttemptsWithTheRefusal) {
    RetryOptions options = walk_test::QuickRetries();
    options.maxAttempts = 5;
    options.requestBudgetSeconds = 1;
    auto session = Session(url, Job(std::make_shared<CRetryPolicy>(options)));
    EXPECT_TRUE(session->Connect().IsError());
    const CRequestOutcome outcome = session->GetLastRequestOutcome();
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(outcome.transportCode, 7);  // could not connect
    EXPECT_EQ(session->Job().Statistics().attempts, 5u);
    EXPECT_EQ(session->Job().Statistics().retries, 4u);
    EXPECT_EQ(LogLinesWith("login: ", "could not connect"),
              5u);  // four retries and the refusal to go on
}

TEST_F(RefusingClusterTest, SessionsOfOneJobShareItsRetryBudget) {
    RetryOptions options = walk_test::QuickRetries();
    options.budgetCapacity = 2;
    options.budgetRefillPerSecond = 0;
    auto job = Job(std::make_shared<CRetryPolicy>(options));
    auto first = Session(url, job);
    EXPECT_TRUE(first->Connect().IsError());
    EXPECT_EQ(job->Statistics().attempts, 3u);
    EXPECT_EQ(job->Statistics().retries, 2u);
    // The budget is spent: the second connection's failure is final at once.
    auto second = Session(url, job);
    EXPECT_TRUE(second->Connect().IsError());
    EXPECT_EQ(job->Statistics().attempts, 4u);
    EXPECT_EQ(job->Statistics().retries, 2u);
}

TEST_F(ResilientSessionTest, CancelAbandonsARequestTheClusterHolds) {
    clustersim::Options options = BigDirectory();
    options.latencyMs = 60000;
    clustersim::Simulator holding(options);
    std::string startError;
    ASSERT_TRUE(holding.Start(&startError)) << startError;
    auto session = Session(holding.BaseUrl());
    std::thread canceller([&] {
        while (holding.Statistics().requests == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        session->Job().Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    const CZuError error = session->Connect();
    const auto waited = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(error.GetCode(), clusterwalk::kCancelledError);
    EXPECT_EQ(session->Job().Statistics().attempts, 1u);
    EXPECT_EQ(session->Job().Statistics().retries, 0u);
    // Long before the cluster would have answered.
    EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST_F(ResilientSessionTest, SilentClusterFailsOnceTheTimeBudgetIsSpent) {
    clustersim::Options options = BigDirectory();
    options.latencyMs = 60000;
    clustersim::Simulator silent(options);
    std::string startError;
    ASSERT_TRUE(silent.Start(&startError)) << startError;
    const TNLibCurl::Defaults previous = TNLibCurl::GetDefaults();
    TNLibCurl::Defaults scaled = previous;
    scaled.firstByteSeconds = 1;
    TNLibCurl::SetDefaults(scaled);
    RetryOptions retries = walk_test::QuickRetries();
    retries.requestBudgetSeconds = 1.5;  // spent during the second attempt, which still ends
    auto session = Session(silent.BaseUrl(), Job(std::make_shared<CRetryPolicy>(retries)));
    const CZuError error = session->Connect();
    TNLibCurl::SetDefaults(previous);
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ(session->GetLastRequestOutcome().transportCode, 28);  // timed out
    EXPECT_EQ(session->Job().Statistics().attempts, 2u);
    EXPECT_EQ(LogLinesWith("login: ", "gave up after"), 1u);
}

TEST_F(RefusingClusterTest, CancelEndsAWaitAndEveryLaterRun) {
    RetryOptions options = walk_test::QuickRetries();
    options.firstDelaySeconds = 10;
    options.maxDelaySeconds = 10;
    auto policy =
        std::make_shared<CRetryPolicy>(options, clusterwalk::SteadyNowSeconds, [] { return 0.99; });
    auto session = Session(url, Job(policy));
    std::thread canceller([&] {
        while (session->Job().Statistics().retries == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        session->Job().Cancel();
    });
    const CZuError error = session->Connect();
    canceller.join();
    EXPECT_EQ(error.GetCode(), clusterwalk::kCancelledError);
    EXPECT_EQ(session->Job().Statistics().attempts, 1u);

    bool called = false;
    EXPECT_EQ(session
                  ->Run(RequestKind::Get,
                        [&] {
                            called = true;
                            return CZuError::Success();
                        })
                  .GetCode(),
              clusterwalk::kCancelledError);
    EXPECT_FALSE(called);
}

}  // namespace
