// Shared by the library's integration tests: a simulated cluster on loopback over HTTPS,
// a logged-in connection to it, and recorders for log lines and events.
#pragma once

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"
#include "ClusterSim.h"
#include "platform/TNLibCurl.h"
#include "platform/ZuUtils.h"

class RecordingLogWriter : public CLogWriterInterface {
  public:
    explicit RecordingLogWriter(int level) : m_level(level) {}
    void WriteLog(int level, const char* function, int line, int, int, const char* format,
                  ...) override {
        va_list arguments;
        va_start(arguments, format);
        char buffer[1 << 16];
        std::vsnprintf(buffer, sizeof buffer, format, arguments);
        va_end(arguments);
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.push_back(buffer);
        functions.push_back(function != nullptr ? function : "");
        levels.push_back(level);
        (void)line;
    }
    int GetLogLevel() override { return m_level; }

    std::vector<std::string> lines;
    std::vector<std::string> functions;
    std::vector<int> levels;

  private:
    int m_level;
    std::mutex m_mutex;
};

class RecordingEventSender : public ISendEventInterface {
  public:
    void SendEvent(const CZuError& event, int flags) override {
        codes.push_back(event.GetCode());
        messages.push_back(event.GetMessage());
        allFlagsZero = allFlagsZero && flags == 0;
    }
    std::vector<unsigned int> codes;
    std::vector<std::string> messages;
    bool allFlagsZero = true;
};

// Starts a simulator, trusts its certificate and installs recorders; restores the process
// defaults afterwards.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim.Start(&error)) << error;
        TNLibCurl::Defaults defaults;
        defaults.caFile = sim.CaFile();
        TNLibCurl::SetDefaults(defaults);
        m_previousWriter = g_ptrLogWriter;
        m_previousSender = ISendEventInterface::GetInstance();
        log = boost::make_shared<RecordingLogWriter>(2);
        g_ptrLogWriter = log;
        events = boost::make_shared<RecordingEventSender>();
        ISendEventInterface::SetInstance(events);
        connection = boost::make_shared<Cluster::CConnection>();
        parser = boost::make_shared<Cluster::CParser>();
    }

    void TearDown() override {
        g_ptrLogWriter = m_previousWriter;
        ISendEventInterface::SetInstance(m_previousSender);
        TNLibCurl::SetDefaults(TNLibCurl::Defaults());
    }

    void LogIn() {
        const CZuError error = connection->Connect(sim.BaseUrl(), "admin", "admin");
        ASSERT_FALSE(error.IsError()) << error.ToString();
        sim.ClearJournal();
    }

    // The function texts of an error's trail, creation site first.
    static std::vector<std::string> Trail(const CZuError& error) {
        std::vector<std::string> functions;
        for (const auto& location : error.GetLocations()) functions.push_back(location.function);
        return functions;
    }

    // Small pages, so that short listings already span several of them.
    static clustersim::Options SmallPages() {
        clustersim::Options options;
        options.defaultPageSize = 3;
        return options;
    }

    clustersim::Simulator sim{SmallPages()};
    boost::shared_ptr<RecordingLogWriter> log;
    boost::shared_ptr<RecordingEventSender> events;
    boost::shared_ptr<Cluster::CConnection> connection;
    boost::shared_ptr<Cluster::CParser> parser;

  private:
    boost::shared_ptr<CLogWriterInterface> m_previousWriter;
    boost::shared_ptr<ISendEventInterface> m_previousSender;
};

// Signature texts of the connection's operations, as error trails carry them.
constexpr const char* kConnectFunction =
    "CZuError Cluster::CConnection::Connect(const string&, const string&, const string&)";
constexpr const char* kSendRequestFunction =
    "CZuError Cluster::CConnection::SendRequest(Cluster::RequestType, const string&, const "
    "string&, std::string&, const std::vector<std::pair<std::__cxx11::basic_string<char>, "
    "std::__cxx11::basic_string<char> > >&, bool)";
