// Login and authenticated requests against the simulated cluster, checked on the wire
// through the simulator's request journal.
#include <chrono>
#include <cstdlib>

#include "SimFixture.h"
#include "platform/json_spirit/json_spirit.h"
#include "tests/support/Signatures.h"

using Cluster::CConnection;
using Cluster::REQUEST_DELETE;
using Cluster::REQUEST_GET;
using Cluster::REQUEST_POST;
using clustersim::Fault;

namespace {

const char kNoTokenReason[] = "Failed to find authentication token in response";

Fault LoginAnswer(int status, const std::string& body) {
    Fault fault;
    fault.kind = Fault::Kind::Respond;
    fault.method = "POST";
    fault.pathPrefix = "/v1/session/login";
    fault.status = status;
    fault.body = body;
    return fault;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ConnectionTest : public SimTest {};

TEST_F(ConnectionTest, LoginSendsExactBodyAndLaterRequestsCarryTheToken) {
    ASSERT_FALSE(connection->Connect(sim.BaseUrl(), "admin", "admin").IsError());
    std::string token;
    ASSERT_FALSE(connection->GetAuthorizationToken(token).IsError());
    EXPECT_FALSE(token.empty());

    std::string reply;
    ASSERT_FALSE(connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true).IsError());
    EXPECT_TRUE(Contains(reply, "\"entries\""));

    const auto journal = sim.Journal();
    ASSERT_EQ(2u, journal.size());
    const auto& login = journal[0];
    EXPECT_EQ("POST", login.method);
    EXPECT_EQ("/v1/session/login", login.target);
    EXPECT_EQ("{\"password\":\"admin\",\"username\":\"admin\"}", login.body);
    EXPECT_EQ(1u, login.HeaderCount("Content-Type"));
    EXPECT_EQ("application/json", login.Header("Content-Type"));
    EXPECT_EQ(0u, login.HeaderCount("Authorization"));
    EXPECT_EQ("GET", journal[1].method);
    EXPECT_EQ("Bearer " + token, journal[1].Header("Authorization"));
    EXPECT_EQ(1u, journal[1].HeaderCount("Content-Type"));
    EXPECT_TRUE(events->messages.empty());
}

TEST_F(ConnectionTest, BaseUrlLosesExactlyOneTrailingSlash) {
    ASSERT_FALSE(connection->Connect(sim.BaseUrl() + "/", "admin", "admin").IsError());
    EXPECT_EQ("/v1/session/login", sim.Journal().at(0).target);
    sim.ClearJournal();
    EXPECT_TRUE(connection->Connect(sim.BaseUrl() + "//", "admin", "admin").IsError());
    EXPECT_EQ("//v1/session/login", sim.Journal().at(0).target);
}

TEST_F(ConnectionTest, RejectedLoginRaisesEventWithDescriptionAndPushesConnect) {
    const CZuError error = connection->Connect(sim.BaseUrl(), "admin", "wrong-secret");
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kConnect}),
              Trail(error));
    EXPECT_EQ("ClusterConnection", error.GetLocations().at(0).file);
    EXPECT_EQ(0u, error.GetMessage().find("Error: API failed. operation [1]. URL[" + sim.BaseUrl() +
                                          "/v1/session/login]. Body [{\"password\":\"***\","
                                          "\"username\":\"admin\"}] Response ["));
    ASSERT_EQ(1u, events->messages.size());
    EXPECT_EQ(0x11000095u, events->codes[0]);
    EXPECT_TRUE(events->allFlagsZero);
    EXPECT_TRUE(Contains(events->messages[0], "/v1/session/login"));
    const std::string message = error.GetMessage();
    const size_t replyAt = message.find("Response [") + 10;
    json_spirit::mValue reply;
    ASSERT_TRUE(
        json_spirit::read_string(message.substr(replyAt, message.size() - replyAt - 1), reply));
    const std::string description = reply.get_obj().at("description").get_str();
    EXPECT_FALSE(description.empty());
    EXPECT_TRUE(Contains(events->messages[0], description)) << events->messages[0];
    std::string token = "untouched";
    EXPECT_TRUE(connection->GetAuthorizationToken(token).IsError());
    EXPECT_EQ("untouched", token);
}

