// What a connection tells of its last request over real HTTP(S) on loopback, through libcurl:
// a refused connection, a reply that never came, Retry-After in both forms, an untrusted
// certificate.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "Cluster/ClusterConnection.h"
#include "ClusterSim.h"
#include "HostileServer.h"
#include "tests/support/Recorders.h"

namespace {

using Cluster::CRequestOutcome;

const std::string kLoginEvent =
    "Login to the storage cluster failed: request /v1/session/login, reason: ";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class RequestOutcome : public ::testing::Test {
  protected:
    CRequestOutcome Get(const std::string& path) {
        std::string reply;
        connection->SendRequest(Cluster::REQUEST_GET, path, "", reply, true);
        return connection->GetLastRequestOutcome();
    }

    RecordersInstalled recorders;
    boost::shared_ptr<Cluster::CConnection> connection = boost::make_shared<Cluster::CConnection>();
};

TEST_F(RequestOutcome, ARefusedConnectionIsNotSentAndNamesTheRefusal) {
    std::string url;
    {
        hostile::Server gone([](const hostile::Request&, hostile::Connection&) {});
        url = gone.BaseUrl();
    }
    ASSERT_TRUE(connection->Connect(url, "admin", "admin").IsError());
    const CRequestOutcome outcome = connection->GetLastRequestOutcome();
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(0, outcome.httpStatus);
    EXPECT_EQ(CURLE_COULDNT_CONNECT, outcome.transportCode);
    EXPECT_TRUE(Contains(outcome.transportText, "Connection refused")) << outcome.transportText;
    EXPECT_EQ(std::vector<std::string>({kLoginEvent + outcome.transportText}),
              recorders.events->messages);
    ASSERT_EQ(std::vector<int>({1}), recorders.log->levels);
    EXPECT_TRUE(Contains(recorders.log->lines[0], "POST [" + url + "/v1/session/login]"));
    EXPECT_TRUE(Contains(recorders.log->lines[0], outcome.transportText));
}

TEST_F(RequestOutcome, AReplyThatNeverCameFollowsAWrittenRequest) {
    hostile::Server cluster([](const hostile::Request&, hostile::Connection& peer) {
        peer.Close();  // reads the request, answers nothing
    });
    ASSERT_TRUE(connection->Connect(cluster.BaseUrl(), "admin", "admin").IsError());
    const CRequestOutcome outcome = connection->GetLastRequestOutcome();
    EXPECT_TRUE(outcome.sent);
    EXPECT_EQ(0, outcome.httpStatus);
    EXPECT_EQ(CURLE_GOT_NOTHING, outcome.transportCode);
    EXPECT_EQ(std::vector<std::string>({kLoginEvent + outcome.transportText}),
              recorders.events->messages);
}

TEST_F(RequestOutcome, RetryAfterInEitherFormFromTheLastAnswerOnly) {
    const std::time_t inTwoMinutes = std::time(nullptr) + 120;
    std::tm parts{};
    gmtime_r(&inTwoMinutes, &parts);
    char date[64];
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    auto cluster = std::make_unique<hostile::Server>(
        [date](const hostile::Request& request, hostile::Connection& peer) {
            const std::string busy = R"({"error_class":"Busy","description":"try later"})";
            if (request.target == "/v1/session/login") {
                peer.Send(hostile::LoginAnswer("\"1:t\""));
            } else if (request.target == "/seconds") {
                peer.Send(hostile::Answer(503, busy, "Retry-After: 7\r\n"));
            } else if (request.target == "/date") {
                peer.Send(hostile::Answer(503, "", "retry-after:  " + std::string(date) + "\r\n"));
            } else if (request.target == "/garbled") {
                peer.Send(hostile::Answer(429, "", "Retry-After: soon\r\n"));
            } else {
                peer.Hold(std::chrono::milliseconds(300));
                peer.Send(hostile::Answer(200, "{}"));
            }
        });
    ASSERT_FALSE(connection->Connect(cluster->BaseUrl(), "admin", "admin").IsError());
    CRequestOutcome outcome = Get("/seconds");
    EXPECT_EQ(503, outcome.httpStatus);
    EXPECT_EQ(7, outcome.retryAfterSeconds);
    EXPECT_EQ("Busy", outcome.errorClass);
    EXPECT_EQ("try later", outcome.description);
    outcome = Get("/date");
    EXPECT_GE(outcome.retryAfterSeconds, 100);
    EXPECT_LE(outcome.retryAfterSeconds, 120);
    EXPECT_EQ(-1, Get("/garbled").retryAfterSeconds);
    outcome = Get("/slow");
    EXPECT_EQ(200, outcome.httpStatus);
    EXPECT_EQ(-1, outcome.retryAfterSeconds);
    EXPECT_GE(outcome.elapsedSeconds, 0.3);
    EXPECT_EQ(1, cluster->Connections());  // one reused handle and connection throughout

    // The same handle again, its connection gone and the port closed.
    cluster.reset();
    outcome = Get("/seconds");
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(0, outcome.httpStatus);
    EXPECT_EQ(CURLE_COULDNT_CONNECT, outcome.transportCode);
}

TEST_F(RequestOutcome, AnUntrustedCertificateIsNamed) {
    clustersim::Simulator sim;  // its own certificate, which nothing here trusts
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ASSERT_TRUE(connection->Connect(sim.BaseUrl(), "admin", "admin").IsError());
    const CRequestOutcome outcome = connection->GetLastRequestOutcome();
    EXPECT_FALSE(outcome.sent);
    EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, outcome.transportCode);
    EXPECT_TRUE(Contains(outcome.transportText, "SSL certificate problem"))
        << outcome.transportText;
    EXPECT_TRUE(sim.Journal().empty());
}

}  // namespace
