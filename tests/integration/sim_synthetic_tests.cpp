// The generated tree under /synthetic: its shape and ids, listings that repeat exactly, paging,
// snapshots, its refusal of changes, its options, 64 clients at once, and a huge tree served at
// any point (what it costs in memory is a benchmark's: bench/run).
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "OptionText.h"
#include "Synthetic.h"
#include "Url.h"
#include "sim_client.h"
#include "synthetic_cluster.h"

namespace {

using clustersim::Options;
using clustersim::Simulator;
using clustersim::Synthetic;
using clustersim::SyntheticTree;
using simtest::AttributesTarget;
using simtest::Client;
using simtest::Cluster;
using simtest::Entries;
using simtest::EntriesTarget;
using simtest::Pages;
using simtest::Reply;
using simtest::SyntheticOptions;
using simtest::Text;

const std::string kDirectory = "FS_FILE_TYPE_DIRECTORY";

std::vector<std::string> Keys(const rapidjson::Value& object) {
    std::vector<std::string> keys;
    for (const auto& member : object.GetObject()) keys.push_back(member.name.GetString());
    return keys;
}

// The path of the first directory in a directory's listing; empty when there is none.
std::string FirstDirectory(Cluster& cluster, const std::string& path) {
    const rapidjson::Document entries = Entries(cluster, path, "limit=1000");
    for (const auto& entry : entries.GetArray()) {
        if (Text(entry, "type") == kDirectory) return Text(entry, "path");
    }
    return {};
}

TEST(SyntheticTree, GeneratorKeepsItsCountsIdsAndNames) {
    struct Shape {
        uint64_t files;
        uint64_t dirs;
        unsigned depth;
    };
    const std::vector<Shape> shapes = {{1, 1, 1},        {1, 2, 1},      {7, 8, 1},
                                       {10, 1, 4},       {100, 101, 7},  {1000, 37, 2},
                                       {999, 500, 1},    {5000, 300, 3}, {12345, 1000, 255},
                                       {20000, 2000, 4}, {4096, 3, 2}};
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.files) + " files, " + std::to_string(shape.dirs) +
                     " dirs, depth " + std::to_string(shape.depth));
        const Synthetic tree(SyntheticTree{shape.files, shape.dirs, shape.depth, 3}, 0);
        ASSERT_TRUE(tree.Enabled());
        const auto root = tree.Find({"synthetic"});
        ASSERT_TRUE(root);
        std::set<uint64_t> ids{root->attrs.id};
        uint64_t entries = 0;
        uint64_t directories = 0;
        size_t deepest = 0;
        // Each directory with its path names.
        std::vector<std::pair<uint64_t, clustersim::Names>> pending = {{0, {"synthetic"}}};
        while (!pending.empty()) {
            const auto [directory, names] = pending.back();
            pending.pop_back();
            ++directories;
            deepest = std::max(deepest, names.size() - 1);
            const auto named = tree.DirectoryNames(tree.Find(names)->attrs.id);
            ASSERT_TRUE(named && *named == names) << "the id of " << clustersim::JoinPath(names);
            const uint64_t count = tree.EntryCount(directory);
            std::string previous;
            for (uint64_t i = 0; i < count; ++i) {
                const auto entry = tree.Entry(directory, i);
                ++entries;
                ASSERT_TRUE(ids.insert(entry.attrs.id).second) << entry.name << " has a used id";
                ASSERT_LT(previous, entry.name) << "names sort in index order";
                previous = entry.name;
                ASSERT_EQ(i + 1, tree.FirstAfter(directory, entry.name));
                ASSERT_EQ(i,
                          tree.FirstAfter(directory, entry.name.substr(0, entry.name.size() - 1)));
                clustersim::Names path = names;
                path.push_back(entry.name);
                const auto found = tree.Find(path);
                ASSERT_TRUE(found) << entry.name;
                ASSERT_EQ(entry.attrs.id, found->attrs.id);
                if (entry.attrs.type == clustersim::FileType::Directory) {
                    pending.emplace_back(entry.directory, path);
                }
            }
        }
        EXPECT_EQ(shape.files, entries);
        EXPECT_EQ(shape.dirs, directories);
        EXPECT_LE(deepest, shape.depth);
        EXPECT_FALSE(tree.Find({"synthetic", "0000"})) << "a name's digits alone name nothing";
        EXPECT_FALSE(tree.DirectoryNames(*ids.rbegin() + 1));
    }
}

