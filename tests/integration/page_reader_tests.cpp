// The directory page reader, which fetches the next page while the current one is parsed,
// held against the client library's one-page call: the same pages, links and failures, on a
// simulated cluster that fails now and then, and on a hostile one whose pages name a next link
// at their end other than the one they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ClusterSim.h"
#include "ClusterWalk/PageReader.h"
#include "ClusterWalk/ResilientSession.h"
#include "HostileServer.h"
#include "tests/support/WalkLayerSupport.h"

using Cluster::CDirectoryEntry;
using clusterwalk::CDirectoryPageReader;
using clusterwalk::CJob;
using clusterwalk::CResilientSession;
using walk_test::PageReading;

namespace {

constexpr uint64_t kFiles = 500;
constexpr unsigned kPageSize = 40;  // 13 pages, the last one short
constexpr size_t kPages = (kFiles + kPageSize - 1) / kPageSize;

std::unique_ptr<CResilientSession> Session(const std::string& url) {
    auto job =
        std::make_shared<CJob>(clusterwalk::JobOptions{walk_test::QuickRetries(), {}, nullptr});
    return std::make_unique<CResilientSession>(std::move(job), url, "admin", "admin");
}

PageReading ReaderNext(CDirectoryPageReader& reader) {
    std::list<CDirectoryEntry> entries;
    std::string nextLink = "unchanged";
    const CZuError error = reader.Next(entries, nextLink);
    return walk_test::Reading(error, entries, nextLink);
}

std::vector<PageReading> ReaderPages(CResilientSession& session, const std::string& path,
                                     int snapshotId) {
    CDirectoryPageReader reader(session, path, snapshotId);
    std::vector<PageReading> pages;
    do {
        pages.push_back(ReaderNext(reader));
    } while (pages.back().code == 0 && !pages.back().nextLink.empty());
    EXPECT_TRUE(reader.Finished() || pages.back().code != 0);
    return pages;
}

class PageReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        session = Session(sim.BaseUrl());
        ASSERT_FALSE(session->Connect().IsError());
        sim.ClearJournal();
    }

    size_t PageRequests() const { return walk_test::JournalCount(sim, "GET", "/v1/files/"); }

    clustersim::Simulator sim{walk_test::BigDirectory(kFiles, kPageSize)};
    std::unique_ptr<CResilientSession> session;
};

// --- The same pages as the library's call ---

TEST_F(PageReaderTest, EveryPageEqualsTheLibraryReadingLiveAndInASnapshot) {
    const uint64_t snapshot = sim.TakeSnapshot("before", "/big");
    for (int i = 0; i < 70; ++i) sim.WriteFile("/big/later" + std::to_string(i), 7);
    for (const int snapshotId : {0, static_cast<int>(snapshot)}) {
        SCOPED_TRACE(snapshotId);
        const std::vector<PageReading> expected =
            walk_test::LibraryPages(*session, "/big", snapshotId);
        ASSERT_EQ(expected.back().code, 0u);
        ASSERT_GE(expected.size(), kPages);
        sim.ClearJournal();
        EXPECT_EQ(ReaderPages(*session, "/big", snapshotId), expected);
        // Every guess held: each page was fetched once.
        EXPECT_EQ(PageRequests(), expected.size());
    }
}

TEST_F(PageReaderTest, EachPageReadFetchesTheNextAndTheLastFetchesNothingMore) {
    CDirectoryPageReader reader(*session, "/big", 0);
    const PageReading first = ReaderNext(reader);
    ASSERT_EQ(first.code, 0u);
    EXPECT_EQ(reader.PageLink(), "");
    EXPECT_EQ(PageRequests(), 2u);  // the second page came with the first

    // A page asked for by its link is read from there, and Next goes on after it.
    const std::vector<PageReading> expected = walk_test::LibraryPages(*session, "/big", 0);
    ASSERT_EQ(expected.size(), kPages);
    std::list<CDirectoryEntry> entries;
    std::string nextLink;
    ASSERT_FALSE(reader.Read(expected[4].nextLink, entries, nextLink).IsError());
    EXPECT_EQ(walk_test::Reading(CZuError::Success(), entries, nextLink), expected[5]);
    EXPECT_EQ(reader.PageLink(), expected[4].nextLink);
    for (size_t page = 6; page < kPages; ++page) EXPECT_EQ(ReaderNext(reader), expected[page]);
    EXPECT_TRUE(reader.Finished());

    sim.ClearJournal();
    EXPECT_EQ(ReaderNext(reader), (PageReading{"", "", 0}));
    EXPECT_EQ(PageRequests(), 0u);
}

