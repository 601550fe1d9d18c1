// `clusterctl changes` as a child process against snapshots of a small real tree: its records in
// every form, the path lists read back by rsync itself, paths no line can carry, deletions set
// apart, paths relative to the source, and a run killed and resumed writing each change once.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>

#include "ClusterctlFixture.h"
#include "PathLists.h"
#include "ScratchDirectory.h"

namespace {

using ctltest::JsonLines;
using ctltest::Outcome;
using ctltest::Strings;
using pathlists::AsSet;
using pathlists::ReadWholeFile;
using pathlists::SplitLines;
using pathlists::SplitNul;

constexpr uint64_t kSyntheticChanges = 400;

uint64_t FileSize(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

// The rows of -o jsonl by path, with their op.
std::map<std::string, std::string> OpsByPath(const std::string& jsonl) {
    std::map<std::string, std::string> ops;
    for (const rapidjson::Document& row : JsonLines(jsonl))
        ops[ctltest::Text(row, "path")] = ctltest::Text(row, "op");
    return ops;
}

// /src between "src-1" and "src-2": mod.txt grows, new.txt and newdir/inner.txt appear,
// gone.txt and oldsub/ go. /nl gains a name holding a line end. The generated tree /synthetic
// has kSyntheticChanges between "synthetic-base" and "synthetic-target".
class ChangesCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        clustersim::Options options;
        options.seedDemo = false;
        options.defaultPageSize = ctltest::kPageSize;
        options.synthetic.files = 3000;
        options.synthetic.dirs = 100;
        options.synthetic.depth = 3;
        options.synthetic.seed = 7;
        options.synthetic.changes = kSyntheticChanges;
        s_sim = std::make_unique<clustersim::Simulator>(options);
        ASSERT_TRUE(s_sim->Start(&s_error)) << s_error;
        for (const char* file : {"keep.txt", "mod.txt", "gone.txt", "sub/deep.txt", "oldsub/x"})
            s_sim->WriteFile(std::string("/src/") + file, 100);
        s_sim->WriteFile("/nl/plain.txt", 1);
        s_sim->WriteFile("/moved/a", 1);
        s_sim->TakeSnapshot("moved-1", "/moved");
        s_sim->WriteFile("/moved/b", 1);
        s_sim->TakeSnapshot("moved-2", "/moved");
        s_sim->Remove("/moved");
        s_sim->TakeSnapshot("src-1", "/src");
        s_sim->TakeSnapshot("nl-1", "/nl");
        s_sim->WriteFile("/src/mod.txt", 300);
        s_sim->WriteFile("/src/new.txt", 42);
        s_sim->WriteFile("/src/newdir/inner.txt", 7);
        s_sim->Remove("/src/gone.txt");
        s_sim->Remove("/src/oldsub");
        s_sim->WriteFile("/nl/line\nbreak.txt", 3);
        s_sim->TakeSnapshot("src-2", "/src");
        s_sim->TakeSnapshot("nl-2", "/nl");
    }
    static void TearDownTestSuite() { s_sim.reset(); }
    void SetUp() override { ASSERT_TRUE(!m_scratch.Path().empty()); }
    void TearDown() override { s_sim->ClearFaults(); }

    static Outcome Ctl(const Strings& args, const child::Options& options = {}) {
        Strings all{"--url", s_sim->BaseUrl(), "--cacert", s_sim->CaFile()};
        all.insert(all.end(), args.begin(), args.end());
        return ctltest::RunCtl(all, {"CLUSTER_PASSWORD=admin"}, options);
    }
    std::string Scratch(const std::string& name) const { return m_scratch.Path() + "/" + name; }

