// The generated changes between synthetic-base and synthetic-target: their kinds and places,
// held against whole readings of both versions of the tree, paging through changed
// directories and through the changes, the two snapshots' endpoints, and the options.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ChildProcess.h"
#include "OptionText.h"
#include "SimState.h"
#include "Synthetic.h"
#include "SyntheticChanges.h"
#include "SyntheticView.h"
#include "synthetic_cluster.h"

namespace {

using clustersim::ChangeKind;
using clustersim::FileType;
using clustersim::Synthetic;
using clustersim::SyntheticChanges;
using clustersim::SyntheticEntry;
using clustersim::SyntheticTree;
using clustersim::SyntheticView;
using simtest::Cluster;
using simtest::Entries;
using simtest::EntriesTarget;
using simtest::Text;

const std::string kBase = std::to_string(Synthetic::kBaseSnapshotId);
const std::string kTarget = std::to_string(Synthetic::kTargetSnapshotId);

SyntheticTree Shape(uint64_t files, uint64_t dirs, uint64_t changes, double locality = 1.0,
                    uint64_t seed = 7) {
    SyntheticTree shape{files, dirs, 4, seed};
    shape.changes = changes;
    shape.locality = locality;
    return shape;
}

// A tree with its changes, read as Api reads it.
struct Generated {
    explicit Generated(const SyntheticTree& shape) : tree(shape, 0), changes(tree, shape) {}
    SyntheticView Base() const { return SyntheticView(tree, nullptr); }
    SyntheticView Target() const { return SyntheticView(tree, &changes); }

