// clusterctl as a cron job meets it: no silent fallback, exit statuses a script can branch on,
// one actionable line per failure, snapshots by name, confirmation before deletion, profiles,
// the simulated cluster's state between runs, and interruption.
#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

#include "ClusterctlFixture.h"
#include "ScratchDirectory.h"

namespace ctltest {
namespace {

void ExpectFailure(const Outcome& run, int status, const std::string& line) {
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(line), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST_F(ClusterctlTest, WithoutAClusterNothingRunsAndTheStatusSaysWhy) {
    ExpectFailure(RunCtl({"snapshots", "create", "nightly", "--source", "/home"}), 3,
                  "no cluster configured: set CLUSTER_URL or --url (or try --simulated)");
    ExpectFailure(RunCtl({"--url", "", "snapshots", "list"}), 2, "");
    EXPECT_EQ(RunCtl({"--url", "cluster:8000", "snapshots", "list"}).status, 2);
    EXPECT_EQ(RunCtl({"--simulated", "--url", s_sim->BaseUrl(), "login"}).status, 2);
    // Options that exclude each other are refused before the cluster is asked anything: a
    // closed port would fail with 6.
    const std::string closed = "https://127.0.0.1:" + std::to_string(ClosedPort());
    ExpectFailure(RunCtl({"--url", closed, "changes", "a", "b", "--paths-only", "-o", "json"},
                         {"CLUSTER_PASSWORD=x"}),
                  2, "clusterctl: --paths-only writes paths alone");
}

TEST_F(ClusterctlTest, EachKindOfFailureHasItsStatusAndOneLine) {
    ExpectFailure(Ctl({"stat", "/no/such/file"}), 5, "clusterctl: stat /no/such/file: not found: ");
    EXPECT_NE(Ctl({"stat", "/no/such/file"}).err.find("(HTTP 404)"), std::string::npos);
    ExpectFailure(RunCtl(Connected({"login"}), {"CLUSTER_PASSWORD=wrong"}), 4,
                  "clusterctl: login to " + s_sim->BaseUrl() + " as admin rejected: ");
    const std::string closed = "https://127.0.0.1:" + std::to_string(ClosedPort());
    ExpectFailure(RunCtl({"--url", closed, "--retries", "0", "login"}, {"CLUSTER_PASSWORD=x"}), 6,
                  "clusterctl: cannot reach " + closed + ": ");
    ExpectFailure(RunCtl({"--url", s_sim->BaseUrl(), "login"}, {"CLUSTER_PASSWORD=x"}), 6,
                  "clusterctl: TLS: ");

    clustersim::Fault unavailable;
    unavailable.pathPrefix = "/v2/snapshots";
    unavailable.status = 503;
    unavailable.contentType = "text/html";
    unavailable.body = "<html><body>down for maintenance</body></html>";
    s_sim->AddFault(unavailable);
    ExpectFailure(Ctl({"--retries", "0", "snapshots", "list"}), 1,
                  "clusterctl: snapshots list: service unavailable (HTTP 503)");
}

TEST_F(ClusterctlTest, PassingFaultsAreRiddenOutAsFarAsRetriesAllow) {
    clustersim::Fault busy;
    busy.pathPrefix = "/v2/snapshots";
    busy.status = 503;
    busy.remaining = 2;
    s_sim->AddFault(busy);
    ExpectFailure(Ctl({"--retries", "1", "snapshots", "list"}), 1, "(HTTP 503)");
    s_sim->AddFault(busy);
    const Outcome riddenOut = Ctl({"-o", "json", "snapshots", "list"});
    EXPECT_EQ(riddenOut.status, 0) << riddenOut.err;
    EXPECT_EQ(JsonArray(riddenOut.out).size(),
              JsonArray(Ctl({"-o", "json", "snapshots", "list"}).out).size());
    EXPECT_FALSE(JsonArray(riddenOut.out).empty());

    // A creation that reached the cluster is not sent again: it could make a second snapshot.
    busy.method = "POST";
    busy.remaining = 1;
    s_sim->AddFault(busy);
    ExpectFailure(Ctl({"snapshots", "create", "once", "--source", "/tree"}), 1, "(HTTP 503)");

    clustersim::Fault cut;
    cut.kind = clustersim::Fault::Kind::TruncatedBody;
    cut.pathPrefix = "/v2/snapshots";
    cut.remaining = 1;
    s_sim->AddFault(cut);
    ExpectFailure(
        Ctl({"--retries", "0", "snapshots", "list"}), 6,
        "clusterctl: snapshots list: the reply from " + s_sim->BaseUrl() + " broke off: ");

    for (const char* bad : {"-1", "x", "101"})
        EXPECT_EQ(Ctl({"--retries", bad, "login"}).status, 2);
    for (const char* bad : {"0", "1.5", "-3"}) EXPECT_EQ(Ctl({"--rate", bad, "login"}).status, 2);
}

TEST_F(ClusterctlTest, VerboseAddsTheLibrarysMessageAndTrail) {
    const Outcome run = Ctl({"-v", "stat", "/no/such/file"});
    EXPECT_EQ(run.status, 5);
    EXPECT_NE(run.err.find("  error 774: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("  at "), std::string::npos) << run.err;
}

TEST_F(ClusterctlTest, SnapshotsAreNamedByNameOrId) {
    const Outcome byId = Ctl({"snapshots", "diff", "1", "2"});
    const Outcome byName = Ctl({"snapshots", "diff", "home-daily-1", "home-daily-2"});
    ASSERT_EQ(byName.status, 0) << byName.err;
    EXPECT_EQ(byName.out, byId.out);
    EXPECT_FALSE(byName.out.empty());

    ExpectFailure(Ctl({"snapshots", "diff", "home-daily-1", "no-such"}), 5,
                  "no snapshot named no-such; snapshots: home-daily-1 (1)");
    s_sim->TakeSnapshot("twin", "/tree");
    s_sim->TakeSnapshot("twin", "/tree");
    ExpectFailure(Ctl({"ls", "/tree", "--snapshot", "twin"}), 1, "2 snapshots are named twin");
}

TEST_F(ClusterctlTest, TimesOnTheCommandLineAreRfc3339) {
    for (const char* bad : {"tomorrow", "2027-02-30T00:00:00Z", "2027-01-31 00:00:00Z",
                            "2027-01-31T00:00:00", "2027-01-31T24:00:00Z"}) {
        EXPECT_EQ(
            Ctl({"snapshots", "create", "x", "--source", "/tree", "--expiration", bad}).status, 2)
            << bad;
    }
    const Outcome made = Ctl({"-o", "json", "snapshots", "create", "expiring", "--source", "/tree",
                              "--expiration", "2027-01-31T01:00:00.5+01:00"});
    EXPECT_EQ(made.status, 0) << made.err;
}

TEST_F(ClusterctlTest, DeletionIsConfirmedOnATerminalAndNeedsYesElsewhere) {
    const std::string id = std::to_string(s_sim->TakeSnapshot("doomed", "/tree"));
    const Strings password{std::string("CLUSTER_PASSWORD=") + kPassword};
    ExpectFailure(Ctl({"snapshots", "delete", "doomed"}), 2, "add --yes");

    const Outcome declined =
        RunOnTerminal(Connected({"snapshots", "delete", "doomed"}), password, "[y/N] ", "n\n");
    EXPECT_EQ(declined.status, 1) << declined.out;
    EXPECT_NE(declined.out.find("snapshot " + id + " (doomed) not deleted"), std::string::npos)
        << declined.out;
    EXPECT_NE(Ctl({"snapshots", "list"}).out.find("doomed"), std::string::npos);

    const Outcome agreed =
        RunOnTerminal(Connected({"snapshots", "delete", "doomed"}), password, "[y/N] ", "y\n");
    EXPECT_EQ(agreed.status, 0) << agreed.out;
    EXPECT_EQ(Ctl({"snapshots", "list"}).out.find("doomed"), std::string::npos);
}

TEST_F(ClusterctlTest, ConventionsOfACommandLineTool) {
    const Outcome version = RunCtl({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("clusterctl [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;

    const Outcome help = RunCtl({"help", "snapshots", "diff"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("clusterctl snapshots diff"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("Exit status"), std::string::npos) << help.out;
    EXPECT_NE(RunCtl({"--help"}).out.find("CLUSTER_URL"), std::string::npos);
    const Outcome overview = RunCtl({"help"});
    EXPECT_EQ(overview.status, 0);
    EXPECT_NE(overview.out.find("Usage: clusterctl [OPTIONS] SUBCOMMAND"), std::string::npos)
        << overview.out;

    ExpectFailure(RunCtl({"snapshot", "list"}), 2, "did you mean 'snapshots'?");
    ExpectFailure(RunCtl({"snapshots", "lst"}), 2, "did you mean 'list'?");
    ExpectFailure(RunCtl({"help", "snapshots", "dif"}), 2, "did you mean 'diff'?");
}

TEST_F(ClusterctlTest, ProfilesFillWhatTheCommandLineLeavesOpen) {
    ScratchDirectory config("clusterctl");
    ASSERT_EQ(mkdir((config.Path() + "/clusterctl").c_str(), 0700), 0);
    config.Write("clusterctl/password", std::string(kPassword) + "\n");
    config.Write("clusterctl/config.toml", "[nightly]\nurl = \"" + s_sim->BaseUrl() +
                                               "\"\nuser = \"admin\"\ncacert = \"" +
                                               s_sim->CaFile() +
                                               "\"\npassword-file = \"password\"\n"
                                               "[other]\nurl = \"https://127.0.0.1:1\"\n");
    const std::string home = "XDG_CONFIG_HOME=" + config.Path();

    EXPECT_EQ(RunCtl({"--profile", "nightly", "login"}, {home}).status, 0);
    EXPECT_EQ(RunCtl({"login"}, {home, "CLUSTER_PROFILE=nightly"}).status, 0);
    ExpectFailure(RunCtl({"--profile", "daily", "login"}, {home}), 2, "profiles: nightly, other");
    // No profile named and none called "default": still no cluster.
    EXPECT_EQ(RunCtl({"login"}, {home}).status, 3);

    config.Write("clusterctl/config.toml", "[nightly]\npasword-file = \"password\"\n");
    ExpectFailure(RunCtl({"--profile", "nightly", "login"}, {home}), 2, "unknown key pasword-file");
}

TEST_F(ClusterctlTest, TheSimulatedClusterRunsOnlyWhenAskedAndKeepsItsState) {
    ScratchDirectory state("clusterctl");
    const Strings environment{"CLUSTER_SIM_STATE=" + state.Path() + "/simulated"};
    const Outcome made =
        RunCtl({"--simulated", "-o", "json", "snapshots", "create", "keepme", "--source", "/home"},
               environment);
    ASSERT_EQ(made.status, 0) << made.err;
    const Outcome listed = RunCtl({"--simulated", "snapshots", "list"}, environment);
    EXPECT_NE(listed.out.find("keepme"), std::string::npos) << listed.out;
    EXPECT_EQ(RunCtl({"--simulated", "snapshots", "delete", "keepme", "--yes"}, environment).status,
              0);
    EXPECT_EQ(RunCtl({"--simulated", "snapshots", "list"}, environment).out.find("keepme"),
              std::string::npos);
}

// A listing slowed down page by page, so that a signal finds it mid-walk with its progress
// line drawn.
class InterruptedListing : public ClusterctlTest {
  protected:
    void SetUp() override {
        ClusterctlTest::SetUp();
        clustersim::Fault slow;
        slow.kind = clustersim::Fault::Kind::Delay;
        slow.pathPrefix = "/v1/files/%2Ftree%2Fsub";
        slow.delayMs = 6000;
        s_sim->AddFault(slow);
    }
};

TEST_F(InterruptedListing, CtrlCClearsTheProgressLineAndExits130) {
    const Outcome run =
        RunOnTerminal(Connected({"ls", "-R", "/tree"}),
                      {std::string("CLUSTER_PASSWORD=") + kPassword}, "entries/s", "\x03");
    EXPECT_EQ(run.status, 130) << run.out;
    const size_t drawn = run.out.rfind("entries/s");
    ASSERT_NE(drawn, std::string::npos) << run.out;
    const size_t cleared = run.out.find("\r\033[K", drawn);
    const size_t said = run.out.find("clusterctl: interrupted", drawn);
    EXPECT_LT(cleared, said) << run.out;
    EXPECT_NE(said, std::string::npos) << run.out;
}

TEST_F(InterruptedListing, SigtermExits143) {
    child::Options options;
    std::thread terminator;
    options.onStart = [&terminator](pid_t pid) {
        terminator = std::thread([pid] {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            kill(pid, SIGTERM);
        });
    };
    const Outcome run = Ctl({"ls", "-R", "/tree"}, options);
    terminator.join();
    EXPECT_EQ(run.status, 143) << run.err;
    EXPECT_NE(run.err.find("clusterctl: terminated"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace ctltest
