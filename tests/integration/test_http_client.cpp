// The HTTP client stand-in against a plain HTTP server started by the test on loopback.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "platform/TNLibCurl.h"

namespace {

struct SeenRequest {
    std::string method;
    std::string path;
    std::string body;
    httplib::Headers headers;
    int remotePort;
};

class HttpClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto record = [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_seen.push_back(
                {request.method, request.path, request.body, request.headers, request.remote_port});
            if (request.path == "/missing") {
                response.status = 404;
                response.set_content("{\"description\":\"no such thing\"}", "application/json");
            } else if (request.path == "/created") {
                response.status = 201;
                response.set_content("{}", "application/json");
            } else if (request.path == "/stall") {
                response.set_chunked_content_provider(
                    "application/json", [](size_t, httplib::DataSink& sink) {
                        std::this_thread::sleep_for(std::chrono::seconds(4));
                        sink.done();
                        return true;
                    });
            } else {
                response.set_content("reply to " + request.method, "text/plain");
            }
        };
        m_server.Get(".*", record);
        m_server.Post(".*", record);
        m_server.Put(".*", record);
        m_server.Delete(".*", record);
        m_server.set_keep_alive_max_count(1000);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        ASSERT_GT(m_port, 0);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(m_client.TNLibCurlInit("Content-Type: application/json", true, true, nullptr));
    }

    void TearDown() override {
        m_server.stop();
        m_thread.join();
        TNLibCurl::SetDefaults(TNLibCurl::Defaults());
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

    bool Send(_http_req_type_ type, const std::string& path, const std::string& body = "") {
        return m_client.TNLibCurlSendHttpReq(type, Url(path).c_str(), body.data(), body.size(),
                                             false, nullptr);
    }

    std::string Reply() {
        unsigned long length = 0;
        const char* text = m_client.GetHttpResponse(length, false);
        return text != nullptr ? std::string(text, length) : "<null>";
    }

    std::vector<SeenRequest> Seen() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_seen;
    }

    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::vector<SeenRequest> m_seen;
    TNLibCurl m_client;
};

TEST_F(HttpClientTest, EachRequestTypeIsItsMethodAndBodyBytesArriveExactly) {
    const std::string body("{\"a\":\"caf\xC3\xA9\",\"nul\":\"\0\"}", 24);
    ASSERT_TRUE(Send(HTTP_REQ_GET, "/g"));
    EXPECT_EQ("reply to GET", Reply());
    ASSERT_TRUE(Send(HTTP_REQ_POST, "/p", body));
    ASSERT_TRUE(Send(HTTP_REQ_PUT, "/u", body));
    ASSERT_TRUE(Send(HTTP_REQ_DELETE, "/d"));
    ASSERT_TRUE(Send(HTTP_REQ_GET, "/g2"));
    const auto seen = Seen();
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ("GET", seen[0].method);
    EXPECT_EQ("POST", seen[1].method);
    EXPECT_EQ(body, seen[1].body);
    EXPECT_EQ("PUT", seen[2].method);
    EXPECT_EQ(body, seen[2].body);
    EXPECT_EQ("DELETE", seen[3].method);
    EXPECT_EQ("", seen[3].body);
    EXPECT_EQ("GET", seen[4].method);  // a reused handle goes back to GET after a POST
}

TEST_F(HttpClientTest, HeaderListIsReplacedButTheDefaultLineStays) {
    ASSERT_TRUE(m_client.TNLibCurlAppendHeader(HTTP_HDR_HTTPHEADER, "X-First: 1"));
    ASSERT_TRUE(Send(HTTP_REQ_GET, "/one"));
    m_client.TNLibCurlFreeHttpHeaderList();
    ASSERT_TRUE(m_client.TNLibCurlAppendHeader(HTTP_HDR_HTTPHEADER, "X-Second: 2"));
    ASSERT_TRUE(Send(HTTP_REQ_POST, "/two", "{}"));
    const auto seen = Seen();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ("1", seen[0].headers.find("X-First")->second);
    EXPECT_EQ(0u, seen[1].headers.count("X-First"));
    EXPECT_EQ("2", seen[1].headers.find("X-Second")->second);
    for (const auto& request : seen) {
        EXPECT_EQ(1u, request.headers.count("Content-Type"));
        EXPECT_EQ("application/json", request.headers.find("Content-Type")->second);
        EXPECT_EQ(0u, request.headers.count("Expect"));
        EXPECT_EQ(0u, request.headers.find("User-Agent")->second.find("clusterclient/"));
        EXPECT_EQ(1u, request.headers.count("Accept-Encoding"));
    }
}

TEST_F(HttpClientTest, StatusDecidesSuccessAndTheErrorBodyStaysAvailable) {
    EXPECT_TRUE(Send(HTTP_REQ_POST, "/created", "{}"));
    EXPECT_EQ(201, m_client.GetLastHttpStatus());
    EXPECT_FALSE(Send(HTTP_REQ_GET, "/missing"));
    EXPECT_EQ(404, m_client.GetLastHttpStatus());
    EXPECT_EQ("{\"description\":\"no such thing\"}", Reply());
    ASSERT_TRUE(Send(HTTP_REQ_GET, "/next"));
    EXPECT_EQ("reply to GET", Reply());
}