TEST(SyntheticTree, GeneratorHoldsAtATrillionEntries) {
    const std::vector<SyntheticTree> shapes = {
        {Synthetic::kMaxFiles, 10000000000, 1, 2},
        {Synthetic::kMaxFiles, Synthetic::kMaxFiles + 1, 2, 2},
        {Synthetic::kMaxFiles, 1, 4, 2},
        {Synthetic::kMaxFiles, 5000000, 255, 2}};
    for (const SyntheticTree& shape : shapes) {
        SCOPED_TRACE(std::to_string(shape.dirs) + " dirs");
        const Synthetic tree(shape, 0);
        const uint64_t count = tree.EntryCount(0);
        std::set<uint64_t> ids;
        for (const uint64_t i : {uint64_t{0}, uint64_t{1}, count / 2, count - 2, count - 1}) {
            const auto entry = tree.Entry(0, i);
            ids.insert(entry.attrs.id);
            EXPECT_LT(entry.attrs.id, uint64_t{1} << 53) << "exact in a double, too";
            EXPECT_EQ(i + 1, tree.FirstAfter(0, entry.name)) << entry.name;
            const auto found = tree.Find({"synthetic", entry.name});
            ASSERT_TRUE(found) << entry.name;
            EXPECT_EQ(entry.attrs.id, found->attrs.id);
            if (entry.attrs.type == clustersim::FileType::Directory) {
                const auto names = tree.DirectoryNames(entry.attrs.id);
                EXPECT_TRUE(names && names->back() == entry.name) << entry.name;
            }
        }
        EXPECT_EQ(5u, ids.size());
    }
}

TEST(SyntheticTree, WalkOverHttpVisitsEveryEntryOnceRenderedAsRealOnes) {
    Cluster cluster(SyntheticOptions(2000, 50, 3, 11));
    ASSERT_TRUE(cluster.started);
    std::set<std::string> ids;
    std::map<std::string, int> types;
    uint64_t directories = 0;
    size_t deepest = 0;
    // Directories still to list, with their entry objects from the parent's listing.
    const rapidjson::Document top = Entries(cluster, "/", "limit=2");
    rapidjson::Document pending(rapidjson::kArrayType);
    for (const auto& entry : top.GetArray()) {
        if (Text(entry, "name") == "synthetic") {
            pending.PushBack(rapidjson::Value(entry, pending.GetAllocator()),
                             pending.GetAllocator());
        }
    }
    ASSERT_EQ(1u, pending.Size()) << "/ lists /synthetic";
    while (!pending.Empty()) {
        const rapidjson::Value directory(pending[pending.Size() - 1], pending.GetAllocator());
        pending.PopBack();
        ++directories;
        const std::string path = Text(directory, "path");
        deepest = std::max<size_t>(deepest, std::count(path.begin(), path.end(), '/') - 2);
        const rapidjson::Document attributes =
            cluster.Get(AttributesTarget(path.substr(0, path.size() - 1))).Json();
        EXPECT_TRUE(attributes == directory) << path << ": attributes as the listing has them";
        const rapidjson::Document entries = Entries(cluster, path, "limit=37");
        EXPECT_EQ(directory["child_count"].GetUint64(), entries.Size()) << path;
        for (const auto& entry : entries.GetArray()) {
            EXPECT_TRUE(ids.insert(Text(entry, "id")).second) << Text(entry, "path");
            const std::string type = Text(entry, "type");
            ++types[type];
            const std::string slash = type == kDirectory ? "/" : "";
            EXPECT_EQ(path + Text(entry, "name") + slash, Text(entry, "path"));
            if (type == kDirectory) {
                pending.PushBack(rapidjson::Value(entry, pending.GetAllocator()),
                                 pending.GetAllocator());
            }
        }
    }
    EXPECT_EQ(2000u, ids.size());
    EXPECT_EQ(50u, directories);
    EXPECT_LE(deepest, 3u);
    EXPECT_EQ(49, types[kDirectory]);
    EXPECT_GT(types["FS_FILE_TYPE_SYMLINK"], 0);
    EXPECT_GT(types["FS_FILE_TYPE_FILE"], 10 * types["FS_FILE_TYPE_SYMLINK"]);
    EXPECT_EQ(3u, types.size());

    // The same members in the same order as the demo tree's entries of each kind.
    const auto real = Entries(cluster, "/home/alice", "limit=100");
    const auto synthetic = Entries(cluster, "/synthetic", "limit=100");
    ASSERT_GT(real.Size(), 0u);
    ASSERT_GT(synthetic.Size(), 0u);
    EXPECT_EQ(Keys(real[0]), Keys(synthetic[0]));
    const std::string file = Text(synthetic[0], "path");
    EXPECT_TRUE(cluster.Get(AttributesTarget(file)).Json() == synthetic[0]) << file;
    EXPECT_EQ(cluster.sim.FileId(file), std::stoull(Text(synthetic[0], "id")));
}

