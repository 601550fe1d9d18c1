// clusterctl's walking commands (find, du, ls -R) run as child processes against a generated
// tree: the entries of a plain one-connection walk, exactly once, however the run is cut short
// (SIGKILL, SIGTERM, Ctrl-C) and resumed from its checkpoint; a checkpoint in use refused at
// once; failures and vanished directories told apart by the exit status and the summary.
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "ClusterctlFixture.h"
#include "Url.h"
#include "WalkLayerSupport.h"

namespace {

using child::FileSize;
using ctltest::JsonLines;
using ctltest::Lines;
using ctltest::Outcome;
using ctltest::Strings;
using walk_test::EntryCounts;

constexpr uint64_t kEntries = 4000;
constexpr uint64_t kDirectories = 150;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
    struct stat status;
    return ::stat(path.c_str(), &status) == 0;
}

// The entries of `find -o jsonl` output by path and id, with how often each was written.
EntryCounts CountsOf(const std::string& jsonl) {
    EntryCounts counts;
    for (const rapidjson::Document& row : JsonLines(jsonl))
        ++counts[{ctltest::Text(row, "path"), ctltest::Number(row, "id")}];
    return counts;
}

// A generated tree of kEntries entries, 25 to a page, each listing page held back a little so
// that a walk lasts long enough to be cut short anywhere.
class WalkCommandTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        clustersim::Options options = walk_test::SyntheticTree(kEntries, kDirectories, 3, 25);
        s_sim = std::make_unique<clustersim::Simulator>(options);
        ASSERT_TRUE(s_sim->Start(&s_error)) << s_error;
        clusterwalk::CResilientSession session(std::make_shared<clusterwalk::CJob>(),
                                               s_sim->BaseUrl(), "admin", "admin");
        ASSERT_FALSE(session.Connect().IsError());
        walk_test::EntryCollector collector;
        uint64_t directories = 0;
        s_reference = walk_test::SequentialTree(session, "/synthetic/", collector, directories);
        s_bytes = collector.Bytes();
    }
    static void TearDownTestSuite() { s_sim.reset(); }

    void SetUp() override {
        ASSERT_EQ(s_reference.size(), kEntries);
        const std::string base = ::testing::TempDir() + "walk_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_checkpoint = base + ".checkpoint";
        m_output = base + ".jsonl";
        m_summary = base + ".summary.json";
        for (const std::string& file : {m_checkpoint, m_output, m_summary})
            std::remove(file.c_str());
    }
    void TearDown() override { s_sim->ClearFaults(); }

    static void SlowListings(int delayMs) {
        clustersim::Fault slow;
        slow.kind = clustersim::Fault::Kind::Delay;
        slow.pathPrefix = "/v1/files/";
        slow.delayMs = delayMs;
        s_sim->AddFault(slow);
    }

    static Outcome Ctl(const Strings& args, const child::Options& options = {}) {
        Strings all{"--url", s_sim->BaseUrl()};
        all.insert(all.end(), args.begin(), args.end());
        return ctltest::RunCtl(all, {"CLUSTER_PASSWORD=admin"}, options);
    }

    // find into the output file, resumable from the checkpoint.
    Strings ResumableFind(const Strings& more = {}) const {
        Strings args{"find",         "/synthetic/",   "-o",
                     "jsonl",        "--parallel",    "4",
                     "--checkpoint", m_checkpoint,    "--checkpoint-every",
                     "0.05",         "--output-file", m_output,
                     "--resume"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }

    // Runs clusterctl and sends it `signal` once the output file holds `bytes`.
    Outcome RunUntilOutput(const Strings& args, uint64_t bytes, int signal) const {
        child::Options options;
        options.runLimit = std::chrono::seconds(60);
        return child::SignalWhenFileHolds(m_output, bytes, signal, options,
                                          [&](const child::Options& o) { return Ctl(args, o); });
    }

    void ExpectExactlyTheTree(const std::string& jsonl) const {
        const EntryCounts counts = CountsOf(jsonl);
        EXPECT_EQ(walk_test::Doubled(counts), "");
        EXPECT_EQ(counts.size(), s_reference.size());
        EXPECT_TRUE(counts == s_reference) << "the walk wrote other entries than the tree holds";
    }

    static inline std::unique_ptr<clustersim::Simulator> s_sim;
    static inline std::string s_error;
    static inline EntryCounts s_reference;
    static inline uint64_t s_bytes = 0;
    std::string m_checkpoint;
    std::string m_output;
    std::string m_summary;
};

// --- Whole walks ---

