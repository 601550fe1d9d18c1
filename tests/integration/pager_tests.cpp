// The walking library's pagers against the simulated cluster (three records a page): what they
// hand over, where they resume, and how they end.
#include <list>
#include <string>
#include <utility>
#include <vector>

#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/Pager.h"
#include "SimFixture.h"

using namespace Cluster;

namespace {

constexpr size_t kPageSize = 3;  // SimTest's pages
constexpr int kFiles = 10;       // four pages, the last one short

class PagerTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        for (int i = 0; i < kFiles; ++i) sim.WriteFile("/dir/f" + std::to_string(10 + i), 1);
        LogIn();
        files = boost::make_shared<CFileSystemQueries>(connection, parser);
        snapshots = boost::make_shared<CSnapshotQueries>(connection, parser);
    }

    // The directory as the library's one-page call gives it, pages concatenated.
    std::vector<std::string> LibraryPages(const std::string& path) {
        std::vector<std::string> paths;
        std::string pageLink;
        do {
            std::list<CDirectoryEntry> page;
            std::string nextLink;
            const CZuError error = files->GetDirectoryEntries(path, page, nextLink, 0, pageLink);
            EXPECT_FALSE(error.IsError()) << error.ToString();
            if (error.IsError()) break;
            for (const auto& entry : page) paths.push_back(entry.path);
            pageLink = nextLink;
        } while (!pageLink.empty());
        return paths;
    }

    size_t RequestsUnder(const std::string& prefix) {
        size_t requests = 0;
        for (const auto& entry : sim.Journal()) requests += entry.target.rfind(prefix, 0) == 0;
        return requests;
    }

    boost::shared_ptr<CFileSystemQueries> files;
    boost::shared_ptr<CSnapshotQueries> snapshots;
};

TEST_F(PagerTest, RangeForHandsOverEveryPageOnceReadingOnePageAtATime) {
    const std::vector<std::string> expected = LibraryPages("/dir");
    ASSERT_EQ(expected.size(), static_cast<size_t>(kFiles));
    sim.ClearJournal();

    auto pager = clusterwalk::DirectoryPager(*files, "/dir", 0);
    std::vector<std::string> walked;
    for (const CDirectoryEntry& entry : pager) {
        walked.push_back(entry.path);
        // Flat memory: a page is read only once the one before it is used up.
        EXPECT_LE(pager.Records().size(), kPageSize);
        EXPECT_EQ(RequestsUnder("/v1/files/"), pager.Count().pages);
    }
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    EXPECT_EQ(walked, expected);
    EXPECT_TRUE(pager.Finished());
    EXPECT_EQ(pager.Count().pages, 4u);
    EXPECT_EQ(pager.Count().entries, static_cast<uint64_t>(kFiles));
    // A finished walk stays finished: no further request, nothing more handed over.
    EXPECT_FALSE(pager.NextPage());
    EXPECT_TRUE(pager.Records().empty());
    EXPECT_EQ(pager.begin(), pager.end());
    EXPECT_EQ(RequestsUnder("/v1/files/"), 4u);
}

TEST_F(PagerTest, SnapshotDiffWalkEqualsTheLibraryPages) {
    sim.WriteFile("/proj/keep.txt", 1);
    sim.WriteFile("/proj/gone.txt", 1);
    const uint64_t base = sim.TakeSnapshot("base", "/proj");
    sim.Remove("/proj/gone.txt");
    for (int i = 0; i < 5; ++i) sim.WriteFile("/proj/new" + std::to_string(i), 1);
    const uint64_t target = sim.TakeSnapshot("target", "/proj");

    std::vector<std::pair<std::string, int>> expected;
    std::string pageLink;
    do {
        std::list<CSnapshotDiffInfo> page;
        std::string nextLink;
        const CZuError error = snapshots->GetSnapshotDiff(base, target, page, nextLink, pageLink);
        ASSERT_FALSE(error.IsError()) << error.ToString();
        for (const auto& change : page) expected.emplace_back(change.path, change.operation);
        pageLink = nextLink;
    } while (!pageLink.empty());
    ASSERT_GT(expected.size(), kPageSize);

    auto pager = clusterwalk::SnapshotDiffPager(*snapshots, base, target);
    std::vector<std::pair<std::string, int>> walked;
    for (const CSnapshotDiffInfo& change : pager)
        walked.emplace_back(change.path, change.operation);
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(pager.Count().entries, expected.size());

    // The page form hands over the same records, page by page.
    auto byPage = clusterwalk::SnapshotDiffPager(*snapshots, base, target);
    walked.clear();
    size_t pages = 0;
    while (byPage.NextPage()) {
        ++pages;
        for (const auto& change : byPage.Records())
            walked.emplace_back(change.path, change.operation);
    }
    EXPECT_FALSE(byPage.Error().IsError()) << byPage.Error().ToString();
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(pages, byPage.Count().pages);
}