TEST_F(HttpClientTest, ReadsShareKeptAliveConnectionsAndChangesGoOnFreshOnes) {
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(Send(i % 2 ? HTTP_REQ_GET : HTTP_REQ_POST, "/k", "{}"));
    // libcurl sends a request again by itself when a reused connection turns out closed, so a
    // change never goes over a connection that carried an earlier request.
    std::set<int> ports;
    for (const auto& request : Seen()) {
        const bool reused = !ports.insert(request.remotePort).second;
        EXPECT_EQ(reused, request.method == "GET") << request.method;
    }
    EXPECT_EQ(10u, ports.size());
}

TEST_F(HttpClientTest, NoAnswerGivesFailureAndNoBody) {
    const int closedPort = m_port;
    m_server.stop();
    m_thread.join();
    m_thread = std::thread([] {});
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort) + "/x";
    EXPECT_FALSE(
        m_client.TNLibCurlSendHttpReq(HTTP_REQ_GET, url.c_str(), nullptr, 0, false, nullptr));
    unsigned long length = 7;
    EXPECT_EQ(nullptr, m_client.GetHttpResponse(length, false));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(0, m_client.GetLastHttpStatus());
    EXPECT_FALSE(m_client.GetLastErrorText().empty());
}

TEST_F(HttpClientTest, StalledReplyEndsByTheStallRule) {
    TNLibCurl::Defaults defaults;
    defaults.stallSeconds = 1;
    TNLibCurl::SetDefaults(defaults);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(Send(HTTP_REQ_GET, "/stall"));
    // Bounded: well before the server would have finished on its own.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(4));
    EXPECT_EQ("the reply stalled below 1024 B/s for 1 s (stall limit)",
              m_client.GetLastLimitText());
}

// With certificates checked, a missing file of trusted CAs is named before any connection is
// tried, and what to do about it depends on who chose the file.
TEST_F(HttpClientTest, AMissingCaFileIsNamedBeforeConnecting) {
    const char* bundle = std::getenv("CURL_CA_BUNDLE");
    const std::string savedBundle = bundle != nullptr ? bundle : "";
    unsetenv("CURL_CA_BUNDLE");
    const std::string secureUrl = "https://127.0.0.1:" + std::to_string(m_port) + "/ca";
    auto sendSecure = [&] {
        return m_client.TNLibCurlSendHttpReq(HTTP_REQ_GET, secureUrl.c_str(), nullptr, 0, false,
                                             nullptr);
    };
    TNLibCurl::Defaults defaults;
    defaults.caFile = "/nonexistent/cluster-ca.pem";
    TNLibCurl::SetDefaults(defaults);
    EXPECT_FALSE(sendSecure());
    EXPECT_EQ(
        "no trusted CA certificates: /nonexistent/cluster-ca.pem does not exist; give an "
        "existing CA file",
        m_client.GetLastErrorText());
    EXPECT_EQ("", m_client.GetLastLimitText());

    TNLibCurl::SetDefaults(TNLibCurl::Defaults());
    setenv("CURL_CA_BUNDLE", "/nonexistent/bundle.pem", 1);
    EXPECT_FALSE(sendSecure());
    EXPECT_EQ(
        "no trusted CA certificates: /nonexistent/bundle.pem does not exist; give an existing "
        "CA file",
        m_client.GetLastErrorText());
    // Plain HTTP needs no CA, and neither does a request that checks no certificate.
    EXPECT_TRUE(Send(HTTP_REQ_GET, "/plain")) << m_client.GetLastErrorText();
    defaults.insecure = true;
    TNLibCurl::SetDefaults(defaults);
    EXPECT_FALSE(sendSecure());  // the server speaks no TLS
    EXPECT_EQ(std::string::npos, m_client.GetLastErrorText().find("CA"))
        << m_client.GetLastErrorText();
    EXPECT_EQ(1u, Seen().size());  // only the plain request reached the server

    if (bundle != nullptr) {
        setenv("CURL_CA_BUNDLE", savedBundle.c_str(), 1);
    } else {
        unsetenv("CURL_CA_BUNDLE");
    }
}

TEST(HttpClientWithoutInit, RefusesToSendAndHasNoReply) {
    TNLibCurl client;
    EXPECT_FALSE(client.TNLibCurlSendHttpReq(HTTP_REQ_GET, "http://127.0.0.1:1/", nullptr, 0, false,
                                             nullptr));
    unsigned long length = 0;
    EXPECT_EQ(nullptr, client.GetHttpResponse(length, false));
    EXPECT_FALSE(client.TNLibCurlAppendHeader(static_cast<_http_hdr_type_>(5), "X: y"));
}

}  // namespace