    // Runs clusterctl and sends it `signal` once `file` holds `bytes`.
    Outcome SignalAt(const Strings& args, const std::string& file, uint64_t bytes,
                     int signal) const {
        std::atomic<bool> done{false};
        std::thread watcher;
        child::Options options;
        options.runLimit = std::chrono::seconds(60);
        options.onStart = [&](pid_t pid) {
            watcher = std::thread([&, pid] {
                while (!done && FileSize(file) < bytes)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (!done) ::kill(pid, signal);
            });
        };
        Outcome run = Ctl(args, options);
        done = true;
        if (watcher.joinable()) watcher.join();
        return run;
    }

    static inline std::unique_ptr<clustersim::Simulator> s_sim;
    static inline std::string s_error;
    ScratchDirectory m_scratch{"changes"};
};

// --- Records ---

TEST_F(ChangesCommandTest, RecordsCarryTheNewerAttributesAndDeletionsNone) {
    const Outcome run = Ctl({"changes", "src-1", "src-2", "-o", "jsonl"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, const rapidjson::Document*> rows;
    const auto documents = JsonLines(run.out);
    for (const rapidjson::Document& row : documents) rows[ctltest::Text(row, "path")] = &row;
    ASSERT_EQ(rows.size(), documents.size()) << "a change written twice:\n" << run.out;

    ASSERT_TRUE(rows.count("/src/mod.txt")) << run.out;
    const rapidjson::Value& modified = *rows["/src/mod.txt"];
    EXPECT_EQ(ctltest::Text(modified, "op"), "modify");
    EXPECT_EQ(ctltest::Text(modified, "kind"), "content");
    EXPECT_EQ(ctltest::Text(modified, "type"), "file");
    EXPECT_EQ(ctltest::Number(modified, "size"), 300u);
    EXPECT_EQ(ctltest::Number(modified, "id"), s_sim->FileId("/src/mod.txt"));
    EXPECT_EQ(ctltest::Text(modified, "mode").size(), 4u) << "octal, as ls -l writes it";

    ASSERT_TRUE(rows.count("/src/new.txt")) << run.out;
    EXPECT_EQ(ctltest::Text(*rows["/src/new.txt"], "kind"), "create");
    EXPECT_EQ(ctltest::Number(*rows["/src/new.txt"], "size"), 42u);
    ASSERT_TRUE(rows.count("/src/newdir/")) << run.out;
    EXPECT_EQ(ctltest::Text(*rows["/src/newdir/"], "type"), "directory");

    ASSERT_TRUE(rows.count("/src/gone.txt")) << run.out;
    const rapidjson::Value& gone = *rows["/src/gone.txt"];
    EXPECT_EQ(ctltest::Text(gone, "op"), "delete");
    for (const char* field : {"size", "mode", "owner", "id", "modification_time"}) {
        ASSERT_TRUE(gone.HasMember(field)) << field;
        EXPECT_TRUE(gone[field].IsNull()) << field << " of a deletion is not null";
    }
    EXPECT_FALSE(rows.count("/src/keep.txt")) << "an unchanged file is no change";
}

TEST_F(ChangesCommandTest, JsonCsvAndTableHoldTheSameChanges) {
    const Outcome lines = Ctl({"changes", "src-1", "src-2", "-o", "jsonl"});
    const Outcome json = Ctl({"changes", "src-1", "src-2", "-o", "json"});
    const Outcome csv = Ctl({"changes", "src-1", "src-2", "-o", "csv"});
    const Outcome table = Ctl({"changes", "src-1", "src-2"});
    for (const Outcome* run : {&lines, &json, &csv, &table}) ASSERT_EQ(run->status, 0) << run->err;
    const size_t changes = JsonLines(lines.out).size();
    ASSERT_GE(changes, 5u) << lines.out;
    EXPECT_EQ(ctltest::JsonArray(json.out).size(), changes);

    const auto csvLines = SplitLines(csv.out);
    ASSERT_EQ(csvLines.size(), changes + 1) << csv.out;
    EXPECT_EQ(csvLines[0],
              "op,kind,type,mode,owner,group,size,id,change_time,creation_time,"
              "modification_time,path\r");
    bool deletionSeen = false;
    for (const std::string& line : csvLines) {
        if (line.rfind("delete,", 0) != 0) continue;
        deletionSeen = true;
        const std::string type =
            line.back() == '\r' && line[line.size() - 2] == '/' ? "directory" : "file";
        EXPECT_EQ(line, "delete,delete," + type + ",,,,,,,,," + line.substr(line.find(",/") + 1))
            << "empty, not zeros";
    }
    EXPECT_TRUE(deletionSeen) << csv.out;

    const auto rows = SplitLines(table.out);
    ASSERT_EQ(rows.size(), changes + 1) << table.out;
    EXPECT_EQ(rows[0].rfind("OP", 0), 0u) << table.out;
    const size_t pathColumn = rows[0].find("PATH");
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].find('/'), pathColumn) << "columns out of line:\n" << table.out;
}

