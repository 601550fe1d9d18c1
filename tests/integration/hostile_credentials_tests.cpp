// Hostile-server cases: credentials go only to the cluster that issued them, and what the
// cluster sends is never echoed whole into a message or log line.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterFileSystemQueries.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "HostileServer.h"
#include "tests/support/Recorders.h"

namespace {

using Cluster::CConnection;
using Cluster::CDirectoryEntry;
using Cluster::CFileSystemQueries;
using Cluster::CParser;
using Cluster::CSnapshotDiffInfo;
using Cluster::CSnapshotQueries;

const char kLoginPath[] = "/v1/session/login";
const std::string kTokenJson = "\"1:c0ffee\"";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string Page(const std::string& nextLinkJson) {
    return hostile::Answer(200,
                           R"({"files":[],"entries":[],"paging":{"next":)" + nextLinkJson + "}}");
}

// Every byte as a \u escape, so the cluster can send any link as JSON text.
std::string JsonText(const std::string& bytes) {
    std::string json = "\"";
    for (const char c : bytes) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
        json += escaped;
    }
    return json + "\"";
}

// A cluster that answers its n-th login with logins[n] (the last one from then on) and every
// other request with `answer`.
hostile::Server::Handler Cluster(std::vector<std::string> logins, std::string answer) {
    auto count = std::make_shared<std::atomic<size_t>>(0);
    return [logins, answer, count](const hostile::Request& request, hostile::Connection& peer) {
        if (request.target != kLoginPath) {
            peer.Send(answer);
            return;
        }
        const size_t n = (*count)++;
        peer.Send(logins[std::min(n, logins.size() - 1)]);
    };
}

size_t QueriesSeen(const hostile::Server& server) {
    size_t queries = 0;
    for (const hostile::Request& request : server.Requests()) {
        if (request.target != kLoginPath) ++queries;
    }
    return queries;
}

class HostileCredentials : public ::testing::Test {
  protected:
    CZuError LogIn(const hostile::Server& server) {
        return connection->Connect(server.BaseUrl(), "admin", "hunter2");
    }

    // Lists "/" (or follows `link`) and returns the error.
    CZuError ListRoot(std::string& next, const std::string& link = "") {
        CFileSystemQueries files(connection, parser);
        std::list<CDirectoryEntry> entries;
        return files.GetDirectoryEntries("/", entries, next, 0, link);
    }

    RecordersInstalled recorders;
    boost::shared_ptr<CConnection> connection = boost::make_shared<CConnection>();
    boost::shared_ptr<CParser> parser = boost::make_shared<CParser>();
};

TEST_F(HostileCredentials, APageLinkOffTheClusterIsRefusedAndNothingIsSent) {
    hostile::Server elsewhere(Cluster({""}, Page("\"\"")));
    const std::string port = std::to_string(elsewhere.Port());
    const std::vector<std::string> forged = {
        "@127.0.0.1:" + port + "/page2/entries/",
        "//127.0.0.1:" + port + "/page2/entries/",
        "http://127.0.0.1:" + port + "/page2/entries/",
        "/page2\\..\\entries/",
        "/page2/entries/ HTTP/1.1",
        "/page2/entries/\r\nX-Injected: 1",
        std::string("/page2/\0/entries/", 17),
        "/page2/\x7F",
    };
    for (const std::string& link : forged) {
        SCOPED_TRACE(link);
        hostile::Server cluster(Cluster({hostile::LoginAnswer(kTokenJson)}, Page(JsonText(link))));
        ASSERT_FALSE(LogIn(cluster).IsError());
        std::string next;
        ASSERT_FALSE(ListRoot(next).IsError());
        ASSERT_EQ(link, next);

        std::string after;
        CZuError error = ListRoot(after, next);
        EXPECT_EQ(774u, error.GetCode());
        EXPECT_TRUE(Contains(error.GetMessage(), "Refused page link [")) << error.GetMessage();

        CSnapshotQueries snapshots(connection, parser);
        std::list<CSnapshotDiffInfo> changes;
        error = snapshots.GetSnapshotDiff(1, 2, changes, after, next);
        EXPECT_EQ(774u, error.GetCode());
        EXPECT_EQ(1u, QueriesSeen(cluster));
    }
    EXPECT_EQ(0, elsewhere.Connections());
}

TEST_F(HostileCredentials, AnAbsolutePageLinkOnTheClusterIsSentAsItStands) {
    const std::string link = "/v1/files/%2Fdata/entries/?after=b%40c&limit=2";
    hostile::Server cluster(Cluster({hostile::LoginAnswer(kTokenJson)}, Page("\"\"")));
    ASSERT_FALSE(LogIn(cluster).IsError());
    std::string next;
    ASSERT_FALSE(ListRoot(next, link).IsError());
    EXPECT_EQ(link, cluster.Requests().back().target);
}