TEST_F(WalkCommandTest, FindLsAndDuAgreeWithAPlainWalkAtAnyParallelism) {
    for (const char* parallel : {"1", "16"}) {
        const Outcome find = Ctl({"find", "/synthetic/", "-o", "jsonl", "--parallel", parallel});
        EXPECT_EQ(find.status, 0) << find.err;
        ExpectExactlyTheTree(find.out);
    }
    const Outcome ls = Ctl({"ls", "-R", "/synthetic/", "-0"});
    EXPECT_EQ(ls.status, 0) << ls.err;
    std::set<std::string> paths;
    for (size_t start = 0, end; (end = ls.out.find('\0', start)) != std::string::npos;
         start = end + 1)
        paths.insert(ls.out.substr(start, end - start));
    EXPECT_EQ(paths.size(), kEntries);

    const Outcome du = Ctl({"du", "/synthetic/", "-s", "-o", "jsonl"});
    EXPECT_EQ(du.status, 0) << du.err;
    const auto rows = JsonLines(du.out);
    ASSERT_EQ(rows.size(), 1u) << du.out;
    EXPECT_EQ(ctltest::Number(rows[0], "entries"), kEntries);
    EXPECT_EQ(ctltest::Number(rows[0], "bytes"), s_bytes);
}

TEST_F(WalkCommandTest, SummaryFileAccountsForTheWholeWalk) {
    const Outcome run = Ctl({"find", "/synthetic/", "--type", "d", "--summary", m_summary});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Lines(run.out).size(), kDirectories - 1) << "every directory below the start";
    rapidjson::Document summary;
    summary.Parse(ReadFile(m_summary).c_str());
    ASSERT_TRUE(summary.IsObject()) << ReadFile(m_summary);
    EXPECT_TRUE(summary["complete"].GetBool());
    EXPECT_EQ(summary["directories"].GetUint64(), kDirectories);
    EXPECT_EQ(summary["entries"].GetUint64(), kEntries) << "entries walked, not entries kept";
    EXPECT_EQ(summary["bytes"].GetUint64(), s_bytes);
    EXPECT_TRUE(summary["failed"].Empty());
}

// --- Cut short and resumed ---

