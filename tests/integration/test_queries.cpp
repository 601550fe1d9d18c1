// The query classes against the simulated cluster: what goes on the wire, what comes back,
// and what the caller's lists and links hold after a failure.
#include <algorithm>
#include <limits>
#include <set>

#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterShares.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "ClusterWalk/Pager.h"
#include "SimFixture.h"
#include "tests/support/Signatures.h"

using namespace Cluster;
using clustersim::Fault;

namespace {

Fault Answer(const std::string& method, const std::string& prefix, int status,
             const std::string& body, int remaining = -1) {
    Fault fault;
    fault.kind = Fault::Kind::Respond;
    fault.method = method;
    fault.pathPrefix = prefix;
    fault.status = status;
    fault.body = body;
    fault.remaining = remaining;
    return fault;
}

class QueryTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        LogIn();
        snapshots = boost::make_shared<CSnapshotQueries>(connection, parser);
        files = boost::make_shared<CFileSystemQueries>(connection, parser);
        shares = boost::make_shared<CShares>(connection, parser);
    }

    std::string LastTarget() { return sim.Journal().back().target; }

    // Every page of a directory, read by the walker clusterctl uses; the targets requested go
    // to `targets`.
    std::vector<CDirectoryEntry> WalkDirectory(const std::string& path, int snapshotId,
                                               std::vector<std::string>* targets = nullptr) {
        std::vector<CDirectoryEntry> all;
        clusterwalk::PageCount count;
        const CZuError error = clusterwalk::WalkPages<CDirectoryEntry>(
            [&](const std::string& pageLink, std::list<CDirectoryEntry>& page,
                std::string& nextLink) {
                CZuError read =
                    files->GetDirectoryEntries(path, page, nextLink, snapshotId, pageLink);
                if (!read.IsError() && targets != nullptr) targets->push_back(LastTarget());
                return read;
            },
            [&all](std::list<CDirectoryEntry>& page) {
                all.insert(all.end(), page.begin(), page.end());
                return CZuError::Success();
            },
            count);
        EXPECT_FALSE(error.IsError()) << error.ToString();
        return all;
    }

    boost::shared_ptr<CSnapshotQueries> snapshots;
    boost::shared_ptr<CFileSystemQueries> files;
    boost::shared_ptr<CShares> shares;
};

TEST_F(QueryTest, SnapshotsAreCreatedListedAndDeleted) {
    const uint64_t sourceId = sim.MakeDirectory("/data");
    CSnapshotInfo created;
    const CZuError error = snapshots->CreateSnapshot("nightly", sourceId, created, "");
    ASSERT_FALSE(error.IsError()) << error.ToString();
    const auto journal = sim.Journal();
    EXPECT_EQ("POST", journal.back().method);
    EXPECT_EQ("/v2/snapshots/", journal.back().target);
    EXPECT_EQ("{\"expiration\":\"\",\"name\":\"nightly\",\"source_file_id\":\"" +
                  std::to_string(sourceId) + "\"}",
              journal.back().body);
    EXPECT_EQ("nightly", created.name);
    EXPECT_EQ(sourceId, created.sourceFileId);
    EXPECT_NE(0u, created.id);
    EXPECT_GT(created.timestamp, 1500000000);
    EXPECT_FALSE(created.directoryName.empty());

    std::list<CSnapshotInfo> listed(1);  // a record already there stays first
    ASSERT_FALSE(snapshots->ListSnapshots(listed).IsError());
    EXPECT_EQ("GET", sim.Journal().back().method);
    EXPECT_EQ("/v2/snapshots/", LastTarget());
    EXPECT_EQ("", listed.front().name);
    const auto found = std::find_if(listed.begin(), listed.end(),
                                    [&](const CSnapshotInfo& s) { return s.id == created.id; });
    ASSERT_NE(listed.end(), found);
    EXPECT_EQ(created.timestamp, found->timestamp);

    ASSERT_FALSE(snapshots->DeleteSnapshot(created.id).IsError());
    EXPECT_EQ("DELETE", sim.Journal().back().method);
    EXPECT_EQ("/v2/snapshots/" + std::to_string(created.id), LastTarget());
    EXPECT_EQ("", sim.Journal().back().body);
    EXPECT_TRUE(snapshots->DeleteSnapshot(created.id).IsError());
}