TEST(SyntheticTree, SameOptionsGiveTheSameBytesAndAnotherSeedAnotherTree) {
    const Options options = SyntheticOptions(3000, 40, 4, 5);
    Options bySimulatorSeed = SyntheticOptions(3000, 40, 4);
    bySimulatorSeed.seed = 5;
    Cluster first(options);
    Cluster second(options);
    Cluster followsSeed(bySimulatorSeed);
    Cluster otherSeed(SyntheticOptions(3000, 40, 4, 6));
    const std::string deep = FirstDirectory(first, FirstDirectory(first, "/synthetic"));
    ASSERT_FALSE(deep.empty());
    for (const std::string& path : {std::string("/synthetic"), deep}) {
        const auto pages = Pages(first, path, "limit=25");
        ASSERT_GT(pages.size(), 1u) << path;
        EXPECT_EQ(pages, Pages(second, path, "limit=25")) << path;
        EXPECT_EQ(pages, Pages(followsSeed, path, "limit=25")) << path << ": --seed by default";
    }
    EXPECT_NE(Pages(first, "/synthetic", "limit=25"), Pages(otherSeed, "/synthetic", "limit=25"));
}

TEST(SyntheticTree, PagesOfAnySizeAndLinksAgree) {
    Cluster cluster(SyntheticOptions(12000, 1, 1, 8));
    const rapidjson::Document whole = Entries(cluster, "/synthetic", "limit=100000");
    ASSERT_EQ(12000u, whole.Size());
    EXPECT_TRUE(whole == Entries(cluster, "/synthetic", "limit=13"));
    EXPECT_TRUE(whole == Entries(cluster, "/synthetic", "limit=999"));
    EXPECT_TRUE(whole == Entries(cluster, "/synthetic", "limit=1000000000000"))
        << "however big the limit";

    const auto pages = Pages(cluster, "/synthetic", "limit=500");
    ASSERT_GT(pages.size(), 3u);
    rapidjson::Document third;
    third.Parse(pages[2].c_str());
    EXPECT_EQ(pages[1], cluster.Get(third["paging"]["prev"].GetString()).body);
    EXPECT_EQ("", std::string(cluster.Get(EntriesTarget("/synthetic", "limit=500"))
                                  .Json()["paging"]["prev"]
                                  .GetString()));

    // `after` need not be a name: a name cut short sorts just before it.
    const std::string name = Text(whole[1234], "name");
    const auto page = cluster.Get(EntriesTarget(
        "/synthetic",
        "limit=2&after=" + clustersim::PercentEncode(name.substr(0, name.size() - 1))));
    EXPECT_EQ(name, Text(page.Json()["files"][0], "name"));
    EXPECT_EQ(400, cluster.Get(EntriesTarget("/synthetic", "limit=0")).status);
    const std::string file = Text(whole[1], "path");
    EXPECT_EQ(400, cluster.Get(EntriesTarget(file, "")).status) << "not a directory";
    EXPECT_EQ(404, cluster.Get(EntriesTarget("/synthetic/nothing", "")).status);
    EXPECT_EQ(404, cluster.Get(AttributesTarget(file + "x")).status);
}

