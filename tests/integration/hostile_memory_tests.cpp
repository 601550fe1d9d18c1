// Hostile-server cases: memory. Replies that never end or expand without bound must end at the
// client's reply limit, a lack of memory must fail the request rather than the process, and
// bytes a reply leaves behind on its connection must never be read as the next reply.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdlib>
#include <list>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "HostileServer.h"
#include "platform/TNLibCurl.h"
#include "tests/support/FailingAllocation.h"

namespace {

// Allocations above this fail while a test arms it: far above anything a small request needs.
constexpr size_t kFailAbove = 1 << 20;

}  // namespace

namespace {

constexpr size_t kCap = 1 << 20;
const char kCapText[] = "the reply exceeded the limit of 1048576 bytes";

// Zeros wrapped in gzip twice: a few KB on the wire, 64 MiB once both are undone.
std::string DoubleGzipBomb() {
    return hostile::Gzip(hostile::ZeroBomb().Stream(64));
}

void SendDoubleGzipBomb(hostile::Connection& connection) {
    static const std::string bomb = DoubleGzipBomb();
    connection.Send(hostile::Answer(200, bomb, "Content-Encoding: gzip, gzip\r\n"));
}

// Chunks of 64 KiB until the peer stops reading or 256 MiB went out.
void SendEndlessChunks(hostile::Connection& connection) {
    if (!connection.Send("HTTP/1.1 200 X\r\nTransfer-Encoding: chunked\r\n\r\n")) return;
    const std::string chunk = hostile::Chunk(std::string(64 << 10, 'a'));
    connection.SendEndlessly([&chunk] { return chunk; }, size_t(256) << 20);
}

class ReplyLimitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TNLibCurl::Defaults defaults;
        defaults.maxReplyBytes = kCap;
        TNLibCurl::SetDefaults(defaults);
        ASSERT_TRUE(client.TNLibCurlInit(nullptr, true, true, nullptr));
    }
    void TearDown() override { TNLibCurl::SetDefaults(TNLibCurl::Defaults()); }

    bool Get(const hostile::Server& server, const std::string& path = "/") {
        return client.TNLibCurlSendHttpReq(HTTP_REQ_GET, (server.BaseUrl() + path).c_str(), nullptr,
                                           0, false, nullptr);
    }
    std::string Reply() {
        unsigned long length = 0;
        const char* text = client.GetHttpResponse(length, false);
        return text == nullptr ? std::string() : std::string(text, length);
    }
    // The snapshot listing through the library, after a login the server accepts.
    CZuError ListSnapshots(const hostile::Server& server) {
        auto connection = boost::make_shared<Cluster::CConnection>();
        const CZuError login = connection->Connect(server.BaseUrl(), "admin", "admin");
        if (login.IsError()) return login;
        Cluster::CSnapshotQueries snapshots(connection, boost::make_shared<Cluster::CParser>());
        std::list<Cluster::CSnapshotInfo> list;
        return snapshots.ListSnapshots(list);
    }

    TNLibCurl client;
};

// Answers the login, and every other request with `answer`.
hostile::Server::Handler AfterLogin(void (*answer)(hostile::Connection&)) {
    return [answer](const hostile::Request& request, hostile::Connection& connection) {
        if (request.target == "/v1/session/login") {
            connection.Send(hostile::LoginAnswer("\"token\""));
        } else {
            answer(connection);
        }
    };
}

TEST_F(ReplyLimitTest, CompressedBombEndsAtTheLimitCountedAfterDecoding) {
    hostile::Server server(AfterLogin(SendDoubleGzipBomb));
    EXPECT_FALSE(Get(server));
    EXPECT_EQ(200, client.GetLastHttpStatus());
    EXPECT_EQ(kCapText, client.GetLastLimitText());
    EXPECT_EQ(kCapText, client.GetLastErrorText());
    // What came up to the limit stays readable, decoded: zeros, exactly as many as allowed.
    EXPECT_EQ(std::string(kCap, '\0'), Reply());

    const CZuError error = ListSnapshots(server);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_NE(std::string::npos, error.GetMessage().find(kCapText)) << error.GetMessage();
}

TEST_F(ReplyLimitTest, EndlessChunkedReplyEndsAtTheLimit) {
    hostile::Server server(AfterLogin(SendEndlessChunks));
    EXPECT_FALSE(Get(server));
    EXPECT_EQ(kCapText, client.GetLastLimitText());
    EXPECT_EQ(std::string(kCap, 'a'), Reply());

    const CZuError error = ListSnapshots(server);
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_NE(std::string::npos, error.GetMessage().find(kCapText)) << error.GetMessage();
}

TEST_F(ReplyLimitTest, AReplyOfExactlyTheLimitPassesAndOneByteMoreFails) {
    hostile::Server server([](const hostile::Request& request, hostile::Connection& connection) {
        connection.Send(hostile::Answer(200, std::string(kCap + (request.target == "/over"), 'b')));
    });
    EXPECT_TRUE(Get(server, "/exact")) << client.GetLastErrorText();
    EXPECT_EQ(kCap, Reply().size());
    EXPECT_EQ("", client.GetLastLimitText());
    EXPECT_FALSE(Get(server, "/over"));
    EXPECT_EQ(kCapText, client.GetLastLimitText());
    EXPECT_EQ(kCap, Reply().size());
    // The limit belongs to one request: the next within it passes.
    EXPECT_TRUE(Get(server, "/exact")) << client.GetLastErrorText();
    EXPECT_EQ("", client.GetLastErrorText());
}