TEST_F(QueryTest, DiffIsWalkedPageByPageIntoOneList) {
    sim.MakeDirectory("/proj/old");
    sim.WriteFile("/proj/keep.txt", 10);
    sim.WriteFile("/proj/change.txt", 10);
    sim.WriteFile("/proj/old/gone.txt", 10);
    const uint64_t base = sim.TakeSnapshot("base", "/proj");
    sim.WriteFile("/proj/change.txt", 99);
    sim.Remove("/proj/old");
    sim.MakeDirectory("/proj/new");
    for (int i = 0; i < 4; ++i) sim.WriteFile("/proj/new/f" + std::to_string(i), 1);
    const uint64_t target = sim.TakeSnapshot("target", "/proj");

    std::list<CSnapshotDiffInfo> changes;
    std::vector<std::string> targets;
    clusterwalk::PageCount count;
    const CZuError error = clusterwalk::WalkPages<CSnapshotDiffInfo>(
        [&](const std::string& pageLink, std::list<CSnapshotDiffInfo>& page,
            std::string& nextLink) {
            nextLink = "stale";  // a page must overwrite it
            CZuError read = snapshots->GetSnapshotDiff(base, target, page, nextLink, pageLink);
            targets.push_back(LastTarget());
            return read;
        },
        [&changes](std::list<CSnapshotDiffInfo>& page) {
            changes.splice(changes.end(), page);
            return CZuError::Success();
        },
        count);
    ASSERT_FALSE(error.IsError()) << error.ToString();

    EXPECT_EQ("/v2/snapshots/" + std::to_string(target) + "/changes-since/" + std::to_string(base),
              targets.front());
    ASSERT_GT(targets.size(), 1u);
    std::map<std::string, SnapshotDiffOperation> seen;
    for (const auto& change : changes) {
        EXPECT_EQ(change.isDirectory, change.path.back() == '/') << change.path;
        EXPECT_TRUE(seen.emplace(change.path, change.operation).second) << change.path;
    }
    EXPECT_EQ(SNAPSHOT_DIFF_MODIFY, seen.at("/proj/change.txt"));
    EXPECT_EQ(SNAPSHOT_DIFF_DELETE, seen.at("/proj/old/"));
    EXPECT_EQ(SNAPSHOT_DIFF_CREATE, seen.at("/proj/new/"));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(SNAPSHOT_DIFF_CREATE, seen.at("/proj/new/f" + std::to_string(i)));
    EXPECT_EQ(0u, seen.count("/proj/keep.txt"));
}

TEST_F(QueryTest, PageLinkIsSentUnchangedWhateverTheIds) {
    std::list<CSnapshotDiffInfo> changes;
    std::string nextLink;
    sim.AddFault(Answer("GET", "/custom", 200, "{\"entries\":[],\"paging\":{\"next\":\"\"}}"));
    ASSERT_FALSE(
        snapshots->GetSnapshotDiff(3, 7, changes, nextLink, "/custom?after=a%2Fb&x=1").IsError());
    EXPECT_EQ("/custom?after=a%2Fb&x=1", LastTarget());
    sim.AddFault(
        Answer("GET", "/v2/snapshots/7/", 200, "{\"entries\":[],\"paging\":{\"next\":\"\"}}"));
    ASSERT_FALSE(snapshots->GetSnapshotDiff(3, 7, changes, nextLink, "").IsError());
    EXPECT_EQ("/v2/snapshots/7/changes-since/3", LastTarget());
}

