// The login and the sending of requests, through the scripted client: the exact bytes and
// header lines handed to the HTTP client, and what the connection keeps from the replies.
#include <string>
#include <vector>

#include "tests/scripted/ScriptedFixture.h"

using Cluster::REQUEST_DELETE;
using Cluster::REQUEST_GET;
using Cluster::REQUEST_POST;
using scripted_test::kBaseUrl;
using scripted_test::kBearer;
using scripted_test::kContentType;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ScriptedConnectionTest : public scripted_test::ScriptedTest {};

TEST_F(ScriptedConnectionTest, LoginSendsTheExactBodyOverAVerifiedDirectConnection) {
    scripted::Queue(200, R"({"bearer_token":"1:token-\u0041.1"})");
    const CZuError error =
        connection->Connect(std::string(kBaseUrl) + "/", "r\xC3\xA9mi", "pa\"ss\\w\xC3\xB6rd\n");
    ASSERT_FALSE(error.IsError()) << error.ToString();

    const scripted::Request login = OnlyRequest();
    EXPECT_EQ("POST", login.method);
    EXPECT_EQ(std::string(kBaseUrl) + "/v1/session/login", login.url);
    EXPECT_EQ("{\"password\":\"pa\\\"ss\\\\w\xC3\xB6rd\\n\",\"username\":\"r\xC3\xA9mi\"}",
              login.body);
    EXPECT_EQ(std::vector<std::string>({kContentType}), login.headers);
    EXPECT_TRUE(login.verifyPeer);
    EXPECT_TRUE(login.verifyHost);
    EXPECT_FALSE(login.followRedirects);
    EXPECT_FALSE(login.viaProxy);

    std::string token;
    ASSERT_FALSE(connection->GetAuthorizationToken(token).IsError());
    EXPECT_EQ("1:token-A.1", token);
    EXPECT_TRUE(events->codes.empty());
}

TEST_F(ScriptedConnectionTest, RequestsCarryTheTokenAndALoginStartsWithoutIt) {
    LogIn();
    scripted::Queue(200, "first");
    std::string reply;
    ASSERT_FALSE(
        connection->SendRequest(REQUEST_DELETE, "/v2/snapshots/9", "", reply, true).IsError());
    EXPECT_EQ("first", reply);
    const scripted::Request deletion = OnlyRequest();
    EXPECT_EQ("DELETE", deletion.method);
    EXPECT_EQ(std::string(kBaseUrl) + "/v2/snapshots/9", deletion.url);
    EXPECT_EQ(std::vector<std::string>({kContentType, kBearer}), deletion.headers);

    scripted::Queue(200, R"({"bearer_token":"second"})");
    ASSERT_FALSE(connection->Connect(kBaseUrl, "admin", "admin").IsError());
    EXPECT_EQ(std::vector<std::string>({kContentType}), OnlyRequest().headers);

    scripted::Queue(201, "{}");
    ASSERT_FALSE(connection->SendRequest(REQUEST_POST, "/x", "{\"a\":1}", reply, false).IsError());
    const scripted::Request post = OnlyRequest();
    EXPECT_EQ("POST", post.method);
    EXPECT_EQ("{\"a\":1}", post.body);
    EXPECT_EQ(std::vector<std::string>({kContentType, "Authorization: Bearer second"}),
              post.headers);
}

TEST_F(ScriptedConnectionTest, RejectedLoginKeepsNoTokenMasksThePasswordAndRaisesTheEvent) {
    scripted::Queue(401, R"({"description":"invalid username or password"})");
    const CZuError error = connection->Connect(kBaseUrl, "admin", "hunter2");
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_TRUE(Contains(error.GetMessage(), "\"password\":\"***\"")) << error.GetMessage();
    EXPECT_FALSE(Contains(error.GetMessage(), "hunter2")) << error.GetMessage();
    EXPECT_EQ(std::vector<unsigned int>({0x11000095u}), events->codes);
    ASSERT_EQ(1u, events->messages.size());
    EXPECT_TRUE(Contains(events->messages[0], "invalid username or password"))
        << events->messages[0];
    std::string token = "untouched";
    EXPECT_TRUE(connection->GetAuthorizationToken(token).IsError());
    EXPECT_EQ("untouched", token);
    // Only the message is masked: the wire carries the password.
    EXPECT_EQ("{\"password\":\"hunter2\",\"username\":\"admin\"}", OnlyRequest().body);
}

TEST_F(ScriptedConnectionTest, LoginReplyWithoutATokenFails) {
    scripted::Queue(200, R"({"bearer_token":null})");
    const CZuError error = connection->Connect(kBaseUrl, "admin", "admin");
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ("No Authorization Token found", error.GetMessage());
    EXPECT_EQ(1u, events->codes.size());
    std::string token;
    EXPECT_TRUE(connection->GetAuthorizationToken(token).IsError());
    OnlyRequest();
}

TEST_F(ScriptedConnectionTest, NoAnswerFailsAndEmptiesTheCallersReply) {
    LogIn();
    scripted::Queue(0, "");
    std::string reply = "stale";
    const CZuError error = connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("", reply);
    EXPECT_TRUE(Contains(error.GetMessage(), std::string("URL[") + kBaseUrl + "/v2/snapshots/]"))
        << error.GetMessage();
    OnlyRequest();
}

TEST_F(ScriptedConnectionTest, FailedAnswerStillHandsBackItsBody) {
    LogIn();
    scripted::Queue(503, R"({"description":"busy"})");
    std::string reply;
    EXPECT_TRUE(connection->SendRequest(REQUEST_GET, "/v1/smb/shares/", "", reply, true).IsError());
    EXPECT_EQ(R"({"description":"busy"})", reply);
    OnlyRequest();
}

TEST_F(ScriptedConnectionTest, NothingIsSentBeforeALogin) {
    std::string reply = "untouched";
    const CZuError error = connection->SendRequest(REQUEST_GET, "/v2/snapshots/", "", reply, true);
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("Authorization Token is empty. Please make sure the connection is established first.",
              error.GetMessage());
    EXPECT_EQ("untouched", reply);
    EXPECT_TRUE(scripted::TakeRequests().empty());
}

}  // namespace