    Synthetic tree;
    SyntheticChanges changes;
};

// Every entry of a version of the tree by path, directories ending with "/".
using Reading = std::map<std::string, SyntheticEntry>;

Reading ReadAll(const SyntheticView& view) {
    Reading all;
    std::vector<std::pair<uint64_t, std::string>> pending = {{0, "/synthetic/"}};
    while (!pending.empty()) {
        const auto [directory, path] = pending.back();
        pending.pop_back();
        for (SyntheticEntry& entry : view.Page(directory, 0, view.EntryCount(directory))) {
            const bool isDirectory = entry.attrs.type == FileType::Directory;
            const std::string child = path + entry.name + (isDirectory ? "/" : "");
            if (isDirectory) pending.emplace_back(entry.directory, child);
            EXPECT_TRUE(all.emplace(child, std::move(entry)).second) << child << " twice";
        }
    }
    return all;
}

std::string Parent(const std::string& path) {
    const std::string trimmed = path.substr(0, path.size() - (path.back() == '/' ? 1 : 0));
    return trimmed.substr(0, trimmed.rfind('/') + 1);
}

auto Content(const clustersim::Attributes& a) {
    return std::make_tuple(a.size, a.modificationTime);
}

auto Metadata(const clustersim::Attributes& a) {
    return std::make_tuple(a.mode.value_or(0), a.owner, a.group);
}

// Each change against both readings: what it says happened is what the listings show.
void ExpectChangeShows(const clustersim::Change& change, ChangeKind kind, const Reading& base,
                       const Reading& target) {
    const std::string op = change.op;
    const auto before = base.find(change.path);
    const auto after = target.find(change.path);
    const bool created = kind == ChangeKind::CreateFile || kind == ChangeKind::CreateDirectory;
    EXPECT_EQ(created ? "CREATE" : kind == ChangeKind::Delete ? "DELETE" : "MODIFY", op);
    EXPECT_EQ(kind == ChangeKind::CreateDirectory, change.path.back() == '/') << change.path;
    EXPECT_EQ(!created, before != base.end()) << change.path << " in the base";
    EXPECT_EQ(kind != ChangeKind::Delete, after != target.end()) << change.path << " in the target";
    if (op != "MODIFY" || before == base.end() || after == target.end()) return;
    const clustersim::Attributes& old = before->second.attrs;
    const clustersim::Attributes& now = after->second.attrs;
    EXPECT_EQ(old.id, now.id) << change.path;
    EXPECT_NE(old.changeTime, now.changeTime) << change.path;
    if (kind == ChangeKind::ContentModify) {
        EXPECT_NE(old.size, now.size) << change.path;
        EXPECT_NE(old.modificationTime, now.modificationTime) << change.path;
        EXPECT_EQ(Metadata(old), Metadata(now)) << change.path;
    } else {
        EXPECT_EQ(Content(old), Content(now)) << change.path;
        EXPECT_NE(old.mode.value_or(0), now.mode.value_or(0)) << change.path;
        EXPECT_NE(old.owner, now.owner) << change.path;
        EXPECT_NE(old.group, now.group) << change.path;
    }
}

TEST(SyntheticChanges, KindsPlacesAndListingsAgree) {
    struct Case {
        SyntheticTree shape;
        std::map<ChangeKind, uint64_t> kinds;  // worked out by hand from the cycle of ten
    };
    const std::vector<Case> cases = {
        {Shape(5000, 60, 1234),
         {{ChangeKind::CreateFile, 248},
          {ChangeKind::CreateDirectory, 124},
          {ChangeKind::Delete, 247},
          {ChangeKind::ContentModify, 369},
          {ChangeKind::MetadataModify, 246}}},
        {Shape(3000, 40, 7, 0.3),
         {{ChangeKind::CreateFile, 2},
          {ChangeKind::CreateDirectory, 1},
          {ChangeKind::Delete, 2},
          {ChangeKind::ContentModify, 2}}},
        {Shape(20000, 100, 1001, 0.1, 3),
         {{ChangeKind::CreateFile, 201},
          {ChangeKind::CreateDirectory, 100},
          {ChangeKind::Delete, 200},
          {ChangeKind::ContentModify, 300},
          {ChangeKind::MetadataModify, 200}}},
        // Every file and symlink changed: 100 entries less 4 directories.
        {Shape(100, 5, 96),
         {{ChangeKind::CreateFile, 20},
          {ChangeKind::CreateDirectory, 10},
          {ChangeKind::Delete, 20},
          {ChangeKind::ContentModify, 28},
          {ChangeKind::MetadataModify, 18}}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.shape.changes) + " changes at locality " +
                     std::to_string(test.shape.locality));
        std::string error;
        ASSERT_TRUE(Synthetic::Check(test.shape, 0, &error)) << error;
        const Generated generated(test.shape);
        const Reading base = ReadAll(generated.Base());
        const Reading target = ReadAll(generated.Target());
        const uint64_t count = generated.changes.Count();
        ASSERT_EQ(test.shape.changes, count);
        const auto changes = generated.changes.Page(0, count, false);
        ASSERT_EQ(count, changes.size());

        std::map<ChangeKind, uint64_t> kinds;
        std::set<std::string> paths;
        std::set<std::string> created;
        std::set<std::string> deleted;
        std::set<std::string> parentsLeft;
        std::string parent;
        for (uint64_t i = 0; i < count; ++i) {
            const ChangeKind kind = generated.changes.At(i).kind;
            ++kinds[kind];
            ExpectChangeShows(changes[i], kind, base, target);
            paths.insert(changes[i].path);
            const std::string op = changes[i].op;
            if (op == "CREATE") created.insert(changes[i].path);
            if (op == "DELETE") deleted.insert(changes[i].path);
            if (Parent(changes[i].path) != parent) {
                EXPECT_TRUE(parentsLeft.insert(parent).second) << "back in " << parent;
                parent = Parent(changes[i].path);
            }
        }
        EXPECT_EQ(test.kinds, kinds);
        EXPECT_EQ(count, paths.size()) << "each change has a path of its own";

        // The target is the base less the deletes plus the creates, and nothing else moved.
        std::set<uint64_t> baseIds;
        for (const auto& [path, entry] : base) {
            baseIds.insert(entry.attrs.id);
            EXPECT_EQ(deleted.count(path) == 0, target.count(path) == 1) << path;
        }
        for (const auto& [path, entry] : target) {
            EXPECT_EQ(created.count(path) == 0, base.count(path) == 1) << path;
            if (created.count(path)) {
                EXPECT_EQ(0u, baseIds.count(entry.attrs.id)) << path << " has a base id";
            }
            if (entry.attrs.type == FileType::Directory) {
                const auto inside = std::count_if(target.begin(), target.end(), [&](const auto& e) {
                    return Parent(e.first) == path;
                });
                EXPECT_EQ(static_cast<uint64_t>(inside), entry.childCount) << path;
            }
        }
        EXPECT_EQ(base.size() - deleted.size() + created.size(), target.size());
    }
}

