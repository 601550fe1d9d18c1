// Hostile-server cases: timing. A server that never answers, drips its reply or streams it
// past the deadline must not hold a request; each ends by its own limit, named. The limits are
// set small here, so every case ends within seconds; the bounds checked are far below what the
// old rule allowed (minutes) and far above the limits, to stay clear of a busy machine.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <chrono>
#include <string>
#include <thread>

#include "Cluster/ClusterConnection.h"
#include "HostileServer.h"
#include "platform/TNLibCurl.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

class TimeLimitTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(client.TNLibCurlInit(nullptr, true, true, nullptr)); }
    void TearDown() override { TNLibCurl::SetDefaults(TNLibCurl::Defaults()); }

    // One GET; `took` receives how long it ran.
    bool Get(const hostile::Server& server, Clock::duration& took) {
        const auto started = Clock::now();
        const bool sent = client.TNLibCurlSendHttpReq(HTTP_REQ_GET, server.BaseUrl().c_str(),
                                                      nullptr, 0, false, nullptr);
        took = Clock::now() - started;
        return sent;
    }
    std::string Reply() {
        unsigned long length = 0;
        const char* text = client.GetHttpResponse(length, false);
        return text == nullptr ? std::string() : std::string(text, length);
    }

    TNLibCurl client;
};

TNLibCurl::Defaults Limits(long firstByte, long stallRate, long stallSeconds, long total) {
    TNLibCurl::Defaults defaults;
    defaults.firstByteSeconds = firstByte;
    defaults.stallBytesPerSecond = stallRate;
    defaults.stallSeconds = stallSeconds;
    defaults.totalSeconds = total;
    return defaults;
}

// The whole answer, status line included, three bytes a second.
void Drip(const hostile::Request&, hostile::Connection& connection) {
    connection.Drip(hostile::Answer(200, std::string(100, 'd')), 3, milliseconds(1000));
}

TEST_F(TimeLimitTest, ADrippingReplyEndsByTheStallRule) {
    TNLibCurl::SetDefaults(Limits(120, 1024, 2, 600));
    hostile::Server server(Drip);
    Clock::duration took;
    EXPECT_FALSE(Get(server, took));
    EXPECT_EQ("the reply stalled below 1024 B/s for 2 s (stall limit)", client.GetLastLimitText());
    EXPECT_EQ(28, client.GetLastTransportCode());
    EXPECT_EQ(client.GetLastLimitText(), client.GetLastErrorText());
    EXPECT_GE(took, seconds(2));
    EXPECT_LT(took, seconds(6));
}

TEST_F(TimeLimitTest, ASilentServerEndsByTheFirstByteLimit) {
    TNLibCurl::SetDefaults(Limits(1, 1024, 60, 600));
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        connection.Hold(seconds(10));
    });
    Clock::duration took;
    EXPECT_FALSE(Get(server, took));
    EXPECT_EQ("no reply within 1 s (first-byte limit)", client.GetLastLimitText());
    EXPECT_EQ(28, client.GetLastTransportCode());  // a timeout, as libcurl's own
    EXPECT_EQ(0, client.GetLastHttpStatus());
    EXPECT_GE(took, seconds(1));
    EXPECT_LT(took, seconds(4));
}

// 4 KiB every 100 ms: far above the stall rate, but never done.
void StreamSlowly(const hostile::Request&, hostile::Connection& connection) {
    if (!connection.Send("HTTP/1.1 200 X\r\nContent-Length: 1048576\r\n\r\n")) return;
    connection.Drip(std::string(1 << 20, 's'), 4096, milliseconds(100));
}

TEST_F(TimeLimitTest, AReplyAboveTheStallRateStillEndsAtTheTotalLimit) {
    TNLibCurl::SetDefaults(Limits(1, 1024, 1, 2));
    hostile::Server server(StreamSlowly);
    Clock::duration took;
    EXPECT_FALSE(Get(server, took));
    EXPECT_EQ("the request took longer than 2 s (total limit)", client.GetLastLimitText());
    EXPECT_GE(took, seconds(2));
    EXPECT_LT(took, seconds(5));
    EXPECT_GT(Reply().size(), 0u);  // what came before the deadline stays readable
}

TEST_F(TimeLimitTest, ASlowReplyWithinEveryLimitSucceeds) {
    TNLibCurl::SetDefaults(Limits(1, 1024, 1, 5));
    const std::string body(20 * 2048, 'o');
    hostile::Server server([&body](const hostile::Request&, hostile::Connection& connection) {
        std::this_thread::sleep_for(milliseconds(500));
        if (!connection.Send("HTTP/1.1 200 X\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\n\r\n")) {
            return;
        }
        connection.Drip(body, 2048, milliseconds(100));  // 20 KiB/s for two seconds
    });
    Clock::duration took;
    EXPECT_TRUE(Get(server, took)) << client.GetLastErrorText();
    EXPECT_EQ(body, Reply());
    EXPECT_EQ("", client.GetLastLimitText());
}

TEST_F(TimeLimitTest, ZeroTurnsEachTimeLimitOff) {
    // Every value that switches a limit off: had any fired at once, nothing would arrive.
    const TNLibCurl::Defaults off[] = {Limits(0, 0, 0, 0), Limits(-1, -1, -1, -1),
                                       Limits(0, 1024, 0, 0)};
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        std::this_thread::sleep_for(milliseconds(300));
        connection.Drip(hostile::Answer(200, "late"), 10, milliseconds(200));
    });
    for (const TNLibCurl::Defaults& limits : off) {
        SCOPED_TRACE(std::to_string(limits.firstByteSeconds) + " " +
                     std::to_string(limits.stallBytesPerSecond) + " " +
                     std::to_string(limits.stallSeconds) + " " +
                     std::to_string(limits.totalSeconds));
        TNLibCurl::SetDefaults(limits);
        Clock::duration took;
        EXPECT_TRUE(Get(server, took)) << client.GetLastErrorText();
        EXPECT_EQ("late", Reply());
    }
}

TEST_F(TimeLimitTest, TheLibraryFailsALoginThatGetsNoReplyAndSaysWhy) {
    TNLibCurl::SetDefaults(Limits(1, 1024, 60, 600));
    hostile::Server server([](const hostile::Request&, hostile::Connection& connection) {
        connection.Hold(seconds(10));
    });
    auto connection = boost::make_shared<Cluster::CConnection>();
    const auto started = Clock::now();
    const CZuError error = connection->Connect(server.BaseUrl(), "admin", "admin");
    EXPECT_LT(Clock::now() - started, seconds(4));
    ASSERT_TRUE(error.IsError());
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_NE(std::string::npos, error.GetMessage().find("no reply within 1 s (first-byte limit)"))
        << error.GetMessage();
}

}  // namespace
