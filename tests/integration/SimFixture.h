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
#include "tests/support/Recorders.h"
#include "tests/support/Signatures.h"

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