// libcurl refuses header blocks past a few hundred KiB by itself; the client's own count holds
// headers to a smaller limit as well, and to any limit where libcurl has no such rule.
TEST_F(ReplyLimitTest, AFloodOfHeaderLinesEndsAtTheLimit) {
    TNLibCurl::Defaults defaults;
    defaults.maxReplyBytes = 64 << 10;
    TNLibCurl::SetDefaults(defaults);
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        if (!connection.Send("HTTP/1.1 200 X\r\n")) return;
        const std::string line = "X-Filler: " + std::string(1000, 'h') + "\r\n";
        connection.SendEndlessly([&line] { return line; }, size_t(64) << 20);
    });
    EXPECT_FALSE(Get(server));
    EXPECT_EQ("the reply exceeded the limit of 65536 bytes", client.GetLastLimitText());
}

TEST_F(ReplyLimitTest, ZeroMeansNoLimit) {
    TNLibCurl::Defaults defaults;
    defaults.maxReplyBytes = 0;
    TNLibCurl::SetDefaults(defaults);
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        connection.Send(hostile::Answer(200, std::string(3 * kCap, 'c')));
    });
    EXPECT_TRUE(Get(server)) << client.GetLastErrorText();
    EXPECT_EQ(3 * kCap, Reply().size());
}

// A caller's write callback gets no more than the limit allows, and one that throws fails its
// request instead of unwinding through libcurl.
std::atomic<size_t> g_delivered{0};
unsigned long Count(void*, unsigned long size, unsigned long count, void*) {
    g_delivered += size * count;
    return size * count;
}
unsigned long Throw(void*, unsigned long, unsigned long, void*) {
    throw std::runtime_error("the caller's store failed");
}

TEST_F(ReplyLimitTest, WriteCallbacksAreHeldToTheLimitAndMayThrow) {
    hostile::Server server(AfterLogin(SendEndlessChunks));
    TNLibCurl counting;
    ASSERT_TRUE(counting.TNLibCurlInit(nullptr, true, true, Count));
    g_delivered = 0;
    EXPECT_FALSE(counting.TNLibCurlSendHttpReq(HTTP_REQ_GET, server.BaseUrl().c_str(), nullptr, 0,
                                               false, nullptr));
    EXPECT_EQ(kCap, g_delivered.load());
    EXPECT_EQ(kCapText, counting.GetLastLimitText());

    TNLibCurl throwing;
    ASSERT_TRUE(throwing.TNLibCurlInit(nullptr, true, true, Throw));
    EXPECT_FALSE(throwing.TNLibCurlSendHttpReq(HTTP_REQ_GET, server.BaseUrl().c_str(), nullptr, 0,
                                               false, nullptr));
    EXPECT_EQ("", throwing.GetLastLimitText());  // not one of the client's limits
    EXPECT_FALSE(throwing.GetLastErrorText().empty());
}

TEST_F(ReplyLimitTest, RunningOutOfMemoryFailsTheRequestNotTheProcess) {
    TNLibCurl::SetDefaults(TNLibCurl::Defaults());  // the default limit, far above the body
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        connection.Send(hostile::Answer(200, std::string(8 * kFailAbove, 'm')));
    });
    bool sent = true;
    {
        const failing_allocation::FailAbove failing(kFailAbove);
        sent = Get(server);
    }
    EXPECT_FALSE(sent);
    EXPECT_EQ("out of memory while reading the reply", client.GetLastLimitText());
    EXPECT_LE(Reply().size(), kFailAbove);
    // Nothing is left broken: with memory back the same client reads the whole reply.
    EXPECT_TRUE(Get(server)) << client.GetLastErrorText();
    EXPECT_EQ(8 * kFailAbove, Reply().size());
}

// Bytes after a complete reply, as if a second answer had been smuggled in behind it.
const char kSmuggled[] = "HTTP/1.1 200 X\r\nContent-Length: 9\r\n\r\nSMUGGLED!";

class ExcessBytesTest : public ::testing::TestWithParam<int> {};

TEST_P(ExcessBytesTest, AreNeverReadAsTheNextReply) {
    const int delayMs = GetParam();
    hostile::Server server(
        [delayMs](const hostile::Request& request, hostile::Connection& connection) {
            if (request.target == "/first") {
                if (delayMs == 0) {
                    connection.Send(hostile::Answer(200, "first") + kSmuggled);
                } else {
                    connection.Send(hostile::Answer(200, "first"));
                    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
                    connection.Send(kSmuggled);
                }
            } else {
                connection.Send(hostile::Answer(200, "second"));
            }
        });
    TNLibCurl client;
    ASSERT_TRUE(client.TNLibCurlInit(nullptr, true, true, nullptr));
    auto get = [&](const char* path) {
        unsigned long length = 0;
        client.TNLibCurlSendHttpReq(HTTP_REQ_GET, (server.BaseUrl() + path).c_str(), nullptr, 0,
                                    false, nullptr);
        const char* text = client.GetHttpResponse(length, false);
        return text == nullptr ? std::string() : std::string(text, length);
    };
    EXPECT_EQ("first", get("/first"));
    // The client asks again only once the excess bytes are sure to have come.
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs + 100));
    EXPECT_EQ("second", get("/second"));
    ASSERT_EQ(2u, server.Requests().size());
    EXPECT_EQ("/second", server.Requests()[1].target);
}

// Excess in the same write as the reply, and arriving after the client had finished reading.
INSTANTIATE_TEST_SUITE_P(SameWriteOrLater, ExcessBytesTest, ::testing::Values(0, 100));

}  // namespace