TEST(SyntheticTree, SnapshotsSeeTheSameTree) {
    Cluster cluster(SyntheticOptions(2000, 30, 3, 4));
    const std::string directory = FirstDirectory(cluster, "/synthetic");
    const std::string sourceId = Text(cluster.Get(AttributesTarget(directory)).Json(), "id");
    const auto snapshot = [&](const std::string& id) {
        const Reply reply =
            cluster.client->Send("POST", "/v2/snapshots/", "{\"source_file_id\":\"" + id + "\"}");
        EXPECT_EQ(201, reply.status) << reply.body;
        return std::to_string(reply.Json()["id"].GetUint64());
    };
    const std::string older = snapshot(sourceId);
    const std::string newer = snapshot(sourceId);
    const std::string ofRoot = snapshot(Text(cluster.Get(AttributesTarget("/")).Json(), "id"));

    const auto live = Entries(cluster, directory, "limit=13");
    EXPECT_TRUE(live == Entries(cluster, directory, "limit=13&snapshot=" + older));
    EXPECT_TRUE(live == Entries(cluster, directory, "limit=13&snapshot=" + ofRoot));
    const std::string next = cluster.Get(EntriesTarget(directory, "limit=13&snapshot=" + older))
                                 .Json()["paging"]["next"]
                                 .GetString();
    EXPECT_NE(std::string::npos, next.find("&snapshot=" + older)) << next;
    EXPECT_EQ(404, cluster.Get(EntriesTarget("/synthetic", "snapshot=" + older)).status)
        << "outside the snapshot's source";
    const Reply changes = cluster.Get("/v2/snapshots/" + newer + "/changes-since/" + older);
    EXPECT_EQ(200, changes.status);
    EXPECT_TRUE(changes.Json()["entries"].Empty()) << "a synthetic tree never changes";
    EXPECT_NE(0u, cluster.sim.TakeSnapshot("direct", directory));
}

TEST(SyntheticTree, RefusesEveryChange) {
    Cluster cluster(SyntheticOptions(500, 10, 2, 1));
    Simulator& sim = cluster.sim;
    const std::string directory = FirstDirectory(cluster, "/synthetic");
    const std::string before = cluster.Get(EntriesTarget(directory, "")).body;
    const std::string entry = Text(Entries(cluster, directory, "")[0], "path");
    EXPECT_EQ(0u, sim.MakeDirectory(directory + "new"));
    EXPECT_EQ(0u, sim.WriteFile(directory + "new.txt", 5));
    EXPECT_EQ(0u, sim.WriteFile(entry, 5));
    EXPECT_EQ(0u, sim.MakeSymlink(directory + "link"));
    EXPECT_FALSE(sim.Remove(entry));
    EXPECT_FALSE(sim.Remove("/synthetic"));
    EXPECT_EQ(0u, sim.MakeDirectory("/synthetic"));
    EXPECT_EQ(before, cluster.Get(EntriesTarget(directory, "")).body);
    EXPECT_NE(0u, sim.MakeDirectory("/elsewhere/new")) << "the rest of the tree still changes";

    for (const char* method : {"POST", "PUT", "PATCH", "DELETE"}) {
        const Reply reply = cluster.client->Send(
            method, "/v1/files/" + clustersim::PercentEncode(entry) + "/data", "x");
        EXPECT_EQ(403, reply.status) << method;
        EXPECT_NE(std::string::npos, reply.Description().find("read-only")) << reply.body;
    }
    EXPECT_EQ(405, cluster.client->Send("DELETE", EntriesTarget("/home", "")).status)
        << "paths outside /synthetic answer as before";
}

