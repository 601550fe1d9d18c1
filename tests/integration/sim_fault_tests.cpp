// The fault plan, observed on the wire: plain HTTP and a raw socket where the fault breaks HTTP
// itself, libcurl where it still answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

#include "sim_client.h"

namespace {

using clustersim::Fault;
using clustersim::Options;
using clustersim::Simulator;
using simtest::Client;
using simtest::Reply;

constexpr int kQuietMs = 3000;

Fault MakeFault(Fault::Kind kind, const std::string& prefix = "/v2/snapshots/") {
    Fault fault;
    fault.kind = kind;
    fault.pathPrefix = prefix;
    return fault;
}

size_t ContentLength(const std::string& head) {
    const size_t at = head.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
}

class SimFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Options options;
        options.tls = false;
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        client = std::make_unique<Client>(*sim);
        ASSERT_FALSE(client->LogIn().empty());
    }

    std::string RawGet(const std::string& target) const {
        return "GET " + target + " HTTP/1.1\r\nHost: sim\r\nAuthorization: Bearer " +
               client->token + "\r\n\r\n";
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Client> client;
};

TEST_F(SimFaultTest, RespondMatchesMethodAndPrefixAndCountsDown) {
    Fault fault = MakeFault(Fault::Kind::Respond, "/v2/snap");
    fault.method = "GET";
    fault.status = 502;
    fault.body = "<html><body>Bad Gateway</body></html>";
    fault.contentType = "text/html";
    fault.remaining = 2;
    sim->AddFault(fault);

    EXPECT_EQ(201, client->Send("POST", "/v2/snapshots/", "{\"source_file_id\":\"2\"}").status);
    EXPECT_EQ(200, client->Get("/v1/smb/shares/").status);
    for (int i = 0; i < 2; ++i) {
        const Reply reply = client->Get("/v2/snapshots/");
        EXPECT_EQ(502, reply.status);
        EXPECT_EQ("text/html", reply.contentType);
        EXPECT_EQ(fault.body, reply.body);
    }
    EXPECT_EQ(200, client->Get("/v2/snapshots/").status) << "used up after two requests";

    fault.remaining = -1;
    sim->AddFault(fault);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(502, client->Get("/v2/snapshots/").status);
    sim->ClearFaults();
    EXPECT_EQ(200, client->Get("/v2/snapshots/").status);
}

TEST_F(SimFaultTest, FaultsComeBeforeTheTokenCheckAndAreJournaled) {
    Fault fault = MakeFault(Fault::Kind::Respond, "/v1/session/login");
    fault.status = 503;
    fault.body = "{\"description\":\"try later\"}";
    fault.remaining = 1;
    sim->AddFault(fault);
    sim->ClearJournal();
    EXPECT_TRUE(client->LogIn().empty());
    EXPECT_FALSE(client->LogIn().empty());

    sim->AddFault(MakeFault(Fault::Kind::NotJson));
    client->token.clear();
    const Reply reply = client->Get("/v2/snapshots/");
    EXPECT_EQ(200, reply.status) << "no token needed to meet a fault";
    EXPECT_TRUE(reply.Json().HasParseError()) << reply.body;
    EXPECT_EQ("application/json", reply.contentType);
    const auto journal = sim->Journal();
    ASSERT_EQ(3u, journal.size());
    EXPECT_EQ("/v1/session/login", journal[0].target);
    EXPECT_EQ("/v2/snapshots/", journal[2].target);
}

TEST_F(SimFaultTest, DelayAnswersNormallyAfterwards) {
    Fault fault = MakeFault(Fault::Kind::Delay);
    fault.delayMs = 300;
    sim->AddFault(fault);
    const auto started = std::chrono::steady_clock::now();
    const Reply reply = client->Get("/v2/snapshots/");
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_EQ(200, reply.status);
    EXPECT_TRUE(reply.Json().IsObject());
}

TEST_F(SimFaultTest, TruncatedBodyAnnouncesMoreThanItSends) {
    sim->AddFault(MakeFault(Fault::Kind::TruncatedBody));
    bool closed = false;
    const std::string bytes =
        simtest::RawExchange(sim->Port(), RawGet("/v2/snapshots/"), kQuietMs, &closed);
    EXPECT_TRUE(closed);
    ASSERT_EQ(0u, bytes.find("HTTP/1.1 200 OK\r\n")) << bytes;
    const size_t bodyStart = bytes.find("\r\n\r\n") + 4;
    const size_t announced = ContentLength(bytes);
    EXPECT_GT(announced, 0u);
    EXPECT_EQ(announced / 2, bytes.size() - bodyStart);
}

