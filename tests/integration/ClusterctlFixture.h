// Shared by the end-to-end tests of clusterctl: the built binary runs as a child process
// against a simulated cluster started in the test, and its output and exit status are read
// the way a script would read them.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ClusterSim.h"

namespace ctltest {

using child::Outcome;
using child::Strings;

inline constexpr const char* kPassword = "pa55-w0rd!s3cret";
inline constexpr unsigned kPageSize = 7;

// stdin from /dev/null, stdout and stderr captured separately (or stdout into a file).
inline Outcome RunCtl(const Strings& args, const Strings& environment = {},
                      const child::Options& options = {}) {
    Outcome run = child::Run(CLUSTERCTL_PATH, args, environment, options);
    EXPECT_FALSE(run.timedOut) << "clusterctl did not finish";
    return run;
}

// stdin, stdout and stderr all on one pseudo-terminal; `typed` is typed once `prompt` shows.
inline Outcome RunOnTerminal(const Strings& args, const Strings& environment,
                             const std::string& prompt = "", const std::string& typed = "") {
    Outcome run = child::RunOnTerminal(CLUSTERCTL_PATH, args, environment, prompt, typed);
    EXPECT_FALSE(run.timedOut) << "clusterctl did not finish";
    return run;
}

inline Strings Lines(const std::string& text) {
    Strings lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// One JSON object per line (-o jsonl).
inline std::vector<rapidjson::Document> JsonLines(const std::string& text) {
    std::vector<rapidjson::Document> documents;
    for (const std::string& line : Lines(text)) {
        documents.emplace_back();
        documents.back().Parse(line.c_str());
        EXPECT_TRUE(documents.back().IsObject()) << "not a JSON object: " << line;
    }
    return documents;
}

// One JSON document holding an array (-o json of a listing); empty when it is not one.
inline std::vector<rapidjson::Document> JsonArray(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    EXPECT_TRUE(!document.HasParseError() && document.IsArray()) << "not a JSON array: " << text;
    std::vector<rapidjson::Document> rows;
    if (document.HasParseError() || !document.IsArray()) return rows;
    for (const rapidjson::Value& row : document.GetArray()) {
        rows.emplace_back();
        rows.back().CopyFrom(row, rows.back().GetAllocator());
        EXPECT_TRUE(rows.back().IsObject()) << "not a JSON object in " << text;
    }
    return rows;
}

inline std::string Text(const rapidjson::Value& object, const char* key) {
    return object.HasMember(key) && object[key].IsString() ? object[key].GetString() : "";
}

inline uint64_t Number(const rapidjson::Value& object, const char* key) {
    return object.HasMember(key) && object[key].IsUint64() ? object[key].GetUint64() : 0;
}

// A loopback port that was free a moment ago: nothing accepts connections on it.
inline int ClosedPort() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);
    return ntohs(address.sin_port);
}

// One simulated cluster per test suite, with small pages so that short listings span several:
// /tree holds f00 (1536 bytes) to f09 and sub/, which holds g0 to g8 and deeper/h.
class ClusterctlTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        clustersim::Options options;
        options.users = {{"admin", kPassword}};
        options.defaultPageSize = kPageSize;
        s_sim = std::make_unique<clustersim::Simulator>(options);
        s_started = s_sim->Start(&s_startError);
        s_sim->WriteFile("/tree/f00", 1536);
        for (int i = 1; i < 10; ++i) s_sim->WriteFile("/tree/f0" + std::to_string(i), 10);
        for (int i = 0; i < 9; ++i) s_sim->WriteFile("/tree/sub/g" + std::to_string(i), 20);
        s_sim->WriteFile("/tree/sub/deeper/h", 30);
    }
    static void TearDownTestSuite() { s_sim.reset(); }
    void SetUp() override { ASSERT_TRUE(s_started) << s_startError; }
    void TearDown() override { s_sim->ClearFaults(); }

    static Strings Connected(const Strings& args) {
        Strings all{"--url", s_sim->BaseUrl(), "--cacert", s_sim->CaFile()};
        all.insert(all.end(), args.begin(), args.end());
        return all;
    }
    static Outcome Ctl(const Strings& args, const child::Options& options = {}) {
        return RunCtl(Connected(args), {std::string("CLUSTER_PASSWORD=") + kPassword}, options);
    }

    static inline std::unique_ptr<clustersim::Simulator> s_sim;
    static inline bool s_started = false;
    static inline std::string s_startError;
};

}  // namespace ctltest
