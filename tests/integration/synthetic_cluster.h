// What the tests of the generated tree share: a started simulator with a logged-in client,
// and listings read page by page over HTTP.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "Url.h"
#include "sim_client.h"

namespace simtest {

inline clustersim::Options SyntheticOptions(uint64_t files, uint64_t dirs, unsigned depth = 4,
                                            std::optional<uint64_t> seed = std::nullopt) {
    clustersim::Options options;
    options.tls = false;
    options.synthetic.files = files;
    options.synthetic.dirs = dirs;
    options.synthetic.depth = depth;
    options.synthetic.seed = seed;
    return options;
}

// A started simulator and a logged-in client of it.
struct Cluster {
    explicit Cluster(const clustersim::Options& options) : sim(options) {
        std::string error;
        started = sim.Start(&error);
        EXPECT_TRUE(started) << error;
        client = std::make_unique<Client>(sim);
        EXPECT_FALSE(client->LogIn().empty());
    }

    Reply Get(const std::string& target) { return client->Get(target); }

    clustersim::Simulator sim;
    bool started = false;
    std::unique_ptr<Client> client;
};

inline std::string EntriesTarget(const std::string& path, const std::string& query) {
    return "/v1/files/" + clustersim::PercentEncode(path) + "/entries/?" + query;
}

inline std::string AttributesTarget(const std::string& path) {
    return "/v1/files/" + clustersim::PercentEncode(path) + "/info/attributes";
}

// Every page body of a listing (or of changes-since, whose target is whole), the first one
// asked with `target`, the rest by "next" links.
inline std::vector<std::string> PagesFrom(Cluster& cluster, std::string target) {
    std::vector<std::string> bodies;
    while (!target.empty()) {
        const Reply reply = cluster.Get(target);
        EXPECT_EQ(200, reply.status) << target << ": " << reply.body;
        const rapidjson::Document page = reply.Json();
        if (reply.status != 200 || !page.IsObject()) break;
        bodies.push_back(reply.body);
        target = page["paging"]["next"].GetString();
    }
    return bodies;
}

inline std::vector<std::string> Pages(Cluster& cluster, const std::string& path,
                                      const std::string& query) {
    return PagesFrom(cluster, EntriesTarget(path, query));
}

// The members `key` of those pages, in order.
inline rapidjson::Document Collect(const std::vector<std::string>& bodies, const char* key) {
    rapidjson::Document all(rapidjson::kArrayType);
    for (const std::string& body : bodies) {
        rapidjson::Document page;
        page.Parse(body.c_str(), body.size());
        for (auto& entry : page[key].GetArray()) {
            all.PushBack(rapidjson::Value(entry, all.GetAllocator()), all.GetAllocator());
        }
    }
    return all;
}

// The entry objects of a listing, in order.
inline rapidjson::Document Entries(Cluster& cluster, const std::string& path,
                                   const std::string& query) {
    return Collect(Pages(cluster, path, query), "files");
}

inline std::string Text(const rapidjson::Value& value, const char* member) {
    return value[member].GetString();
}

}  // namespace simtest