// --- The same failures ---

struct FailureCase {
    const char* name;
    std::string path;
    std::string pageLink;
    std::optional<clustersim::Fault> fault;  // met by every page request
};

clustersim::Fault Answering(int status, std::string body) {
    clustersim::Fault fault;
    fault.method = "GET";
    fault.pathPrefix = "/v1/files/";
    fault.status = status;
    fault.body = std::move(body);
    return fault;
}

TEST_F(PageReaderTest, FailuresCarryTheLibraryCodesAndCostTheSameAttempts) {
    const std::vector<FailureCase> cases = {
        {"missing directory", "/none", "", std::nullopt},
        {"path without a slash", "big", "", std::nullopt},
        {"link with a scheme", "/big", "http://127.0.0.1:1/v1/files/", std::nullopt},
        {"link to another host", "/big", "//127.0.0.1:1/v1/files/", std::nullopt},
        {"link with a blank", "/big", "/v1/files/%2Fbig/entries/ HTTP/1.1", std::nullopt},
        {"malformed page", "/big", "", Answering(200, R"({"files":[{"path":7}],"paging":{}})")},
        {"no paging", "/big", "", Answering(200, R"({"files":[]})")},
        {"refused after a new login", "/big", "", Answering(401, R"({"error_class":"x"})")},
        {"unavailable throughout", "/big", "", Answering(503, R"({"error_class":"busy"})")},
    };
    for (const FailureCase& failure : cases) {
        SCOPED_TRACE(failure.name);
        if (failure.fault) sim.AddFault(*failure.fault);
        auto librarySession = Session(sim.BaseUrl());
        auto readerSession = Session(sim.BaseUrl());
        ASSERT_FALSE(librarySession->Connect().IsError());
        ASSERT_FALSE(readerSession->Connect().IsError());

        const PageReading expected =
            walk_test::LibraryPage(*librarySession, failure.path, 0, failure.pageLink);
        CDirectoryPageReader reader(*readerSession, failure.path, 0, failure.pageLink);
        const PageReading read = ReaderNext(reader);
        EXPECT_NE(expected.code, 0u);
        EXPECT_EQ(read, expected);
        const clusterwalk::JobStatistics library = librarySession->Job().Statistics();
        const clusterwalk::JobStatistics ours = readerSession->Job().Statistics();
        EXPECT_EQ(ours.attempts, library.attempts);
        EXPECT_EQ(ours.retries, library.retries);
        EXPECT_EQ(ours.relogins, library.relogins);
        EXPECT_EQ(readerSession->GetLastRequestOutcome().httpStatus,
                  librarySession->GetLastRequestOutcome().httpStatus);
        // A failed page is read again by the next call.
        EXPECT_FALSE(reader.Finished());
        EXPECT_EQ(ReaderNext(reader).code, expected.code);
        sim.ClearFaults();
    }
}