TEST_F(ConnectionTest, RejectionReasonIsTheDescriptionStringOrAuthenticationFailed) {
    const struct {
        std::string body;
        std::string reason;
    } cases[] = {
        {"{\"description\":\"Account locked\"}", "Account locked"},
        {"{}", "authentication failed"},
        {"{\"description\":null}", "authentication failed"},
        {"{\"description\":42}", "authentication failed"},
        {"<html>Bad Gateway</html>", "authentication failed"},
        {"[\"description\"]", "authentication failed"},
    };
    for (const auto& row : cases) {
        sim.ClearFaults();
        sim.AddFault(LoginAnswer(401, row.body));
        events->messages.clear();
        const CZuError error = connection->Connect(sim.BaseUrl(), "admin", "admin");
        ASSERT_TRUE(error.IsError()) << row.body;
        EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kConnect}),
                  Trail(error));
        ASSERT_EQ(1u, events->messages.size()) << row.body;
        EXPECT_TRUE(Contains(events->messages[0], row.reason)) << events->messages[0];
    }
}

TEST_F(ConnectionTest, AcceptedReplyWithoutUsableTokenKeepsTheEarlierToken) {
    LogIn();
    std::string first;
    ASSERT_FALSE(connection->GetAuthorizationToken(first).IsError());
    const struct {
        std::string body;
        std::string message;
    } cases[] = {
        {"{}", "No Authorization Token found"},
        {"{\"bearer_token\":null}", "No Authorization Token found"},
        {"{\"bearer_token\":42}",
         "Exception getting value [bearer-token] - [value is an integer, not a string]"},
        {"not json at all",
         "Exception getting value [bearer-token] - [value is null, not an object]"},
    };
    for (const auto& row : cases) {
        sim.ClearFaults();
        sim.AddFault(LoginAnswer(200, row.body));
        events->messages.clear();
        const CZuError error = connection->Connect(sim.BaseUrl(), "admin", "admin");
        ASSERT_TRUE(error.IsError()) << row.body;
        EXPECT_EQ(774u, error.GetCode());
        EXPECT_EQ(row.message, error.GetMessage());
        EXPECT_EQ(std::vector<std::string>({signatures::kConnect}), Trail(error));
        ASSERT_EQ(1u, events->messages.size());
        EXPECT_TRUE(Contains(events->messages[0], kNoTokenReason));
        std::string token;
        ASSERT_FALSE(connection->GetAuthorizationToken(token).IsError());
        EXPECT_EQ(first, token);
    }
}

TEST_F(ConnectionTest, EmptyTokenIsStoredAndThenReportedMissing) {
    sim.AddFault(LoginAnswer(200, "{\"bearer_token\":\"\"}"));
    ASSERT_FALSE(connection->Connect(sim.BaseUrl(), "admin", "admin").IsError());
    std::string token = "untouched";
    const CZuError error = connection->GetAuthorizationToken(token);
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("Authorization Token is empty. Please make sure the connection is established first.",
              error.GetMessage());
    EXPECT_EQ(std::vector<std::string>({signatures::kGetAuthorizationToken}), Trail(error));
    EXPECT_EQ("untouched", token);
    std::string reply;
    sim.ClearJournal();
    connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true);
    EXPECT_EQ("Bearer", sim.Journal().at(0).Header("Authorization").substr(0, 6));
}