TEST_F(WalkCommandTest, KilledAtThreePointsAndResumedWritesEveryEntryOnce) {
    const Outcome whole = Ctl({"find", "/synthetic/", "-o", "jsonl"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const uint64_t total = whole.out.size();
    SlowListings(20);
    for (const double share : {0.1, 0.4, 0.75}) {
        const Outcome killed = RunUntilOutput(ResumableFind(), total * share, SIGKILL);
        ASSERT_EQ(killed.signal, SIGKILL)
            << "the walk ended before " << share << ": " << killed.err;
    }
    const Outcome last = Ctl(ResumableFind());
    EXPECT_EQ(last.status, 0) << last.err;
    ExpectExactlyTheTree(ReadFile(m_output));
    EXPECT_FALSE(Exists(m_checkpoint)) << "a finished walk leaves no checkpoint behind";
}

TEST_F(WalkCommandTest, TerminatedOrInterruptedWalkSavesACheckpointThatResumes) {
    const Outcome whole = Ctl({"find", "/synthetic/", "-o", "jsonl"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    SlowListings(20);
    const Outcome terminated = RunUntilOutput(ResumableFind(), whole.out.size() / 4, SIGTERM);
    EXPECT_EQ(terminated.status, 143) << terminated.err;
    EXPECT_NE(terminated.err.find("terminated; go on with --resume"), std::string::npos)
        << terminated.err;
    EXPECT_TRUE(Exists(m_checkpoint));
    const Outcome interrupted = RunUntilOutput(ResumableFind(), whole.out.size() / 2, SIGINT);
    EXPECT_EQ(interrupted.status, 130) << interrupted.err;
    const Outcome last = Ctl(ResumableFind());
    EXPECT_EQ(last.status, 0) << last.err;
    ExpectExactlyTheTree(ReadFile(m_output));
}

TEST_F(WalkCommandTest, CheckpointOrOutputInUseIsRefusedAtOnce) {
    SlowListings(50);
    std::atomic<bool> done{false};
    Outcome second;
    Outcome secondOutput;
    std::thread contender;
    child::Options options;
    options.onStart = [&](pid_t pid) {
        contender = std::thread([&, pid] {
            while (FileSize(m_output) == 0 && !done)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            // Both are refused before they list anything, slow listings or not.
            second = Ctl(ResumableFind());
            secondOutput = Ctl({"find", "/synthetic/", "--output-file", m_output});
            ::kill(pid, SIGKILL);
        });
    };
    const Outcome first = Ctl(ResumableFind(), options);
    done = true;
    contender.join();
    EXPECT_EQ(first.signal, SIGKILL) << first.err;
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_NE(second.err.find("is in use by another run"), std::string::npos) << second.err;
    EXPECT_EQ(secondOutput.status, 1) << secondOutput.err;
    EXPECT_NE(secondOutput.err.find("output " + m_output + " is in use"), std::string::npos)
        << secondOutput.err;

    // Without --resume, the unfinished walk is neither resumed nor overwritten.
    const Outcome fresh =
        Ctl({"find", "/synthetic/", "--checkpoint", m_checkpoint, "--output-file", m_output});
    EXPECT_EQ(fresh.status, 2) << fresh.err;
    EXPECT_NE(fresh.err.find("add --resume"), std::string::npos) << fresh.err;
    const Outcome other = Ctl({"du", "/synthetic/", "--checkpoint", m_checkpoint, "--resume"});
    EXPECT_EQ(other.status, 2) << other.err;
    EXPECT_NE(other.err.find("belongs to another walk"), std::string::npos) << other.err;
}

// --- Failures, vanished directories ---

TEST_F(WalkCommandTest, FailedDirectoriesExitSevenAndTheResumeRetriesJustThose) {
    // Two directories below the start always fail; one more is gone after its parent listed it.
    // None lies below another, so each is reached.
    std::vector<std::string> directories;
    for (const auto& [key, times] : s_reference) {
        if (key.first.back() != '/' || directories.size() == 3) continue;
        if (directories.empty() || key.first.rfind(directories.back(), 0) != 0)
            directories.push_back(key.first);
    }
    ASSERT_EQ(directories.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        clustersim::Fault fault;
        fault.pathPrefix = "/v1/files/" + clustersim::PercentEncode(directories[i]) + "/entries/";
        fault.status = i < 2 ? 500 : 404;
        fault.body = R"({"error_class":"fault","description":"injected"})";
        s_sim->AddFault(fault);
    }
    const Outcome failed = Ctl(ResumableFind({"--summary", m_summary}));
    EXPECT_EQ(failed.status, 7) << failed.err;
    EXPECT_NE(failed.err.find("2 directories could not be read"), std::string::npos) << failed.err;
    rapidjson::Document summary;
    summary.Parse(ReadFile(m_summary).c_str());
    ASSERT_TRUE(summary.IsObject());
    ASSERT_EQ(summary["failed"].Size(), 2u);
    EXPECT_EQ(summary["vanished"].Size(), 1u);
    EXPECT_EQ(std::string(summary["vanished"][0].GetString()), directories[2]);
    EXPECT_FALSE(summary["complete"].GetBool());

    // The resumed walk lists only the two that failed (and what lies below them).
    s_sim->ClearFaults();
    s_sim->ClearJournal();
    const Outcome resumed = Ctl(ResumableFind());
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    for (const clustersim::JournalEntry& entry : s_sim->Journal()) {
        if (entry.target.find("/entries/") == std::string::npos) continue;
        const bool below =
            entry.target.find(clustersim::PercentEncode(directories[0])) != std::string::npos ||
            entry.target.find(clustersim::PercentEncode(directories[1])) != std::string::npos;
        EXPECT_TRUE(below) << entry.target;
    }
    const EntryCounts counts = CountsOf(ReadFile(m_output));
    EXPECT_EQ(walk_test::Doubled(counts), "");
    // Everything but what lay below the vanished directory.
    for (const auto& [key, times] : s_reference) {
        const bool belowVanished =
            key.first.rfind(directories[2], 0) == 0 && key.first != directories[2];
        EXPECT_EQ(counts.count(key), belowVanished ? 0u : 1u) << key.first;
    }
}

TEST_F(WalkCommandTest, VanishedDirectoryAloneLeavesTheRunSuccessful) {
    std::string victim;
    for (const auto& [key, times] : s_reference)
        if (key.first.back() == '/') victim = key.first;
    clustersim::Fault gone;
    gone.pathPrefix = "/v1/files/" + clustersim::PercentEncode(victim) + "/entries/";
    gone.status = 404;
    gone.body = R"({"error_class":"fs_no_such_entry_error","description":"gone"})";
    s_sim->AddFault(gone);
    const Outcome run = Ctl({"du", "/synthetic/", "-s"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("vanished during the walk: " + victim), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 vanished"), std::string::npos) << run.err;
}

}  // namespace