TEST_F(SimFaultTest, CloseNoAnswerSendsNothing) {
    sim->AddFault(MakeFault(Fault::Kind::CloseNoAnswer));
    bool closed = false;
    EXPECT_EQ("", simtest::RawExchange(sim->Port(), RawGet("/v2/snapshots/"), kQuietMs, &closed));
    EXPECT_TRUE(closed);
    EXPECT_EQ(CURLE_GOT_NOTHING, client->Get("/v2/snapshots/").code);
    EXPECT_EQ(200, client->Get("/v1/smb/shares/").status) << "the next connection is served";
}

TEST_F(SimFaultTest, StallAfterHeadersSendsTheHeadThenNothingThenCloses) {
    Fault fault = MakeFault(Fault::Kind::StallAfterHeaders);
    fault.delayMs = 1200;
    sim->AddFault(fault);
    const int socket = simtest::ConnectLoopback(sim->Port());
    ASSERT_GE(socket, 0);
    const std::string request = RawGet("/v2/snapshots/");
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              send(socket, request.data(), request.size(), 0));
    std::string bytes;
    while (bytes.find("\r\n\r\n") == std::string::npos) {
        if (simtest::ReadFrom(socket, &bytes, kQuietMs, bytes.size() + 1) || bytes.empty()) break;
    }
    ASSERT_EQ(0u, bytes.find("HTTP/1.1 200 OK\r\n")) << bytes;
    const size_t headSize = bytes.size();
    EXPECT_GT(ContentLength(bytes), 0u);
    EXPECT_FALSE(simtest::ReadFrom(socket, &bytes, 300)) << "still open while stalling";
    EXPECT_TRUE(simtest::ReadFrom(socket, &bytes, kQuietMs)) << "closed after the stall";
    EXPECT_EQ(headSize, bytes.size()) << "no body at all";
    close(socket);
}

TEST_F(SimFaultTest, HugeBodyIsExactlyThatBigAndStillJson) {
    Fault fault = MakeFault(Fault::Kind::HugeBody);
    fault.hugeBytes = 8 * 1024 * 1024 + 7;
    sim->AddFault(fault);
    const Reply reply = client->Get("/v2/snapshots/");
    EXPECT_EQ(CURLE_OK, reply.code);
    EXPECT_EQ(200, reply.status);
    ASSERT_EQ(fault.hugeBytes, reply.body.size());
    const auto json = reply.Json();
    ASSERT_FALSE(json.HasParseError());
    EXPECT_GT(json["files"].Size(), 100000u);
    EXPECT_EQ(200, client->Get("/v2/snapshots/").status) << "the connection lives on";
}

TEST_F(SimFaultTest, StopCutsAStallShort) {
    Fault fault = MakeFault(Fault::Kind::StallAfterHeaders);
    fault.delayMs = 60000;
    sim->AddFault(fault);
    const int socket = simtest::ConnectLoopback(sim->Port());
    ASSERT_GE(socket, 0);
    const std::string request = RawGet("/v2/snapshots/");
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              send(socket, request.data(), request.size(), 0));
    std::string bytes;
    EXPECT_FALSE(simtest::ReadFrom(socket, &bytes, 300));
    std::thread stopper([this] { sim->Stop(); });
    EXPECT_TRUE(simtest::ReadFrom(socket, &bytes, 20000)) << "closed long before the stall ends";
    stopper.join();
    close(socket);
}

TEST_F(SimFaultTest, RequestsHttpRefusesItselfStillGetADescription) {
    for (const std::string& request : {std::string("NONSENSE\r\n\r\n"),
                                       std::string("OPTIONS /v2/snapshots/ HTTP/1.1\r\n\r\n")}) {
        bool closed = false;
        const std::string bytes = simtest::RawExchange(sim->Port(), request, kQuietMs, &closed);
        EXPECT_EQ(0u, bytes.find("HTTP/1.1 4")) << bytes;
        EXPECT_NE(std::string::npos, bytes.find("\"description\":\"")) << bytes;
        EXPECT_TRUE(closed) << "nothing more is read from a connection in doubt";
    }
}

TEST(SimFaultTls, CloseNoAnswerOverTlsGivesNothing) {
    Simulator sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Client client(sim);
    ASSERT_FALSE(client.LogIn().empty());
    sim.AddFault(MakeFault(Fault::Kind::CloseNoAnswer));
    const Reply reply = client.Get("/v2/snapshots/");
    EXPECT_NE(CURLE_OK, reply.code);
    EXPECT_EQ(0, reply.status);
    EXPECT_EQ("", reply.body);
}

}  // namespace