TEST_F(QueryTest, FailedRequestLeavesListAndLinkUntouched) {
    std::list<CSnapshotInfo> listed(2);
    sim.AddFault(Answer("GET", "/v2/snapshots/", 500, "{\"description\":\"busy\"}"));
    const CZuError error = snapshots->ListSnapshots(listed);
    EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kListSnapshots}),
              Trail(error));
    EXPECT_EQ(2u, listed.size());

    std::list<CSnapshotDiffInfo> changes(1);
    std::string nextLink = "previous";
    const CZuError diffError = snapshots->GetSnapshotDiff(1, 2, changes, nextLink, "");
    EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kGetSnapshotDiff}),
              Trail(diffError));
    EXPECT_EQ(1u, changes.size());
    EXPECT_EQ("previous", nextLink);
}

TEST_F(QueryTest, ParseFailureCarriesEveryLayer) {
    sim.AddFault(
        Answer("GET", "/v2/snapshots/", 200,
               "{\"entries\":[{\"in_delete\":false,\"name\":\"a\",\"source_file_id\":\"1\","
               "\"created_by_policy\":false,\"expiration\":\"\",\"directory_name\":\"d\","
               "\"id\":1,\"timestamp\":\"yesterday\"}]}"));
    std::list<CSnapshotInfo> listed;
    const CZuError error = snapshots->ListSnapshots(listed);
    EXPECT_EQ("Cannot retrieve time from the string : yesterday", error.GetMessage());
    EXPECT_EQ(std::vector<std::string>(
                  {signatures::kConvertStringToTimeStamp, signatures::kGetSnapshotInformation,
                   signatures::kGetSnapshotsInformation, signatures::kListSnapshots}),
              Trail(error));
    EXPECT_TRUE(listed.empty());
}

TEST_F(QueryTest, DirectoryIsWalkedLiveAndAsOfASnapshot) {
    for (int i = 0; i < 8; ++i) sim.WriteFile("/walk/f" + std::to_string(i), i);
    sim.MakeDirectory("/walk/sub");
    const uint64_t frozen = sim.TakeSnapshot("frozen", "/walk");
    sim.Remove("/walk/f0");
    sim.WriteFile("/walk/late", 5);

    std::vector<std::string> targets;
    const auto live = WalkDirectory("/walk", 0, &targets);
    EXPECT_EQ("/v1/files/%2Fwalk/entries/", targets.front());
    EXPECT_GE(targets.size(), 3u);
    std::set<std::string> livePaths;
    for (const auto& entry : live) livePaths.insert(entry.path);
    EXPECT_EQ(9u, livePaths.size());
    EXPECT_EQ(1u, livePaths.count("/walk/late"));
    EXPECT_EQ(0u, livePaths.count("/walk/f0"));
    EXPECT_EQ(1u, livePaths.count("/walk/sub/"));

    targets.clear();
    const auto asOfSnapshot = WalkDirectory("/walk", static_cast<int>(frozen), &targets);
    EXPECT_EQ("/v1/files/%2Fwalk/entries/?snapshot=" + std::to_string(frozen), targets.front());
    std::set<std::string> frozenPaths;
    for (const auto& entry : asOfSnapshot) {
        frozenPaths.insert(entry.path);
        EXPECT_EQ(entry.isDirectory, entry.path == "/walk/sub/");
    }
    EXPECT_EQ(9u, frozenPaths.size());
    EXPECT_EQ(1u, frozenPaths.count("/walk/f0"));
    EXPECT_EQ(0u, frozenPaths.count("/walk/late"));
}

TEST_F(QueryTest, ReservedCharactersAndUtf8NamesRoundTrip) {
    const std::vector<std::string> names = {
        "a#b", "50%+off?.txt", "notes 2026.txt", "x&y=z", "caf\xC3\xA9", "%2F", "semi;colon"};
    for (const auto& name : names) sim.WriteFile("/odd/" + name, 7);
    std::set<std::string> listed;
    for (const auto& entry : WalkDirectory("/odd", 0)) listed.insert(entry.path);
    for (const auto& name : names) {
        EXPECT_EQ(1u, listed.count("/odd/" + name)) << name;
        CFileAttributeInfo info;
        const CZuError error = files->GetFileAttributes("/odd/" + name, info, 0);
        ASSERT_FALSE(error.IsError()) << name << ": " << error.ToString();
        EXPECT_EQ("/odd/" + name, info.path);
        EXPECT_EQ(7u, info.size);
        EXPECT_EQ(sim.FileId("/odd/" + name), info.id);
    }
    CFileAttributeInfo info;
    ASSERT_FALSE(files->GetFileAttributes("/odd/a#b", info, 0).IsError());
    EXPECT_EQ("/v1/files/%2Fodd%2Fa%23b/info/attributes", LastTarget());
}

