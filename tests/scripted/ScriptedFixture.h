// Shared by the scripted tests: a connection that logs in through the scripted client, the
// exact header lines the library sends, and a recorder for the events it raises.
#pragma once

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"
#include "platform/ZuUtils.h"
#include "tests/scripted/ScriptedTNLibCurl.h"
#include "tests/support/Recorders.h"

namespace scripted_test {

constexpr const char kBaseUrl[] = "https://backup-cluster:8000";
constexpr const char kToken[] = "session-token-1";
constexpr const char kContentType[] = "Content-Type: application/json";
constexpr const char kBearer[] = "Authorization: Bearer session-token-1";

// The largest identifier the cluster can hand out: 20 decimal digits.
constexpr const char kLargestId[] = "18446744073709551615";

class ScriptedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scripted::Reset();
        m_previousSender = ISendEventInterface::GetInstance();
        events = boost::make_shared<RecordingEventSender>();
        ISendEventInterface::SetInstance(events);
    }

    void TearDown() override {
        EXPECT_EQ(0u, scripted::PendingReplies()) << "the library sent fewer requests than queued";
        ISendEventInterface::SetInstance(m_previousSender);
        scripted::Reset();
    }

    // Logs in (the reply carries kToken), then forgets the login request.
    void LogIn() {
        scripted::Queue(200, std::string("{\"bearer_token\":\"") + kToken + "\"}");
        const CZuError error = connection->Connect(kBaseUrl, "admin", "admin");
        ASSERT_FALSE(error.IsError()) << error.ToString();
        scripted::TakeRequests();
    }

    // The one request sent since the last call; fails the test when there were others.
    static scripted::Request OnlyRequest() {
        const std::vector<scripted::Request> requests = scripted::TakeRequests();
        EXPECT_EQ(1u, requests.size());
        return requests.empty() ? scripted::Request() : requests.front();
    }

    // A GET of base URL + path with no body and the session's header lines.
    static void ExpectQuery(const scripted::Request& request, const std::string& path) {
        EXPECT_EQ("GET", request.method);
        EXPECT_EQ(kBaseUrl + path, request.url);
        EXPECT_EQ("", request.body);
        EXPECT_EQ(std::vector<std::string>({kContentType, kBearer}), request.headers);
    }

    boost::shared_ptr<RecordingEventSender> events;
    // Made with the fixture, so that query objects among a test's members can take them.
    boost::shared_ptr<Cluster::CConnection> connection = boost::make_shared<Cluster::CConnection>();
    boost::shared_ptr<Cluster::CParser> parser = boost::make_shared<Cluster::CParser>();

  private:
    boost::shared_ptr<ISendEventInterface> m_previousSender;
};

}  // namespace scripted_test