TEST(SyntheticTree, OptionsAreCheckedWithAMessage) {
    const auto fromEnvironment = [](const char* value, Options* options, std::string* error) {
        return clustersim::OptionsFromLookup(
            [&](const char* name) {
                return std::string(name) == "CLUSTER_SIM_SYNTHETIC" ? value : nullptr;
            },
            options, error);
    };
    Options options;
    std::string error;
    ASSERT_TRUE(fromEnvironment("seed=9,dirs=3,files=10,depth=2", &options, &error)) << error;
    EXPECT_EQ(10u, options.synthetic.files);
    EXPECT_EQ(3u, options.synthetic.dirs);
    EXPECT_EQ(2u, options.synthetic.depth);
    EXPECT_EQ(9u, options.synthetic.seed.value_or(0));

    const std::map<std::string, std::string> bad = {
        {"files=10", "is not files=N,dirs=M"},
        {"dirs=3", "is not files=N,dirs=M"},
        {"files=0,dirs=1", "is not files=N,dirs=M"},
        {"files=10,dirs=3,colour=red", "is not files=N,dirs=M"},
        {"files=10,dirs=3,dirs=4", "is not files=N,dirs=M"},
        {"files=10,dirs=-3", "is not files=N,dirs=M"},
        {"files=10,,dirs=3", "is not files=N,dirs=M"},
        {"files=10,dirs=12", "dirs=12 needs files of at least 11"},
        {"files=10,dirs=0", "dirs must be at least 1"},
        {"files=10,dirs=3,depth=0", "depth must be from 1 to 255"},
        {"files=1000000000001,dirs=1", "is more than 1000000000000"},
    };
    for (const auto& [value, message] : bad) {
        Options untouched;
        EXPECT_FALSE(fromEnvironment(value.c_str(), &untouched, &error)) << value;
        EXPECT_EQ(0u, error.find("CLUSTER_SIM_SYNTHETIC")) << error;
        EXPECT_NE(std::string::npos, error.find(message)) << error;
        EXPECT_EQ(0u, untouched.synthetic.files) << value << ": left alone";
        const auto outcome = child::Run(CLUSTER_SIM_PATH, {"--synthetic", value}, {});
        EXPECT_EQ(2, outcome.status) << value;
        EXPECT_NE(std::string::npos, outcome.err.find(message)) << outcome.err;
    }

    Simulator simulator(SyntheticOptions(10, 20));
    EXPECT_FALSE(simulator.Start(&error));
    EXPECT_NE(std::string::npos, error.find("dirs=20 needs files of at least 19")) << error;
    const auto help = child::Run(CLUSTER_SIM_PATH, {"--help"}, {});
    EXPECT_NE(std::string::npos, help.out.find("--synthetic files=N,dirs=M[,depth=D][,seed=S]"));
}

TEST(SyntheticTree, SixtyFourClientsAtOnceKeepTheirConnections) {
    Cluster cluster(SyntheticOptions(1000, 10));
    const std::string token = cluster.client->token;
    cluster.client.reset();  // its connection would hold a worker too
    std::vector<std::unique_ptr<Client>> clients;
    const std::string target = EntriesTarget("/synthetic", "limit=1");
    for (int i = 0; i < 64; ++i) {
        clients.push_back(std::make_unique<Client>(cluster.sim));
        clients.back()->token = token;
        EXPECT_EQ(200, clients.back()->Get(target).status) << i;
    }
    // Each connection is still open and served: none was left waiting for a free worker.
    for (size_t i = 0; i < clients.size(); ++i) {
        const Reply reply = clients[i]->Get(target);
        EXPECT_EQ(200, reply.status) << i;
        EXPECT_EQ(0, reply.newConnections) << "client " << i << " had to connect again";
    }
}

TEST(SyntheticTree, HugeTreeIsServedAnywhere) {
    Cluster cluster(SyntheticOptions(100000000, 1000000));
    ASSERT_TRUE(cluster.started);
    // Down the first subdirectory of each level to the deepest one.
    std::string path = "/synthetic";
    size_t depth = 0;
    for (std::string next = FirstDirectory(cluster, path); !next.empty();
         next = FirstDirectory(cluster, path)) {
        path = next.substr(0, next.size() - 1);
        ++depth;
    }
    EXPECT_EQ(4u, depth) << path;
    const auto deepest = Entries(cluster, path, "limit=50");
    EXPECT_GT(deepest.Size(), 0u);
    EXPECT_EQ(200, cluster.Get(AttributesTarget(Text(deepest[0], "path"))).status);

    // One directory of a hundred million entries, read from the 99,999,000th: names start with
    // the index, zero-padded.
    Cluster flat(SyntheticOptions(100000000, 1));
    const auto root = flat.Get(AttributesTarget("/synthetic")).Json();
    EXPECT_EQ(100000000u, root["child_count"].GetUint64());
    const auto tail = Entries(flat, "/synthetic", "limit=400&after=99999000");
    ASSERT_EQ(1000u, tail.Size());
    EXPECT_EQ(0u, Text(tail[0], "name").find("99999000"));
    EXPECT_EQ(0u, Text(tail[999], "name").find("99999999"));
    std::set<std::string> ids;
    for (const auto& entry : tail.GetArray()) ids.insert(Text(entry, "id"));
    EXPECT_EQ(1000u, ids.size());
}

}  // namespace