TEST_F(PagerTest, CursorSavedMidWalkResumesWithExactlyTheRest) {
    const std::vector<std::string> expected = LibraryPages("/dir");
    auto pager = clusterwalk::DirectoryPager(*files, "/dir", 0);
    EXPECT_EQ(pager.Cursor(), "");  // the first page has no link
    std::vector<std::string> before;
    std::string saved;
    for (const CDirectoryEntry& entry : pager) {
        if (pager.Count().pages == 3) {  // the first record of the third page
            saved = pager.Cursor();
            break;
        }
        before.push_back(entry.path);
    }
    ASSERT_FALSE(saved.empty());
    ASSERT_EQ(before.size(), 2 * kPageSize);

    // A new pager, as a later run would make, picks up at the saved page.
    auto resumed = clusterwalk::DirectoryPager(*files, "/dir", 0);
    resumed.SetCursor(saved);
    EXPECT_EQ(resumed.Cursor(), saved);
    std::vector<std::string> rest;
    for (const CDirectoryEntry& entry : resumed) rest.push_back(entry.path);
    EXPECT_FALSE(resumed.Error().IsError()) << resumed.Error().ToString();
    EXPECT_EQ(rest, std::vector<std::string>(expected.begin() + before.size(), expected.end()));

    // A finished pager resumes too: the links of its first walk do not count as repeats.
    resumed.SetCursor(saved);
    EXPECT_FALSE(resumed.Finished());
    std::vector<std::string> again;
    for (const CDirectoryEntry& entry : resumed) again.push_back(entry.path);
    EXPECT_FALSE(resumed.Error().IsError()) << resumed.Error().ToString();
    EXPECT_EQ(again, rest);

    // Back to the start with an empty cursor.
    resumed.SetCursor("");
    std::vector<std::string> whole;
    for (const CDirectoryEntry& entry : resumed) whole.push_back(entry.path);
    EXPECT_EQ(whole, expected);
}

TEST_F(PagerTest, RepeatedPageLinkEndsTheWalkWithItsError) {
    clustersim::Fault loop;
    loop.status = 200;
    loop.pathPrefix = "/v1/files/%2Floop";
    loop.body = R"({"files":[],"paging":{"next":"/v1/files/%2Floop/entries/?again"}})";
    sim.AddFault(loop);
    sim.ClearJournal();

    auto pager = clusterwalk::DirectoryPager(*files, "/loop", 0);
    size_t handed = 0;
    for (const CDirectoryEntry& entry : pager) handed += !entry.path.empty();
    EXPECT_EQ(handed, 0u);
    ASSERT_TRUE(pager.Error().IsError());
    EXPECT_EQ(pager.Error().GetCode(), clusterwalk::kRepeatedPageLinkError);
    EXPECT_EQ(pager.Error().GetMessage(),
              "The cluster repeated the page link [/v1/files/%2Floop/entries/?again]");
    EXPECT_TRUE(pager.Finished());
    // The second page was read whole and counted; its link back was not followed.
    EXPECT_EQ(pager.Count().pages, 2u);
    EXPECT_EQ(RequestsUnder(loop.pathPrefix), 2u);
    EXPECT_FALSE(pager.NextPage());
    EXPECT_EQ(RequestsUnder(loop.pathPrefix), 2u);

    // Resuming at a link that the page then links back to is the same loop.
    auto resumed = clusterwalk::DirectoryPager(*files, "/loop", 0);
    resumed.SetCursor("/v1/files/%2Floop/entries/?again");
    ASSERT_TRUE(resumed.NextPage());  // the page itself was read whole
    EXPECT_TRUE(resumed.Records().empty());
    EXPECT_EQ(resumed.Error().GetCode(), clusterwalk::kRepeatedPageLinkError);
    EXPECT_FALSE(resumed.NextPage());
    EXPECT_EQ(RequestsUnder(loop.pathPrefix), 3u);

    // The callback form reports it the same way.
    clusterwalk::PageCount count;
    auto walked = clusterwalk::DirectoryPager(*files, "/loop", 0);
    const CZuError error = clusterwalk::WalkPages(
        walked, [](std::list<CDirectoryEntry>&) { return CZuError::Success(); }, count);
    EXPECT_EQ(error.GetCode(), clusterwalk::kRepeatedPageLinkError);
    EXPECT_EQ(count.pages, 2u);
}

TEST_F(PagerTest, FailureOnSecondPageKeepsFirstPageAndSetsTheError) {
    const std::vector<std::string> expected = LibraryPages("/dir");
    clustersim::Fault fault;
    fault.pathPrefix = "/v1/files/%2Fdir/entries/?";  // the second page onwards
    sim.AddFault(fault);

    auto pager = clusterwalk::DirectoryPager(*files, "/dir", 0);
    std::vector<std::string> walked;
    for (const CDirectoryEntry& entry : pager) walked.push_back(entry.path);
    EXPECT_EQ(walked, std::vector<std::string>(expected.begin(), expected.begin() + kPageSize));
    ASSERT_TRUE(pager.Error().IsError());
    EXPECT_NE(pager.Error().GetCode(), clusterwalk::kRepeatedPageLinkError);
    EXPECT_EQ(pager.Count().pages, 1u);
    EXPECT_TRUE(pager.Records().empty());  // nothing of the failed page
    const std::string failedLink = pager.Cursor();
    EXPECT_EQ(failedLink.rfind(fault.pathPrefix, 0), 0u) << failedLink;

    // The cursor names the failed page: once the cluster answers again, the walk resumes there.
    sim.ClearFaults();
    pager.SetCursor(failedLink);
    std::vector<std::string> rest;
    for (const CDirectoryEntry& entry : pager) rest.push_back(entry.path);
    EXPECT_FALSE(pager.Error().IsError()) << pager.Error().ToString();
    walked.insert(walked.end(), rest.begin(), rest.end());
    EXPECT_EQ(walked, expected);

    // The page form: the first page, then false with the error and no records.
    sim.AddFault(fault);
    auto byPage = clusterwalk::DirectoryPager(*files, "/dir", 0);
    ASSERT_TRUE(byPage.NextPage());
    EXPECT_EQ(byPage.Records().size(), kPageSize);
    EXPECT_FALSE(byPage.Error().IsError());
    EXPECT_FALSE(byPage.NextPage());
    EXPECT_TRUE(byPage.Records().empty());
    EXPECT_TRUE(byPage.Error().IsError());
}

}  // namespace