TEST(SyntheticChanges, LocalityGathersTheChangesInFewDirectories) {
    const auto parents = [](double locality) {
        const Generated generated(Shape(200000, 2000, 1000, locality, 5));
        std::set<std::string> all;
        for (const auto& change : generated.changes.Page(0, generated.changes.Count(), false)) {
            all.insert(Parent(change.path));
        }
        return all.size();
    };
    const size_t spread = parents(1.0);
    const size_t gathered = parents(0.01);
    EXPECT_GT(spread, 900u) << "a thousand changes over 2000 directories";
    EXPECT_LE(gathered, 20u) << "1% of 2000 directories";
    EXPECT_GT(gathered, 1u);
}

// Pages of any size, by position and by the name of the last entry, as Api pages.
TEST(SyntheticChanges, ChangedDirectoriesPageAlike) {
    const Generated generated(Shape(4000, 8, 2500, 1.0, 11));
    const SyntheticView target = generated.Target();
    for (uint64_t directory = 0; directory < 8; ++directory) {
        const uint64_t count = target.EntryCount(directory);
        const auto whole = target.Page(directory, 0, count);
        ASSERT_EQ(count, whole.size());
        for (const uint64_t size : {1, 3, 7}) {
            uint64_t position = 0;
            for (uint64_t begin = 0; begin < count; begin += size) {
                for (const SyntheticEntry& entry : target.Page(directory, begin, begin + size)) {
                    ASSERT_EQ(whole[position].name, entry.name) << position;
                    ASSERT_EQ(whole[position].name, target.Name(directory, position));
                    ++position;
                }
                ASSERT_EQ(std::min(count, begin + size),
                          target.FirstAfter(directory, whole[position - 1].name));
            }
            EXPECT_EQ(count, position);
        }
        const std::string& name = whole[count / 2].name;
        EXPECT_EQ(count / 2, target.FirstAfter(directory, name.substr(0, name.size() - 1)))
            << "text between two names";
    }
}

TEST(SyntheticChanges, SameSeedSameChangesOtherSeedOthers) {
    const auto paths = [](uint64_t seed) {
        const Generated generated(Shape(6000, 90, 500, 0.2, seed));
        std::vector<std::string> all;
        for (const auto& change : generated.changes.Page(0, 500, false)) {
            all.push_back(std::string(change.op) + " " + change.path);
        }
        return all;
    };
    EXPECT_EQ(paths(21), paths(21));
    EXPECT_NE(paths(21), paths(22));
}

TEST(SyntheticChanges, SnapshotIdsAreNeverHandedOut) {
    clustersim::SnapshotStore store;
    store.Restore({}, Synthetic::kBaseSnapshotId);
    EXPECT_EQ(Synthetic::kTargetSnapshotId + 1, store.Add({})->id);
    EXPECT_LE(Synthetic::kTargetSnapshotId, uint64_t{INT32_MAX}) << "listings read ints";
}

