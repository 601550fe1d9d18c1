// Shared by the examples: log in with CLUSTER_URL, CLUSTER_USER and CLUSTER_PASSWORD.
// A private CA is trusted through CURL_CA_BUNDLE.
#pragma once

#include <Cluster/ClusterConnection.h>
#include <Cluster/ClusterParser.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <cstdlib>

inline const char* Setting(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : fallback;
}

// A logged-in connection, or null after printing why the login failed.
inline boost::shared_ptr<Cluster::CConnection> LogIn() {
    auto connection = boost::make_shared<Cluster::CConnection>();
    const CZuError error =
        connection->Connect(Setting("CLUSTER_URL", "https://127.0.0.1:8000"),
                            Setting("CLUSTER_USER", "admin"), Setting("CLUSTER_PASSWORD", ""));
    if (error.IsError()) {
        std::fprintf(stderr, "login failed: %s\n", error.ToString().c_str());
        return nullptr;
    }
    return connection;
}

inline int Report(const CZuError& error) {
    if (!error.IsError()) return 0;
    std::fprintf(stderr, "%s\n", error.ToString().c_str());
    return 1;
}
