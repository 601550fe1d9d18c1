// The faults of a real cluster as the simulator plays them: tokens that expire, random busy
// answers, resets and cut answers, a limit on requests in flight, latency, and the options that
// ask for them on the command line and in the environment.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "OptionText.h"
#include "sim_client.h"

namespace {

using clustersim::Options;
using clustersim::Simulator;
using simtest::Client;
using simtest::Reply;

const std::string kSnapshots = "/v2/snapshots/";

std::unique_ptr<Simulator> Started(Options options) {
    options.tls = false;
    auto sim = std::make_unique<Simulator>(options);
    std::string error;
    EXPECT_TRUE(sim->Start(&error)) << error;
    return sim;
}

// A busy answer as a client that retries needs it: the status, Retry-After and a JSON error.
void ExpectRetryLater(long status, const Reply& reply) {
    EXPECT_EQ(status, reply.status) << reply.body;
    EXPECT_EQ(1, reply.retryAfter);
    EXPECT_EQ("application/json", reply.contentType);
    EXPECT_FALSE(reply.ErrorClass().empty()) << reply.body;
    EXPECT_FALSE(reply.Description().empty()) << reply.body;
}

void ExpectFault(const std::string& kind, const Reply& reply) {
    if (kind == "503" || kind == "429") {
        ExpectRetryLater(std::stol(kind), reply);
    } else if (kind == "reset") {
        EXPECT_EQ(CURLE_GOT_NOTHING, reply.code);
    } else {
        EXPECT_EQ(CURLE_PARTIAL_FILE, reply.code);
        EXPECT_EQ(200, reply.status);
        EXPECT_EQ(0u, reply.body.find_first_of("{[")) << "half of the real answer: " << reply.body;
    }
}

char Letter(const Reply& reply) {
    if (reply.code == CURLE_GOT_NOTHING) return 'R';
    if (reply.code == CURLE_PARTIAL_FILE) return 'T';
    if (reply.code != CURLE_OK) return '?';
    return reply.status == 200 ? '.' : reply.status == 503 ? 'U' : reply.status == 429 ? 'B' : '?';
}

// One letter per request, in order; the counters must tell the same story.
std::string FaultSequence(uint64_t seed, unsigned jitterMs) {
    Options options;
    options.seed = seed;
    options.latencyJitterMs = jitterMs;
    options.faultRates = {0.2, 0.2, 0.15, 0.15};
    const auto sim = Started(options);
    Client client(*sim);
    client.freshConnections = true;
    EXPECT_FALSE(client.LogIn().empty());
    std::string letters;
    for (int i = 0; i < 40; ++i) letters += Letter(client.Get(kSnapshots));
    const auto count = [&](char c) {
        return static_cast<uint64_t>(std::count(letters.begin(), letters.end(), c));
    };
    const auto statistics = sim->Statistics();
    EXPECT_EQ(41u, statistics.requests);
    EXPECT_EQ(count('U'), statistics.unavailable);
    EXPECT_EQ(count('B'), statistics.busy);
    EXPECT_EQ(count('R'), statistics.resets);
    EXPECT_EQ(count('T'), statistics.truncations);
    return letters;
}

TEST(SimRealism, TokensStopWorkingAfterTheirTimeToLive) {
    Options brief;
    brief.tokenTtlSeconds = 1;
    const auto expiring = Started(brief);
    const auto lasting = Started(Options());
    Client client(*expiring);
    Client other(*lasting);
    ASSERT_FALSE(client.LogIn().empty());
    ASSERT_FALSE(other.LogIn().empty());
    EXPECT_EQ(200, client.Get(kSnapshots).status) << "right after the login";

    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const Reply expired = client.Get(kSnapshots);
    EXPECT_EQ(401, expired.status);
    EXPECT_EQ("http_unauthorized_error", expired.ErrorClass()) << expired.body;
    EXPECT_NE(std::string::npos, expired.Description().find("expired")) << expired.body;
    EXPECT_EQ(1u, expiring->Statistics().expiredTokens);
    EXPECT_EQ(200, other.Get(kSnapshots).status) << "without a time to live a token lasts";

    client.token = "1:00";
    EXPECT_EQ(401, client.Get(kSnapshots).status);
    EXPECT_EQ(1u, expiring->Statistics().expiredTokens) << "a token never issued did not expire";
    ASSERT_FALSE(client.LogIn().empty());
    EXPECT_EQ(200, client.Get(kSnapshots).status) << "a new login gives a working token";
}

TEST(SimRealism, ARateOfOneHitsEveryRequestButLoginAndARateOfZeroNone) {
    const std::vector<std::string> targets = {kSnapshots, "/v1/smb/shares/", "/v2/nfs/exports/",
                                              "/v1/files/%2F/entries/"};
    for (const std::string kind : {"503", "429", "reset", "truncated"}) {
        Options options;
        ASSERT_TRUE(clustersim::ParseFaultRate(kind + ":1", &options));
        const auto sim = Started(options);
        Client client(*sim);
        client.freshConnections = true;
        ASSERT_FALSE(client.LogIn().empty()) << kind << ": logins are spared";
        for (const std::string& target : targets) {
            SCOPED_TRACE(kind + " " + target);
            ExpectFault(kind, client.Get(target));
        }
        const auto statistics = sim->Statistics();
        const uint64_t hits = kind == "503"     ? statistics.unavailable
                              : kind == "429"   ? statistics.busy
                              : kind == "reset" ? statistics.resets
                                                : statistics.truncations;
        EXPECT_EQ(targets.size(), hits) << kind;
        EXPECT_EQ(
            statistics.unavailable + statistics.busy + statistics.resets + statistics.truncations,
            hits)
            << kind << ": no other fault";
    }

    Options never;
    for (const char* rate : {"503:0", "429:0.0", "reset:0", "truncated:0"}) {
        ASSERT_TRUE(clustersim::ParseFaultRate(rate, &never));
    }
    const auto sim = Started(never);
    Client client(*sim);
    ASSERT_FALSE(client.LogIn().empty());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(200, client.Get(targets[i % 4]).status);
}

TEST(SimRealism, TheSameSeedGivesTheSameFaultsWhateverTheLatency) {
    const std::string first = FaultSequence(7, 0);
    EXPECT_EQ(first, FaultSequence(7, 0));
    EXPECT_EQ(first, FaultSequence(7, 20)) << "latency draws do not take fault draws";
    EXPECT_NE(first, FaultSequence(8, 0));
    for (const char outcome : std::string(".UBRT")) {
        EXPECT_NE(std::string::npos, first.find(outcome)) << outcome << " in " << first;
    }
}

TEST(SimRealism, ARequestAboveTheLimitIsTurnedAwayWhileAnotherIsHeld) {
    Options options;
    options.maxConcurrent = 1;
    options.latencyMs = 1500;
    const auto sim = Started(options);
    Client first(*sim);
    Client second(*sim);
    second.token = first.LogIn();
    ASSERT_FALSE(second.token.empty());
    sim->ClearJournal();

    Reply held;
    const auto started = std::chrono::steady_clock::now();
    std::thread holder([&] { held = first.Get(kSnapshots); });
    // A request on the journal is already counted in flight.
    for (int i = 0; i < 1000 && sim->Journal().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Reply refused = second.Get(kSnapshots);
    holder.join();
    ExpectRetryLater(429, refused);
    EXPECT_EQ(200, held.status);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500))
        << "held by the latency";
    EXPECT_EQ(1u, sim->Statistics().concurrencyRefusals);
    EXPECT_EQ(200, second.Get(kSnapshots).status) << "let in once the other is done";
}