TEST_F(PageReaderTest, PassingFaultsAndExpiringTokensLoseNothing) {
    clustersim::Options options = walk_test::BigDirectory(kFiles, kPageSize);
    options.tokenTtlSeconds = 1;
    options.latencyMs = 120;
    options.faultRates.unavailable = 0.1;
    options.faultRates.reset = 0.1;
    options.faultRates.truncated = 0.1;
    options.seed = 3;
    clustersim::Simulator faulty(options);
    std::string error;
    ASSERT_TRUE(faulty.Start(&error)) << error;
    // The library's call through its own session of the same cluster is the reference: the
    // simulator stamps its files with its start time.
    auto librarySession = Session(faulty.BaseUrl());
    auto readerSession = Session(faulty.BaseUrl());
    ASSERT_FALSE(librarySession->Connect().IsError());
    ASSERT_FALSE(readerSession->Connect().IsError());
    const std::vector<PageReading> expected = walk_test::LibraryPages(*librarySession, "/big", 0);
    ASSERT_EQ(expected.size(), kPages);
    ASSERT_EQ(expected.back().code, 0u);

    EXPECT_EQ(ReaderPages(*readerSession, "/big", 0), expected);
    const clusterwalk::JobStatistics statistics = readerSession->Job().Statistics();
    EXPECT_GT(statistics.retries, 0u);
    EXPECT_GT(statistics.relogins, 0u);
}

TEST_F(PageReaderTest, DirectoryPagerOverTheSessionResumesAtASavedCursor) {
    std::vector<std::string> expected;
    for (const PageReading& page : walk_test::LibraryPages(*session, "/big", 0))
        expected.push_back(page.entries);
    auto pager = clusterwalk::DirectoryPager(*session, "/big", 0);
    std::vector<std::string> walked;
    for (int page = 0; page < 3 && pager.NextPage(); ++page)
        walked.push_back(walk_test::Describe(pager.Records()));
    ASSERT_TRUE(pager.NextPage());
    const std::string saved = pager.Cursor();

    auto resumed = clusterwalk::DirectoryPager(*session, "/big", 0);
    resumed.SetCursor(saved);
    while (resumed.NextPage()) walked.push_back(walk_test::Describe(resumed.Records()));
    EXPECT_FALSE(resumed.Error().IsError()) << resumed.Error().ToString();
    EXPECT_EQ(walked, expected);
}

// --- A hostile cluster's pages ---

constexpr const char* kFirstPage = "/v1/files/%2Fh/entries/";

std::string Entry(const std::string& name, const std::string& extra = "") {
    const std::string time = R"("2024-05-06T07:08:09Z")";
    return R"({"path":"/h/)" + name +
           R"(","type":"FS_FILE_TYPE_FILE","id":"1","mode":"0644","owner":"2","group":"3",)"
           R"("size":"4","change_time":)" +
           time + R"(,"modification_time":)" + time + R"(,"creation_time":)" + time + extra + "}";
}

// A cluster of scripted pages: the login, then each target's body; a target it does not know
// is held unanswered, as a cluster that is slow to answer.
hostile::Server::Handler Pages(std::map<std::string, std::string> pages) {
    return [pages](const hostile::Request& request, hostile::Connection& connection) {
        if (request.method == "POST") {
            connection.Send(hostile::LoginAnswer("\"t0ken\""));
            return;
        }
        const auto page = pages.find(request.target);
        if (page == pages.end()) {
            connection.Hold(std::chrono::seconds(60));
            return;
        }
        connection.Send(hostile::Answer(200, page->second, "Content-Type: application/json\r\n"));
    };
}

std::vector<std::string> Targets(const hostile::Server& server) {
    std::vector<std::string> targets;
    for (const hostile::Request& request : server.Requests())
        if (request.method == "GET") targets.push_back(request.target);
    return targets;
}

class HostilePagesTest : public ::testing::Test {
  protected:
    // Reads /h through the reader and through the library's call, each on its own session.
    void ExpectTheLibraryPages(hostile::Server& server) {
        auto library = Session(server.BaseUrl());
        auto ours = Session(server.BaseUrl());
        ASSERT_FALSE(library->Connect().IsError());
        ASSERT_FALSE(ours->Connect().IsError());
        const std::vector<PageReading> expected = walk_test::LibraryPages(*library, "/h", 0);
        EXPECT_EQ(expected.back().code, 0u);
        EXPECT_EQ(ReaderPages(*ours, "/h", 0), expected);
    }
};