TEST(SyntheticChanges, SnapshotsServeTheChangesPageByPage) {
    clustersim::Options options = simtest::SyntheticOptions(3000, 30, 3, 9);
    options.synthetic.changes = 333;
    Cluster cluster(options);
    const auto snapshot = cluster.Get("/v2/snapshots/" + kTarget).Json();
    EXPECT_EQ("synthetic-target", Text(snapshot, "name"));
    EXPECT_EQ(Text(cluster.Get(simtest::AttributesTarget("/synthetic")).Json(), "id"),
              Text(snapshot, "source_file_id"));
    const auto listed = cluster.Get("/v2/snapshots/").Json();
    std::set<std::string> names;
    for (const auto& entry : listed["entries"].GetArray()) names.insert(Text(entry, "name"));
    EXPECT_TRUE(names.count("synthetic-base") && names.count("synthetic-target"));
    const auto refused = cluster.client->Send("DELETE", "/v2/snapshots/" + kBase);
    EXPECT_EQ(403, refused.status) << refused.body;
    EXPECT_EQ(200, cluster.Get("/v2/snapshots/" + kBase).status) << "still there";

    const auto changesSince = [&](const std::string& newer, const std::string& older,
                                  const std::string& query) {
        return simtest::Collect(
            simtest::PagesFrom(cluster,
                               "/v2/snapshots/" + newer + "/changes-since/" + older + "?" + query),
            "entries");
    };
    const auto forward = changesSince(kTarget, kBase, "limit=40");
    ASSERT_EQ(333u, forward.Size());
    EXPECT_TRUE(forward == changesSince(kTarget, kBase, "limit=1000"));
    const auto inverse = changesSince(kBase, kTarget, "");
    ASSERT_EQ(333u, inverse.Size());
    const std::map<std::string, std::string> opposite = {
        {"CREATE", "DELETE"}, {"DELETE", "CREATE"}, {"MODIFY", "MODIFY"}};
    for (rapidjson::SizeType i = 0; i < forward.Size(); ++i) {
        EXPECT_EQ(Text(forward[i], "path"), Text(inverse[i], "path"));
        EXPECT_EQ(opposite.at(Text(forward[i], "op")), Text(inverse[i], "op"));
    }
    EXPECT_EQ(0u, changesSince(kTarget, kTarget, "").Size());
    const std::string taken = std::to_string(cluster.sim.TakeSnapshot("mine", "/synthetic"));
    EXPECT_EQ(0u, changesSince(taken, kBase, "").Size()) << "a snapshot taken sees the base";
    EXPECT_TRUE(forward == changesSince(kTarget, taken, "limit=100"));

    // A created path exists only as of the target, a deleted one everywhere else. One of each
    // is enough over HTTP: the readings above hold every change against the listings.
    std::set<std::string> seen;
    for (const auto& change : forward.GetArray()) {
        const std::string path = Text(change, "path");
        const std::string op = Text(change, "op");
        if (op == "MODIFY" || !seen.insert(op).second) continue;
        const auto siblings = [&](const std::string& id) {
            std::set<std::string> all;
            const auto entries = Entries(cluster, Parent(path), "limit=5&snapshot=" + id);
            for (const auto& entry : entries.GetArray()) all.insert(Text(entry, "path"));
            return all;
        };
        EXPECT_EQ(op == "CREATE", siblings(kTarget).count(path) == 1) << path;
        EXPECT_EQ(op == "DELETE", siblings(kBase).count(path) == 1) << path;
        const std::string live = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
        EXPECT_EQ(op == "DELETE" ? 200 : 404, cluster.Get(simtest::AttributesTarget(live)).status)
            << path;
    }
    EXPECT_EQ(2u, seen.size());
}