TEST_F(QueryTest, ListingRequestPathsAndTheEmptiedList) {
    std::list<CDirectoryEntry> entries(4);
    std::string nextLink = "previous";
    ASSERT_FALSE(files->GetDirectoryEntries("/", entries, nextLink, 0, "").IsError());
    EXPECT_EQ("/v1/files/%2F/entries/", LastTarget());
    EXPECT_LE(entries.size(), 3u);
    EXPECT_NE("previous", nextLink);

    entries.resize(4);
    nextLink = "previous";
    const CZuError missing = files->GetDirectoryEntries("/dir/sub", entries, nextLink, 5, "");
    EXPECT_TRUE(missing.IsError());
    EXPECT_EQ("/v1/files/%2Fdir%2Fsub/entries/?snapshot=5", LastTarget());
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ("previous", nextLink);
    EXPECT_EQ(
        std::vector<std::string>({signatures::kSendRequest, signatures::kGetDirectoryEntries}),
        Trail(missing));

    files->GetDirectoryEntries("/dir/sub", entries, nextLink, -1, "");
    EXPECT_EQ("/v1/files/%2Fdir%2Fsub/entries/?snapshot=-1", LastTarget());

    entries.resize(2);
    const size_t sent = sim.Journal().size();
    const CZuError invalid = files->GetDirectoryEntries("", entries, nextLink, 0, "");
    EXPECT_EQ(87u, invalid.GetCode());
    EXPECT_EQ("Invalid Path ", invalid.GetMessage());
    EXPECT_EQ(std::vector<std::string>(
                  {signatures::kConvertPathToURLEncoding, signatures::kGetDirectoryEntries}),
              Trail(invalid));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(sent, sim.Journal().size());

    sim.AddFault(Answer("GET", "/somewhere", 200, "{\"files\":[],\"paging\":{\"next\":\"\"}}"));
    ASSERT_FALSE(files->GetDirectoryEntries("", entries, nextLink, 0, "/somewhere?x=1").IsError());
    EXPECT_EQ("/somewhere?x=1", LastTarget());
    EXPECT_EQ("", nextLink);
}

TEST_F(QueryTest, AttributesIgnoreTheThirdArgumentAndReadModeInBaseTen) {
    sim.WriteFile("/f", 1234);
    for (const int third : {0, 5, -1}) {
        CFileAttributeInfo info;
        ASSERT_FALSE(files->GetFileAttributes("/f", info, third).IsError());
        EXPECT_EQ("/v1/files/%2Ff/info/attributes", LastTarget());
        EXPECT_EQ(644u, info.mode);
        EXPECT_EQ(1234u, info.size);
        EXPECT_FALSE(info.isDirectory);
        EXPECT_GT(info.modificationTime, 1500000000);
    }
    std::list<CDirectoryEntry> entries;
    std::string nextLink;
    ASSERT_FALSE(files->GetDirectoryEntries("/", entries, nextLink, 0, "").IsError());
    for (const auto& entry : entries)
        EXPECT_TRUE(entry.mode == 0644 || entry.mode == 0755 || entry.mode == 0777);
}