TEST_F(HostilePagesTest, APageWhoseEndNamesAnotherLinkIsReadFromTheRightOne) {
    const std::string entries = Entry("a0") + "," + Entry("a1");
    const std::vector<std::string> bodies = {
        // a member after "paging" that holds a "next" of its own
        R"({"files":[)" + entries + R"(],"paging":{"next":"/p2"},"more":{"next":"/decoy"}})",
        // "paging" first, and the last entry carries a "next" member
        R"({"paging":{"next":"/p2"},"files":[)" + Entry("a0") + "," +
            Entry("a1", R"(,"next":"/decoy")") + "]}",
        // the last page, ending with a link all the same
        R"({"files":[)" + entries + R"(],"paging":{"next":""},"more":{"next":"/decoy"}})",
    };
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const bool last = body.find(R"("next":"")") != std::string::npos;
        hostile::Server server(Pages({
            {kFirstPage, body},
            {"/p2", R"({"files":[)" + Entry("b0") + R"(],"paging":{"next":""}})"},
            {"/decoy", R"({"files":[)" + Entry("decoy") + R"(],"paging":{"next":""}})"},
        }));
        ExpectTheLibraryPages(server);
        // The reader did fetch the decoy, and dropped it.
        const std::vector<std::string> targets = Targets(server);
        EXPECT_EQ(std::count(targets.begin(), targets.end(), "/decoy"), 1);
        EXPECT_EQ(std::count(targets.begin(), targets.end(), "/p2"), last ? 0 : 2);
    }
}

TEST_F(HostilePagesTest, AGuessOffTheClusterIsNeverSent) {
    hostile::Server elsewhere(Pages({}));
    const std::string port = std::to_string(elsewhere.Port());
    const std::vector<std::string> forged = {
        "//127.0.0.1:" + port + "/p2",
        "http://127.0.0.1:" + port + "/p2",
        "@127.0.0.1:" + port + "/p2",
        "/p2 HTTP/1.1",
        "/p2\\u0000",
    };
    for (const std::string& link : forged) {
        SCOPED_TRACE(link);
        hostile::Server server(Pages({
            {kFirstPage, R"({"paging":{"next":"/p2"},"files":[)" + Entry("a0") +
                             R"(],"more":{"next":")" + link + R"("}})"},
            {"/p2", R"({"files":[)" + Entry("b0") + R"(],"paging":{"next":""}})"},
        }));
        ExpectTheLibraryPages(server);
        // Each reading asked for the first page and /p2, and for nothing else.
        EXPECT_EQ(Targets(server),
                  (std::vector<std::string>{kFirstPage, "/p2", kFirstPage, "/p2"}));
    }
    EXPECT_EQ(elsewhere.Connections(), 0);
}

TEST_F(HostilePagesTest, CancellingEndsTheFetchOfAPageTheClusterHolds) {
    hostile::Server server(Pages({
        {kFirstPage, R"({"files":[)" + Entry("a0") + R"(],"paging":{"next":"/held"}})"},
    }));
    auto session = Session(server.BaseUrl());
    ASSERT_FALSE(session->Connect().IsError());
    std::thread canceller([&] {
        while (Targets(server).size() < 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        session->Job().Cancel();
    });
    CDirectoryPageReader reader(*session, "/h", 0);
    const auto start = std::chrono::steady_clock::now();
    const PageReading first = ReaderNext(reader);
    const auto waited = std::chrono::steady_clock::now() - start;
    canceller.join();
    // The first page was read whole; the cancelled fetch of the next fails the next call.
    EXPECT_EQ(first.code, 0u);
    EXPECT_EQ(first.nextLink, "/held");
    EXPECT_LT(waited, std::chrono::seconds(30));  // long before the cluster would answer
    EXPECT_EQ(ReaderNext(reader).code, clusterwalk::kCancelledError);
    EXPECT_EQ(Targets(server).size(), 2u);
}

}  // namespace