// By change index mod 10 the generated changes are: 0, 1 file creates; 2 directory creates;
// 3, 4 deletes; 5, 6, 7 content modifies; 8, 9 metadata-only modifies.
TEST_F(ChangesCommandTest, ModifiesAreToldApartAsContentOrMetadata) {
    const Outcome run = Ctl({"changes", "synthetic-base", "synthetic-target", "-o", "jsonl"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, uint64_t> kinds;
    for (const rapidjson::Document& row : JsonLines(run.out)) ++kinds[ctltest::Text(row, "kind")];
    const uint64_t tenth = kSyntheticChanges / 10;
    EXPECT_EQ(kinds, (std::map<std::string, uint64_t>{{"create", 3 * tenth},
                                                      {"delete", 2 * tenth},
                                                      {"content", 3 * tenth},
                                                      {"metadata", 2 * tenth}}));
}

// --- Path lists ---

// What rsync reads with --from0 --files-from is the proof of the format: every listed path is
// one rsync finds in a copy of the newer tree and would transfer.
TEST_F(ChangesCommandTest, NulListRelativeToTheSourceIsWhatRsyncReads) {
    const std::string list = Scratch("changed.lst");
    const std::string deleted = Scratch("deleted.lst");
    const Outcome run = Ctl({"changes", "src-1", "src-2", "--paths-only", "-0", "--relative",
                             "--deleted-to", deleted, "--output-file", list});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::set<std::string> changed = AsSet(SplitNul(ReadWholeFile(list)));
    const std::set<std::string> removed = AsSet(SplitNul(ReadWholeFile(deleted)));
    EXPECT_EQ(removed, (std::set<std::string>{"gone.txt", "oldsub/", "oldsub/x"}));
    for (const char* path : {"mod.txt", "new.txt", "newdir/", "newdir/inner.txt"})
        EXPECT_TRUE(changed.count(path)) << path << " missing from " << ReadWholeFile(list);
    for (const std::string& path : changed) EXPECT_NE(path.front(), '/') << path;

    const std::string source = Scratch("copy");
    for (const std::string& directory : {source, source + "/sub", source + "/newdir"})
        ::mkdir(directory.c_str(), 0700);
    for (const char* file : {"keep.txt", "mod.txt", "new.txt", "sub/deep.txt", "newdir/inner.txt"})
        m_scratch.Write(std::string("copy/") + file, "x");
    const Outcome rsync =
        child::Run("/usr/bin/rsync",
                   {"--from0", "--files-from=" + list, "-n", "-a", "--out-format=%n", source + "/",
                    Scratch("destination") + "/"},
                   {});
    ASSERT_EQ(rsync.status, 0) << rsync.err;
    const std::set<std::string> transferred = AsSet(SplitLines(rsync.out));
    for (const std::string& path : changed) {
        if (path == "./") continue;
        EXPECT_TRUE(transferred.count(path)) << "rsync did not take " << path << ":\n" << rsync.out;
    }
}

TEST_F(ChangesCommandTest, LineEndInANameFailsALineListAndPassesWithNul) {
    const Outcome lines = Ctl({"changes", "nl-1", "nl-2", "--paths-only"});
    EXPECT_EQ(lines.status, 1) << lines.err;
    EXPECT_NE(lines.err.find("/nl/line\\nbreak.txt"), std::string::npos) << lines.err;
    EXPECT_EQ(SplitLines(lines.err).size(), 1u) << "one line naming it:\n" << lines.err;
    EXPECT_EQ(lines.out.find("line"), std::string::npos) << "nothing of that batch is written";

    const Outcome nul = Ctl({"changes", "nl-1", "nl-2", "--paths-only", "-0"});
    EXPECT_EQ(nul.status, 0) << nul.err;
    EXPECT_TRUE(AsSet(SplitNul(nul.out)).count("/nl/line\nbreak.txt")) << nul.out;
}

TEST_F(ChangesCommandTest, DeletedToSplitsTheChangesWithoutLosingAny) {
    const Outcome whole = Ctl({"changes", "src-1", "src-2", "--paths-only"});
    const std::string deleted = Scratch("deleted.txt");
    const Outcome split =
        Ctl({"changes", "src-1", "src-2", "--paths-only", "--deleted-to", deleted});
    ASSERT_EQ(whole.status, 0) << whole.err;
    ASSERT_EQ(split.status, 0) << split.err;
    const auto kept = SplitLines(split.out);
    const auto removed = SplitLines(ReadWholeFile(deleted));
    EXPECT_EQ(AsSet(removed),
              (std::set<std::string>{"/src/gone.txt", "/src/oldsub/", "/src/oldsub/x"}));
    std::vector<std::string> together = kept;
    together.insert(together.end(), removed.begin(), removed.end());
    EXPECT_EQ(AsSet(together), AsSet(SplitLines(whole.out)));
    EXPECT_EQ(together.size(), SplitLines(whole.out).size());

    const Outcome records =
        Ctl({"changes", "src-1", "src-2", "-o", "jsonl", "--deleted-to", deleted});
    ASSERT_EQ(records.status, 0) << records.err;
    for (const auto& [path, op] : OpsByPath(records.out)) EXPECT_NE(op, "delete") << path;
    for (const auto& [path, op] : OpsByPath(ReadWholeFile(deleted)))
        EXPECT_EQ(op, "delete") << path;
}

TEST_F(ChangesCommandTest, RelativePathsNeedTheSourceWhereItWas) {
    const Outcome run = Ctl({"changes", "moved-1", "moved-2", "--paths-only", "--relative"});
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_EQ(SplitLines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("moved or deleted"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    const Outcome absolute = Ctl({"changes", "moved-1", "moved-2", "--paths-only"});
    EXPECT_EQ(absolute.status, 0) << absolute.err;
    EXPECT_EQ(absolute.out, "/moved/b\n");
}

// --- Cut short and resumed ---

TEST_F(ChangesCommandTest, KilledThenTerminatedAndResumedWritesEachChangeOnce) {
    const Outcome whole = Ctl({"changes", "synthetic-base", "synthetic-target", "-o", "jsonl"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const auto expected = OpsByPath(whole.out);
    ASSERT_EQ(expected.size(), kSyntheticChanges);
    const std::string output = Scratch("changes.jsonl");
    const std::string checkpoint = Scratch("changes.checkpoint");
    const Strings resumable{"changes",
                            "synthetic-base",
                            "synthetic-target",
                            "-o",
                            "jsonl",
                            "--parallel",
                            "3",
                            "--checkpoint",
                            checkpoint,
                            "--checkpoint-every",
                            "0.05",
                            "--output-file",
                            output,
                            "--resume"};
    clustersim::Fault slow;
    slow.kind = clustersim::Fault::Kind::Delay;
    slow.pathPrefix = "/v";
    slow.delayMs = 15;
    s_sim->AddFault(slow);
    const Outcome killed = SignalAt(resumable, output, whole.out.size() / 5, SIGKILL);
    ASSERT_EQ(killed.signal, SIGKILL) << "ended before a fifth: " << killed.err;
    const Outcome terminated = SignalAt(resumable, output, whole.out.size() * 3 / 5, SIGTERM);
    ASSERT_EQ(terminated.status, 143) << "ended before three fifths: " << terminated.err;
    EXPECT_NE(terminated.err.find("terminated; go on with --resume"), std::string::npos)
        << terminated.err;
    const Outcome other =
        Ctl({"changes", "src-1", "src-2", "-o", "jsonl", "--checkpoint", checkpoint, "--resume"});
    EXPECT_EQ(other.status, 2) << "another snapshot pair must not take the checkpoint: "
                               << other.err;
    s_sim->ClearFaults();
    const Outcome last = Ctl(resumable);
    ASSERT_EQ(last.status, 0) << last.err;
    const auto documents = JsonLines(ReadWholeFile(output));
    EXPECT_EQ(documents.size(), expected.size()) << "a change written twice or not at all";
    EXPECT_EQ(OpsByPath(ReadWholeFile(output)), expected);
    EXPECT_EQ(FileSize(checkpoint), 0u) << "a finished run leaves no checkpoint behind";
}

TEST_F(ChangesCommandTest, ListingThatFailsForGoodExitsSevenAndTheResumeFinishes) {
    const Outcome whole = Ctl({"changes", "synthetic-base", "synthetic-target", "-o", "jsonl"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const std::string output = Scratch("changes.jsonl");
    const std::string checkpoint = Scratch("changes.checkpoint");
    const std::string summary = Scratch("summary.json");
    const Strings resumable{"changes",   "synthetic-base", "synthetic-target",
                            "-o",        "jsonl",          "--checkpoint",
                            checkpoint,  "--output-file",  output,
                            "--summary", summary,          "--resume"};
    clustersim::Fault broken;
    broken.pathPrefix = "/v1/files/";
    broken.status = 500;  // not one a request is sent again for
    broken.remaining = 1;
    s_sim->AddFault(broken);
    const Outcome failed = Ctl(resumable);
    EXPECT_EQ(failed.status, 7) << failed.err;
    EXPECT_NE(failed.err.find("--resume --checkpoint " + checkpoint), std::string::npos)
        << failed.err;
    rapidjson::Document account;
    account.Parse(ReadWholeFile(summary).c_str());
    ASSERT_TRUE(account.IsObject()) << ReadWholeFile(summary);
    EXPECT_FALSE(account["complete"].GetBool());
    EXPECT_FALSE(ctltest::Text(account, "error").empty());

    const Outcome resumed = Ctl(resumable);
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(JsonLines(ReadWholeFile(output)).size(), kSyntheticChanges);
    EXPECT_EQ(OpsByPath(ReadWholeFile(output)), OpsByPath(whole.out));
    account.Parse(ReadWholeFile(summary).c_str());
    EXPECT_EQ(ctltest::Number(account, "changes"), kSyntheticChanges) << "both runs counted";
}

TEST_F(ChangesCommandTest, ProgressOnATerminalCountsChanges) {
    clustersim::Fault slow;
    slow.kind = clustersim::Fault::Kind::Delay;
    slow.pathPrefix = "/v";
    slow.delayMs = 10;
    s_sim->AddFault(slow);
    const Outcome run = ctltest::RunOnTerminal(
        {"--url", s_sim->BaseUrl(), "--cacert", s_sim->CaFile(), "changes", "synthetic-base",
         "synthetic-target", "--paths-only", "--parallel", "2"},
        {"CLUSTER_PASSWORD=admin"});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("changes/s"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("difference pages"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::to_string(kSyntheticChanges) + " changes ("), std::string::npos)
        << "the closing account on a terminal:\n"
        << run.out;
}

}  // namespace
