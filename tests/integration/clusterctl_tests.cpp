// End-to-end tests of clusterctl: the built binary runs as a child process against a simulated
// cluster started here, with its output and exit status checked the way a script would.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "ClusterctlFixture.h"

namespace {

using namespace ctltest;

void ExpectOneErrorLine(const Outcome& run, const std::string& what, int status = 1) {
    SCOPED_TRACE(what);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("clusterctl: ", 0), 0u) << run.err;
}

TEST_F(ClusterctlTest, UsageErrorsExitWithTwo) {
    const std::vector<Strings> misuses = {
        {},
        {"frobnicate"},
        {"snapshots"},
        {"snapshots", "delete", "0"},
        {"smb", "show", "0"},
        {"snapshots", "create", "x", "--source", "home"},
        {"snapshots", "create", "x"},
        {"ls"},
        {"ls", "/", "--snapshot", "0"},
        {"--password", kPassword, "login"},
        {"--insecure", "--cacert", s_sim->CaFile(), "login"},
        {"--password-file", "/nonexistent/file", "login"},
        {"--max-reply", "0", "login"},
        {"--max-reply", "12X", "login"},
        {"--max-reply", "1KB", "login"},
        {"--max-reply", "-5", "login"},
        {"--max-reply", "99999999999999G", "login"},
        {"--timeout", "0", "login"},
        {"--timeout", "1.5", "login"},
        {"--timeout", "-1", "login"},
        {"--timeout", "99999999999999999999", "login"},
    };
    for (const Strings& args : misuses) {
        const Outcome run = RunCtl(args);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(args) << run.err;
        EXPECT_FALSE(run.err.empty()) << ::testing::PrintToString(args);
    }
    // No password anywhere and no terminal to ask on.
    EXPECT_EQ(RunCtl(Connected({"login"})).status, 2);
}

TEST_F(ClusterctlTest, WhatDoesNotExistExitsWithFive) {
    ExpectOneErrorLine(Ctl({"smb", "show", "999"}), "unknown share", 5);
    ExpectOneErrorLine(Ctl({"nfs", "show", "999"}), "unknown export", 5);
    ExpectOneErrorLine(Ctl({"snapshots", "delete", "--yes", "999"}), "unknown snapshot", 5);
    ExpectOneErrorLine(Ctl({"ls", "/no/such/dir"}), "unknown path", 5);
}

TEST_F(ClusterctlTest, PasswordFileAndInsecureLogIn) {
    const std::string file = ::testing::TempDir() + "clusterctl_password";
    FILE* written = std::fopen(file.c_str(), "w");
    ASSERT_NE(written, nullptr);
    std::fprintf(written, "%s\n", kPassword);
    std::fclose(written);
    const Outcome fromFile = RunCtl(Connected({"--password-file", file, "login"}));
    std::remove(file.c_str());
    EXPECT_EQ(fromFile.status, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, "Logged in to " + s_sim->BaseUrl() + " as admin\n");

    const Outcome insecure = RunCtl({"--url", s_sim->BaseUrl(), "--insecure", "login", "--json"},
                                    {std::string("CLUSTER_PASSWORD=") + kPassword});
    EXPECT_EQ(insecure.status, 0) << insecure.err;
    EXPECT_NE(insecure.err.find("warning"), std::string::npos);
    rapidjson::Document login;
    login.Parse(insecure.out.c_str());
    ASSERT_TRUE(login.IsObject()) << insecure.out;
    EXPECT_EQ(Text(login, "user"), "admin");
    EXPECT_TRUE(login["logged_in"].GetBool());
}

TEST_F(ClusterctlTest, RequestLimitsAcceptSizesAndSeconds) {
    for (const Strings& limits : {Strings{"--max-reply", "65536", "--timeout", "30"},
                                  Strings{"--max-reply", "64k"}, Strings{"--max-reply", "1G"}}) {
        Strings args = limits;
        args.insert(args.end(), {"ls", "/tree"});
        const Outcome run = Ctl(args);
        EXPECT_EQ(run.status, 0) << ::testing::PrintToString(args) << run.err;
        EXPECT_EQ(Lines(run.out).size(), 11u) << run.out;
    }
}