TEST_F(HostileCredentials, ATokenThatCouldForgeHeadersIsNeverUsedNorEchoed) {
    const std::vector<std::string> tokens = {
        R"("abc\r\nX-Injected: 1\r\nHost: evil")",
        R"("abc\nTransfer-Encoding: chunked")",
        R"("abc def")",
        R"("abc\u00e9")",
        R"("abc\u0000")",
        '"' + std::string(16 * 1024 + 1, 'a') + '"',
    };
    for (const std::string& token : tokens) {
        SCOPED_TRACE(token.substr(0, 40));
        RecordersInstalled recorded;
        hostile::Server cluster(Cluster({hostile::LoginAnswer(token)}, Page("\"\"")));
        const CZuError error = LogIn(cluster);
        EXPECT_EQ(774u, error.GetCode());
        EXPECT_EQ("No Authorization Token found", error.GetMessage());
        ASSERT_EQ(1u, recorded.events->messages.size());
        EXPECT_TRUE(Contains(recorded.events->messages[0], "Failed to find authentication token"));
        EXPECT_FALSE(Contains(recorded.events->messages[0], "abc"));
        for (const std::string& line : recorded.log->lines) EXPECT_FALSE(Contains(line, "abc"));
        std::string stored;
        EXPECT_TRUE(connection->GetAuthorizationToken(stored).IsError());

        std::string next;
        ListRoot(next);
        const hostile::Request query = cluster.Requests().back();
        EXPECT_EQ(0u, query.HeaderCount("X-Injected"));
        EXPECT_EQ(1u, query.HeaderCount("Host"));
        EXPECT_EQ(0u, query.HeaderCount("Transfer-Encoding"));
        EXPECT_EQ("Bearer", query.Header("Authorization"));
    }
}

TEST_F(HostileCredentials, TheLongestUsableTokenWithItsColonAndPaddingIsKept) {
    const std::string token = "1:" + std::string(16 * 1024 - 4, 'A') + "==";
    hostile::Server cluster(Cluster({hostile::LoginAnswer('"' + token + '"')}, Page("\"\"")));
    ASSERT_FALSE(LogIn(cluster).IsError());
    std::string stored;
    ASSERT_FALSE(connection->GetAuthorizationToken(stored).IsError());
    EXPECT_EQ(token, stored);
}

TEST_F(HostileCredentials, AFailedLoginElsewhereDropsTheTokenAndOneAtTheIssuerKeepsIt) {
    const std::string refused = hostile::Answer(401, R"({"description":"no"})");
    hostile::Server issuer(Cluster({hostile::LoginAnswer(kTokenJson), refused}, Page("\"\"")));
    hostile::Server other(Cluster({refused}, Page("\"\"")));
    ASSERT_FALSE(LogIn(issuer).IsError());

    std::string next;
    EXPECT_TRUE(LogIn(issuer).IsError());
    ListRoot(next);
    EXPECT_EQ("Bearer 1:c0ffee", issuer.Requests().back().Header("Authorization"));

    EXPECT_TRUE(LogIn(other).IsError());
    ListRoot(next);
    EXPECT_EQ("Bearer", other.Requests().back().Header("Authorization"));
    std::string stored;
    EXPECT_TRUE(connection->GetAuthorizationToken(stored).IsError());
}

TEST_F(HostileCredentials, ALoginReplyThatMasksItsKeyStillHasTheTokenMasked) {
    const std::string spelt = R"({"bearer\u005ftoken":"1:s3cret","\u0070assword":"hunter2"})";
    hostile::Server cluster(Cluster({hostile::Answer(200, spelt)}, Page("\"\"")));
    ASSERT_FALSE(LogIn(cluster).IsError());
    ASSERT_FALSE(recorders.log->lines.empty());
    for (const std::string& line : recorders.log->lines) {
        EXPECT_FALSE(Contains(line, "s3cret")) << line;
        EXPECT_FALSE(Contains(line, "hunter2")) << line;
    }
}

TEST_F(HostileCredentials, AFloodedErrorReplyIsQuotedOnlyInPart) {
    const size_t flood = 2u << 20;
    const std::string body = R"({"password":"hunter2","x":")" + std::string(flood, 'x') + "\"}";
    hostile::Server cluster(
        Cluster({hostile::LoginAnswer(kTokenJson)}, hostile::Answer(503, body)));
    ASSERT_FALSE(LogIn(cluster).IsError());
    std::string next;
    const CZuError error = ListRoot(next);
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_LT(error.GetMessage().size(), 70u * 1024);
    EXPECT_TRUE(
        Contains(error.GetMessage(), "\xE2\x80\xA6 [" + std::to_string(body.size()) + " bytes]"));
    EXPECT_FALSE(Contains(error.GetMessage(), "hunter2"));

    // A reply read without failure is quoted the same way in the debug log.
    hostile::Server chatty(Cluster({hostile::LoginAnswer(kTokenJson)}, hostile::Answer(200, body)));
    RecordersInstalled recorded;
    ASSERT_FALSE(LogIn(chatty).IsError());
    const CZuError unread = ListRoot(next);
    EXPECT_EQ(774u, unread.GetCode());
    EXPECT_LT(unread.GetMessage().size(), 70u * 1024);
    ASSERT_EQ(2u, recorded.log->lines.size());
    EXPECT_LT(recorded.log->lines[1].size(), 70u * 1024);
    EXPECT_FALSE(Contains(recorded.log->lines[1], "hunter2"));
}

}  // namespace