TEST_F(ConnectionTest, FailedRequestsNameTheClientsOperationNumber) {
    LogIn();
    const struct {
        Cluster::RequestType type;
        std::string path;
        std::string method;
        int operation;
    } cases[] = {
        {REQUEST_GET, "/v9/unknown", "GET", 0},
        {REQUEST_POST, "/v2/snapshots/", "POST", 1},
        {REQUEST_DELETE, "/v2/snapshots/987654321", "DELETE", 3},
    };
    for (const auto& row : cases) {
        sim.ClearJournal();
        std::string reply;
        const CZuError error = connection->SendRequest(row.type, row.path, "{}", reply, true);
        ASSERT_TRUE(error.IsError()) << row.path;
        EXPECT_EQ(0u, error.GetMessage().find(
                          "Error: API failed. operation [" + std::to_string(row.operation) +
                          "]. URL[" + sim.BaseUrl() + row.path + "]. Body [{}] Response [{"))
            << error.GetMessage();
        EXPECT_TRUE(Contains(reply, "description")) << reply;
        EXPECT_TRUE(Contains(error.GetMessage(), reply));
        ASSERT_EQ(1u, sim.Journal().size());
        EXPECT_EQ(row.method, sim.Journal()[0].method);
        EXPECT_EQ(row.path, sim.Journal()[0].target);
    }
}

TEST_F(ConnectionTest, UnsupportedKindsSendNothingAndLeaveTheResponse) {
    LogIn();
    std::string reply = "untouched";
    CZuError error = connection->SendRequest(static_cast<Cluster::RequestType>(3), "/v2/snapshots/",
                                             "", reply, true);
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("Unsupported Request Type", error.GetMessage());
    EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest}), Trail(error));
    error = connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply,
                                    {{"httpheader", "X-A: b"}}, true);
    EXPECT_EQ(50u, error.GetCode());
    EXPECT_EQ("Unsupported Header Type : httpheader", error.GetMessage());
    EXPECT_EQ("untouched", reply);
    EXPECT_TRUE(sim.Journal().empty());
}

TEST_F(ConnectionTest, DebugLineOnlyAtLevelTwoOnSuccessWithPathNotUrl) {
    LogIn();
    log->lines.clear();
    log->levels.clear();
    log->functions.clear();
    std::string reply;
    ASSERT_FALSE(connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true).IsError());
    ASSERT_EQ(1u, log->lines.size());
    EXPECT_EQ(2, log->levels[0]);
    EXPECT_EQ(signatures::kSendRequest, log->functions[0]);
    EXPECT_EQ("Http request URL [/v2/snapshots/], body [], response [" + reply + "]",
              log->lines[0]);
    ASSERT_FALSE(
        connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, false).IsError());
    // A failure is not a debug line: it is logged once at the ordinary level.
    EXPECT_TRUE(connection->SendRequest(REQUEST_GET, "/v9/unknown", "", reply, true).IsError());
    ASSERT_EQ(2u, log->lines.size());
    EXPECT_EQ(1, log->levels[1]);
    EXPECT_EQ(0u, log->lines[1].find("Http request failed: GET ")) << log->lines[1];

    g_ptrLogWriter = boost::make_shared<RecordingLogWriter>(1);
    ASSERT_FALSE(connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true).IsError());
    EXPECT_TRUE(static_cast<RecordingLogWriter&>(*g_ptrLogWriter).lines.empty());
    g_ptrLogWriter.reset();
    ASSERT_FALSE(connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true).IsError());
    ISendEventInterface::SetInstance(boost::shared_ptr<ISendEventInterface>());
    EXPECT_TRUE(connection->Connect(sim.BaseUrl(), "admin", "nope").IsError());
}