TEST_F(ClusterctlTest, SnapshotCreateListDelete) {
    const Outcome created = Ctl({"snapshots", "create", "nightly \"1\"", "--source", "/tree",
                                 "--expiration", "2030-01-02T03:04:05Z", "--json"});
    ASSERT_EQ(created.status, 0) << created.err;
    rapidjson::Document snapshot;
    snapshot.Parse(created.out.c_str());
    ASSERT_TRUE(snapshot.IsObject()) << created.out;
    EXPECT_EQ(Text(snapshot, "name"), "nightly \"1\"");
    EXPECT_EQ(Number(snapshot, "source_file_id"), s_sim->FileId("/tree"));
    EXPECT_EQ(Text(snapshot, "expiration"), "2030-01-02T03:04:05Z");
    EXPECT_TRUE(std::regex_match(Text(snapshot, "timestamp"),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    const std::string id = std::to_string(Number(snapshot, "id"));

    const Outcome byId = Ctl(
        {"snapshots", "create", "by-id", "--source", std::to_string(s_sim->FileId("/tree/sub"))});
    EXPECT_EQ(byId.status, 0) << byId.err;
    const std::regex sourceLine("\nsource_file_id: +" + std::to_string(s_sim->FileId("/tree/sub")));
    EXPECT_TRUE(std::regex_search(byId.out, sourceLine)) << byId.out;

    const Outcome listed = Ctl({"snapshots", "list"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(Lines(listed.out).front().rfind("ID  NAME", 0), 0u) << listed.out;
    EXPECT_NE(listed.out.find("nightly \"1\""), std::string::npos);

    EXPECT_EQ(Ctl({"snapshots", "delete", "--yes", id}).status, 0);
    EXPECT_EQ(Ctl({"snapshots", "delete", "--yes", id}).status, 5);
    for (const auto& row : JsonArray(Ctl({"snapshots", "list", "--json"}).out)) {
        EXPECT_NE(std::to_string(Number(row, "id")), id);
    }
}

TEST_F(ClusterctlTest, DiffListsEveryChangeAcrossPages) {
    s_sim->WriteFile("/difftest/kept", 1);
    s_sim->WriteFile("/difftest/changed", 1);
    s_sim->WriteFile("/difftest/gone", 1);
    const uint64_t older = s_sim->TakeSnapshot("older", "/difftest");
    for (int i = 0; i < 12; ++i) s_sim->WriteFile("/difftest/new" + std::to_string(i), 5);
    s_sim->WriteFile("/difftest/changed", 2);
    s_sim->Remove("/difftest/gone");
    const uint64_t newer = s_sim->TakeSnapshot("newer", "/difftest");

    const Outcome run =
        Ctl({"snapshots", "diff", std::to_string(older), std::to_string(newer), "-o", "jsonl"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::map<std::string, std::string> opByPath;
    size_t lines = 0;
    for (const auto& change : JsonLines(run.out)) {
        opByPath[Text(change, "path")] = Text(change, "op");
        ++lines;
    }
    EXPECT_EQ(opByPath.size(), lines) << "a path was reported twice:\n" << run.out;
    for (int i = 0; i < 12; ++i) EXPECT_EQ(opByPath["/difftest/new" + std::to_string(i)], "create");
    EXPECT_EQ(opByPath["/difftest/changed"], "modify");
    EXPECT_EQ(opByPath["/difftest/gone"], "delete");
    EXPECT_EQ(opByPath.count("/difftest/kept"), 0u);

    const Outcome text = Ctl({"snapshots", "diff", std::to_string(older), std::to_string(newer)});
    EXPECT_EQ(Lines(text.out).size(), lines + 1);  // the heading
    EXPECT_NE(text.out.find("delete  /difftest/gone\n"), std::string::npos) << text.out;

    // The older snapshot still holds what the live tree lost.
    const Outcome frozen = Ctl({"ls", "/difftest", "--snapshot", std::to_string(older)});
    EXPECT_EQ(frozen.out, "/difftest/changed\n/difftest/gone\n/difftest/kept\n") << frozen.err;
}

TEST_F(ClusterctlTest, RecursiveListingWalksEveryPage) {
    const Outcome run = Ctl({"ls", "-R", "/tree", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::set<std::string> paths;
    const auto entries = JsonArray(run.out);
    for (const auto& entry : entries) paths.insert(Text(entry, "path"));
    EXPECT_EQ(paths.size(), entries.size()) << "an entry was listed twice";
    std::set<std::string> expected{"/tree/sub/", "/tree/sub/deeper/", "/tree/sub/deeper/h"};
    for (int i = 0; i < 10; ++i) expected.insert("/tree/f0" + std::to_string(i));
    for (int i = 0; i < 9; ++i) expected.insert("/tree/sub/g" + std::to_string(i));
    EXPECT_EQ(paths, expected);

    const Outcome plain = Ctl({"ls", "/tree"});
    EXPECT_EQ(Lines(plain.out).size(), 11u) << plain.out;
    EXPECT_EQ(plain.out.find('\r'), std::string::npos);
    EXPECT_EQ(plain.err.find("entries"), std::string::npos) << "progress without a terminal";

    const Outcome human = Ctl({"ls", "-l", "-h", "/tree"});
    EXPECT_EQ(Lines(human.out).front().rfind("TYPE", 0), 0u) << human.out;
    EXPECT_TRUE(std::regex_search(human.out,
                                  std::regex(R"(file +0644 +500 +500 +1\.5K +\S+Z +/tree/f00\n)")))
        << human.out;
}

TEST_F(ClusterctlTest, WalkStopsAtFirstFailedPageAfterPrintingEarlierOnes) {
    clustersim::Fault fault;
    fault.pathPrefix = "/v1/files/%2Ftree/entries/?";  // the second page onwards
    s_sim->AddFault(fault);
    const Outcome run = Ctl({"ls", "/tree"});
    ExpectOneErrorLine(run, "failed second page");
    EXPECT_EQ(Lines(run.out).size(), kPageSize) << run.out;
}

TEST_F(ClusterctlTest, RepeatedPageLinkEndsTheWalk) {
    clustersim::Fault loop;
    loop.status = 200;
    loop.pathPrefix = "/v1/files/%2Floop";
    loop.body = R"({"files":[],"paging":{"next":"/v1/files/%2Floop/entries/?again"}})";
    s_sim->AddFault(loop);
    s_sim->ClearJournal();
    const Outcome run = Ctl({"ls", "/loop"});
    ExpectOneErrorLine(run, "page link loop");
    EXPECT_NE(run.err.find("The cluster repeated the page link"), std::string::npos) << run.err;
    size_t requests = 0;
    for (const auto& entry : s_sim->Journal())
        requests += entry.target.rfind(loop.pathPrefix, 0) == 0;
    // The first page and the repeated one, which was fetched again ahead while it was read.
    EXPECT_EQ(requests, 3u);
}

TEST_F(ClusterctlTest, StatAndSharesRoundTripThroughJson) {
    const Outcome stat = Ctl({"stat", "/tree/f00", "--json"});
    ASSERT_EQ(stat.status, 0) << stat.err;
    rapidjson::Document attributes;
    attributes.Parse(stat.out.c_str());
    ASSERT_TRUE(attributes.IsObject()) << stat.out;
    EXPECT_EQ(Number(attributes, "id"), s_sim->FileId("/tree/f00"));
    EXPECT_EQ(Number(attributes, "size"), 1536u);
    EXPECT_EQ(Text(attributes, "type"), "file");
    // A listing and an attribute reply carry the mode differently; both must show the same.
    const auto listed = JsonArray(Ctl({"ls", "/tree", "--json"}).out);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(Text(attributes, "mode"), Text(listed.front(), "mode"));
    EXPECT_TRUE(std::regex_search(Ctl({"stat", "/tree/f00"}).out, std::regex("\nsize: +1536\n")));

    const std::string description = "Ünïcode \"quoted\"\tand\\slash";
    const uint64_t share = s_sim->AddSmbShare("odd\"share", "/tree", description);
    const uint64_t nfs = s_sim->AddNfsExport("/odd", "/tree", description);
    bool found = false;
    for (const auto& line : JsonLines(Ctl({"smb", "list", "-o", "jsonl"}).out)) {
        if (Number(line, "id") != share) continue;
        found = true;
        EXPECT_EQ(Text(line, "share_name"), "odd\"share");
        EXPECT_EQ(Text(line, "description"), description);
    }
    EXPECT_TRUE(found);
    for (const Strings& show : {Strings{"smb", "show", std::to_string(share), "--json"},
                                Strings{"nfs", "show", std::to_string(nfs), "--json"}}) {
        const Outcome run = Ctl(show);
        rapidjson::Document item;
        item.Parse(run.out.c_str());
        ASSERT_TRUE(item.IsObject()) << run.out;
        EXPECT_EQ(Text(item, "description"), description);
        EXPECT_NE(run.out.find("Ünïcode"), std::string::npos) << "UTF-8 must pass unescaped";
    }
    const Outcome nfsText = Ctl({"nfs", "list"});
    EXPECT_NE(nfsText.out.find("/odd"), std::string::npos) << nfsText.out;
}

TEST_F(ClusterctlTest, VerboseLogsRequestsWithoutSecrets) {
    s_sim->ClearJournal();
    const Outcome shown = Ctl({"-v", "ls", "/tree"});
    const Outcome failed = Ctl({"-v", "smb", "show", "999"});
    const Outcome rejected = RunCtl(Connected({"-v", "login"}), {"CLUSTER_PASSWORD=wrong-s3cret"});
    EXPECT_NE(shown.err.find("/v1/session/login"), std::string::npos) << shown.err;
    EXPECT_NE(failed.err.find("\n  at "), std::string::npos) << failed.err;
    Strings secrets{kPassword, "wrong-s3cret"};
    for (const auto& entry : s_sim->Journal()) {
        const std::string authorization = entry.Header("Authorization");
        if (authorization.rfind("Bearer ", 0) == 0) secrets.push_back(authorization.substr(7));
    }
    ASSERT_GT(secrets.size(), 2u) << "no bearer token was sent";
    for (const Outcome& run : {shown, failed, rejected}) {
        for (const std::string& secret : secrets) {
            EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
            EXPECT_EQ(run.out.find(secret), std::string::npos) << run.out;
        }
    }
}

TEST_F(ClusterctlTest, TerminalPromptDoesNotEchoAndProgressIsShown) {
    const Outcome prompted = RunOnTerminal(Connected({"login"}), {}, "Password for admin",
                                           std::string(kPassword) + "\n");
    EXPECT_EQ(prompted.status, 0) << prompted.out;
    EXPECT_NE(prompted.out.find("Logged in to"), std::string::npos) << prompted.out;
    EXPECT_EQ(prompted.out.find(kPassword), std::string::npos) << "the password was echoed";

    // Slow enough listings for the progress line to show.
    clustersim::Fault slow;
    slow.kind = clustersim::Fault::Kind::Delay;
    slow.pathPrefix = "/v1/files/%2Ftree";
    slow.delayMs = 200;
    s_sim->AddFault(slow);
    const Outcome walked = RunOnTerminal(Connected({"ls", "-R", "/tree"}),
                                         {std::string("CLUSTER_PASSWORD=") + kPassword});
    EXPECT_EQ(walked.status, 0) << walked.out;
    EXPECT_NE(walked.out.find("entries/s"), std::string::npos) << walked.out;
    EXPECT_NE(walked.out.find("/tree/sub/deeper/h"), std::string::npos);
}

}  // namespace