TEST_F(QueryTest, SharesAndExportsAreListedAndRead) {
    const uint64_t shareId = sim.AddSmbShare("projects", "/projects", "Projets \xC3\xA9quipe");
    const uint64_t exportId = sim.AddNfsExport("/exports/projects", "/projects", "team export");

    std::list<CSMBShareEntry> smb;
    ASSERT_FALSE(shares->GetSMBShares(smb).IsError());
    EXPECT_EQ("/v1/smb/shares/", LastTarget());
    const size_t count = smb.size();
    ASSERT_FALSE(shares->GetSMBShares(smb).IsError());
    EXPECT_EQ(2 * count, smb.size());
    CSMBShareEntry share;
    ASSERT_FALSE(shares->GetSMBShare(shareId, share).IsError());
    EXPECT_EQ("/v1/smb/shares/" + std::to_string(shareId), LastTarget());
    EXPECT_EQ("projects", share.shareName);
    EXPECT_EQ("Projets \xC3\xA9quipe", share.description);
    EXPECT_EQ("/projects", share.fsPath);
    EXPECT_EQ(shareId, share.id);
    EXPECT_EQ(4u, share.defaultFileCreateMode.size());

    std::list<CNFSExportEntry> nfs;
    ASSERT_FALSE(shares->GetNFSExports(nfs).IsError());
    EXPECT_EQ("/v2/nfs/exports/", LastTarget());
    CNFSExportEntry nfsExport;
    ASSERT_FALSE(shares->GetNFSExport(exportId, nfsExport).IsError());
    EXPECT_EQ("/v2/nfs/exports/" + std::to_string(exportId), LastTarget());
    EXPECT_EQ("/exports/projects", nfsExport.exportPath);
    EXPECT_EQ("team export", nfsExport.description);
    for (const auto& request : sim.Journal()) {
        EXPECT_EQ("GET", request.method);
        EXPECT_EQ("", request.body);
    }
}

TEST_F(QueryTest, UnknownShareIdsAreRequestedInFullDecimal) {
    CSMBShareEntry share;
    share.shareName = "kept";
    const CZuError error = shares->GetSMBShare(std::numeric_limits<uint64_t>::max(), share);
    EXPECT_EQ("/v1/smb/shares/18446744073709551615", LastTarget());
    EXPECT_TRUE(error.IsError());
    EXPECT_EQ("kept", share.shareName);
    CNFSExportEntry nfsExport;
    EXPECT_TRUE(shares->GetNFSExport(0, nfsExport).IsError());
    EXPECT_EQ("/v2/nfs/exports/0", LastTarget());
    EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kGetNFSExport}),
              Trail(shares->GetNFSExport(0, nfsExport)));
}

TEST_F(QueryTest, BadShareElementCarriesThreeLocationsAndKeepsEarlierShares) {
    sim.AddFault(
        Answer("GET", "/v1/smb/shares/", 200,
               "[{\"read_only\":false,\"description\":\"\",\"share_name\":\"a\","
               "\"default_directory_create_mode\":\"0755\",\"fs_path\":\"/a\","
               "\"allow_guest_access\":false,\"access_based_enumeration_enabled\":false,"
               "\"id\":\"1\",\"default_file_create_mode\":\"0644\"},{\"read_only\":true}]"));
    std::list<CSMBShareEntry> smb;
    const CZuError error = shares->GetSMBShares(smb);
    EXPECT_EQ(
        std::vector<std::string>({signatures::kGetSMBShareInformation,
                                  signatures::kGetSMBSharesInformation, signatures::kGetSMBShares}),
        Trail(error));
    EXPECT_EQ("Unable to SMB share entry {\"read_only\":true} due to key 'description' not found",
              error.GetMessage());
    ASSERT_EQ(1u, smb.size());
    EXPECT_EQ("a", smb.front().shareName);
}

TEST_F(QueryTest, QueryObjectsWithoutCollaboratorsRefuseInsteadOfCrashing) {
    CShares orphan(boost::shared_ptr<CConnection>(), parser);
    std::list<CSMBShareEntry> smb;
    EXPECT_EQ(774u, orphan.GetSMBShares(smb).GetCode());
    CFileSystemQueries noParser(connection, boost::shared_ptr<CParser>());
    std::list<CDirectoryEntry> entries;
    std::string nextLink;
    EXPECT_EQ(774u, noParser.GetDirectoryEntries("/", entries, nextLink, 0, "").GetCode());
}

}  // namespace