// "after" names that fall on created or deleted names resume right after them.
TEST(SyntheticChanges, ListingsAfterChangedNames) {
    clustersim::Options options = simtest::SyntheticOptions(600, 3, 2, 4);
    options.synthetic.changes = 400;
    Cluster cluster(options);
    const Generated generated(options.synthetic);
    const auto whole = Entries(cluster, "/synthetic", "limit=1000&snapshot=" + kTarget);
    EXPECT_TRUE(whole == Entries(cluster, "/synthetic", "limit=3&snapshot=" + kTarget));
    std::vector<std::string> names;
    for (const auto& entry : whole.GetArray()) names.push_back(Text(entry, "name"));
    std::map<std::string, int> tried;
    for (const auto& change : generated.changes.Page(0, generated.changes.Count(), false)) {
        if (Parent(change.path) != "/synthetic/" || tried[change.op]++ > 3) continue;
        std::string name = change.path.substr(std::string("/synthetic/").size());
        if (name.back() == '/') name.pop_back();
        const auto next = std::upper_bound(names.begin(), names.end(), name);
        const auto page = cluster.Get(EntriesTarget(
            "/synthetic",
            "limit=2&snapshot=" + kTarget + "&after=" + clustersim::PercentEncode(name)));
        const auto json = page.Json();
        const auto files = json["files"].GetArray();
        ASSERT_EQ(next == names.end(), files.Empty()) << name;
        if (!files.Empty()) {
            EXPECT_EQ(*next, Text(files[0], "name")) << "after " << change.op << " " << name;
        }
    }
    EXPECT_GE(tried["CREATE"], 3);
    EXPECT_GE(tried["DELETE"], 3);
}

TEST(SyntheticChanges, WithoutChangesBothSnapshotsListTheSame) {
    Cluster cluster(simtest::SyntheticOptions(2000, 20, 3, 2));
    EXPECT_TRUE(Entries(cluster, "/synthetic", "limit=50&snapshot=" + kBase) ==
                Entries(cluster, "/synthetic", "limit=50&snapshot=" + kTarget));
    EXPECT_EQ(0u, simtest::Collect(simtest::PagesFrom(cluster, "/v2/snapshots/" + kTarget +
                                                                   "/changes-since/" + kBase),
                                   "entries")
                      .Size());
}

TEST(SyntheticChanges, OptionsAreCheckedWithTheNumbers) {
    clustersim::Options options;
    std::string error;
    const auto read = [&](const char* value) {
        return clustersim::OptionsFromLookup(
            [&](const char* name) {
                return std::string(name) == "CLUSTER_SIM_SYNTHETIC" ? value : nullptr;
            },
            &options, &error);
    };
    ASSERT_TRUE(read("files=100,dirs=5,changes=96,locality=1.0")) << error;
    EXPECT_EQ(96u, options.synthetic.changes);
    ASSERT_TRUE(read("files=100,dirs=5,changes=3,locality=0.25")) << error;
    EXPECT_EQ(0.25, options.synthetic.locality);
    const std::map<std::string, std::string> bad = {
        {"files=100,dirs=5,changes=97",
         "changes=97 needs a file or symlink for each change, and the changed directories (5 "
         "of 5 at locality=1) hold 96"},
        {"files=100,dirs=5,changes=3,locality=0", "locality=0 must be above 0 and at most 1"},
        {"files=100,dirs=5,changes=3,locality=1.5", "is not files=N,dirs=M"},
        {"files=100,dirs=5,changes=3,locality=1e-3", "is not files=N,dirs=M"},
        {"files=100,dirs=5,changes=-3", "is not files=N,dirs=M"},
    };
    for (const auto& [value, message] : bad) {
        EXPECT_FALSE(read(value.c_str())) << value;
        EXPECT_NE(std::string::npos, error.find(message)) << error;
        const auto outcome = child::Run(CLUSTER_SIM_PATH, {"--synthetic", value}, {});
        EXPECT_EQ(2, outcome.status) << value;
        EXPECT_NE(std::string::npos, outcome.err.find(message)) << outcome.err;
    }
    const auto help = child::Run(CLUSTER_SIM_PATH, {"--help"}, {});
    EXPECT_NE(std::string::npos, help.out.find("[,changes=C[,locality=L]]"));
}

}  // namespace