TEST(SimRealism, FlagsAndEnvironmentRefuseTheSameBadValues) {
    struct Bad {
        std::vector<std::string> flags;
        const char* variable;
        const char* value;
    };
    const std::vector<Bad> bad = {
        {{"--token-ttl", "-1"}, "CLUSTER_SIM_TOKEN_TTL", "-1"},
        {{"--token-ttl", "soon"}, "CLUSTER_SIM_TOKEN_TTL", "soon"},
        {{"--fault-rate", "503"}, "CLUSTER_SIM_FAULT_RATE", "503"},
        {{"--fault-rate", "503:1.5"}, "CLUSTER_SIM_FAULT_RATE", "503:1.5"},
        {{"--fault-rate", "429:1e-1"}, "CLUSTER_SIM_FAULT_RATE", "429:1e-1"},
        {{"--fault-rate", "reset:nan"}, "CLUSTER_SIM_FAULT_RATE", "reset:nan"},
        {{"--fault-rate", "boom:0.1"}, "CLUSTER_SIM_FAULT_RATE", "boom:0.1"},
        {{"--fault-rate", "503:0.6", "--fault-rate", "reset:0.6"},
         "CLUSTER_SIM_FAULT_RATE",
         "503:0.6,reset:0.6"},
        {{"--seed", "18446744073709551616"}, "CLUSTER_SIM_SEED", "18446744073709551616"},
        {{"--max-concurrent", "-3"}, "CLUSTER_SIM_MAX_CONCURRENT", "-3"},
        {{"--latency", "5:x"}, "CLUSTER_SIM_LATENCY", "5:x"},
        {{"--latency", ":5"}, "CLUSTER_SIM_LATENCY", ":5"},
        {{"--latency", "3600001"}, "CLUSTER_SIM_LATENCY", "3600001"},
    };
    for (const Bad& value : bad) {
        const auto outcome = child::Run(CLUSTER_SIM_PATH, value.flags, {});
        EXPECT_EQ(2, outcome.status) << value.value;
        EXPECT_EQ("", outcome.out) << value.value << ": no server";
        Options options;
        std::string error;
        const auto lookup = [&](const char* name) {
            return std::string(name) == value.variable ? value.value : nullptr;
        };
        EXPECT_FALSE(clustersim::OptionsFromLookup(lookup, &options, &error)) << value.value;
        EXPECT_EQ(0u, error.find(value.variable)) << error;
        EXPECT_EQ(0, options.faultRates.unavailable) << "left alone";
    }
}