TEST_F(ConnectionTest, NeitherPasswordNorTokenReachesLogsEventsOrErrors) {
    const std::string password = "Pa55-very-secret";
    sim.AddUser("operator", password);
    ASSERT_FALSE(connection->Connect(sim.BaseUrl(), "operator", password).IsError());
    std::string token;
    ASSERT_FALSE(connection->GetAuthorizationToken(token).IsError());
    std::string reply;
    ASSERT_FALSE(connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true).IsError());
    const CZuError rejected = connection->Connect(sim.BaseUrl(), "operator", password + "x");
    ASSERT_TRUE(rejected.IsError());
    sim.AddFault(LoginAnswer(200, "{\"bearer_token\":42,\"password\":\"" + password + "\"}"));
    const CZuError odd = connection->Connect(sim.BaseUrl(), "operator", password);
    ASSERT_TRUE(odd.IsError());

    std::vector<std::string> texts = log->lines;
    texts.insert(texts.end(), events->messages.begin(), events->messages.end());
    texts.push_back(rejected.GetMessage());
    texts.push_back(rejected.ToString());
    texts.push_back(odd.ToString());
    ASSERT_GE(log->lines.size(), 2u);
    EXPECT_TRUE(Contains(log->lines[0], "\"password\":\"***\""));
    EXPECT_TRUE(Contains(log->lines[0], "\"bearer_token\":\"***\""));
    for (const auto& text : texts) {
        EXPECT_FALSE(Contains(text, password)) << text;
        EXPECT_FALSE(Contains(text, token)) << text;
    }
}

// The token stays with the cluster that issued it (the hostile-server suite checks the header).
TEST_F(ConnectionTest, SecondConnectFailingAtLoginElsewhereTakesNewUrlAndDropsTheToken) {
    LogIn();
    std::string first;
    ASSERT_FALSE(connection->GetAuthorizationToken(first).IsError());
    clustersim::Simulator other;
    std::string problem;
    ASSERT_TRUE(other.Start(&problem)) << problem;
    TNLibCurl::Defaults defaults;
    defaults.insecure = true;  // two simulators, two self-signed certificates
    TNLibCurl::SetDefaults(defaults);
    EXPECT_TRUE(connection->Connect(other.BaseUrl(), "admin", "wrong").IsError());
    std::string token;
    EXPECT_TRUE(connection->GetAuthorizationToken(token).IsError());
    std::string reply;
    connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true);
    EXPECT_EQ(2u, other.Journal().size());
    EXPECT_TRUE(sim.Journal().empty());
}

TEST_F(ConnectionTest, TlsIsVerifiedByDefault) {
    TNLibCurl::SetDefaults(TNLibCurl::Defaults());
    unsetenv("CURL_CA_BUNDLE");
    const CZuError refused = connection->Connect(sim.BaseUrl(), "admin", "admin");
    ASSERT_TRUE(refused.IsError());
    EXPECT_TRUE(Contains(refused.GetMessage(), "Response []"));
    EXPECT_TRUE(sim.Journal().empty());
    setenv("CURL_CA_BUNDLE", sim.CaFile().c_str(), 1);
    const CZuError accepted = connection->Connect(sim.BaseUrl(), "admin", "admin");
    unsetenv("CURL_CA_BUNDLE");
    EXPECT_FALSE(accepted.IsError()) << accepted.ToString();
}

TEST_F(ConnectionTest, DroppedOrStalledConnectionsEndInAnError) {
    LogIn();
    TNLibCurl::Defaults defaults;
    defaults.caFile = sim.CaFile();
    defaults.stallSeconds = 1;
    TNLibCurl::SetDefaults(defaults);
    for (const auto kind :
         {Fault::Kind::CloseNoAnswer, Fault::Kind::StallAfterHeaders, Fault::Kind::TruncatedBody}) {
        sim.ClearFaults();
        Fault fault;
        fault.kind = kind;
        fault.pathPrefix = "/v2/snapshots/";
        fault.delayMs = 3000;
        sim.AddFault(fault);
        std::string reply;
        const auto started = std::chrono::steady_clock::now();
        const CZuError error =
            connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true);
        EXPECT_EQ(774u, error.GetCode()) << static_cast<int>(kind);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    }
}

}  // namespace