TEST(SimRealism, FlagsAndEnvironmentReachTheSimulator) {
    const std::map<std::string, const char*> environment = {
        {"CLUSTER_SIM_TOKEN_TTL", "30"},
        {"CLUSTER_SIM_FAULT_RATE", "503:0.25,reset:0.5"},
        {"CLUSTER_SIM_SEED", "18446744073709551615"},
        {"CLUSTER_SIM_MAX_CONCURRENT", "4"},
        {"CLUSTER_SIM_LATENCY", "10:5"},
        {"CLUSTER_SIM_STATE", "ignored"}};
    Options options;
    std::string error;
    ASSERT_TRUE(clustersim::OptionsFromLookup(
        [&](const char* name) {
            const auto it = environment.find(name);
            return it == environment.end() ? nullptr : it->second;
        },
        &options, &error))
        << error;
    EXPECT_EQ(30u, options.tokenTtlSeconds);
    EXPECT_EQ(0.25, options.faultRates.unavailable);
    EXPECT_EQ(0.5, options.faultRates.reset);
    EXPECT_EQ(UINT64_MAX, options.seed);
    EXPECT_EQ(4u, options.maxConcurrent);
    EXPECT_EQ(10u, options.latencyMs);
    EXPECT_EQ(5u, options.latencyJitterMs);
    ASSERT_TRUE(clustersim::OptionsFromLookup([](const char*) { return ""; }, &options, &error));
    EXPECT_EQ(30u, options.tokenTtlSeconds) << "an empty variable leaves its option alone";

    simtest::Program program({"--no-tls", "--fault-rate", "429:1", "--token-ttl", "60", "--seed",
                              "9", "--max-concurrent", "4", "--latency", "1:1"});
    std::smatch match;
    const std::string line = program.FirstLine();
    ASSERT_TRUE(std::regex_match(line, match, std::regex("cluster-sim listening on (http://.*)")))
        << line;
    Client client(match[1], "");
    ASSERT_FALSE(client.LogIn().empty());
    ExpectRetryLater(429, client.Get(kSnapshots));
    program.Signal(SIGTERM);
    EXPECT_EQ(0, program.ExitCode());
}

}  // namespace
