// The REST endpoints of the simulated cluster: routing on the raw request target, the token
// check, and one handler per endpoint. Every error answer is a JSON object with a description.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SimState.h"
#include "Url.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace clustersim {

class Api {
  public:
    // Keeps the state after a change, false with the reason when it could not.
    using Save = std::function<bool(std::string* error)>;

    explicit Api(SimState& state, Save save = {}) : m_state(state), m_save(std::move(save)) {}
    void Handle(const httplib::Request& request, httplib::Response& response) const;

  private:
    struct Call {
        const httplib::Request& request;
        Target target;
        std::vector<std::string> captures;  // still encoded
    };
    using Handler = void (Api::*)(const Call& call, httplib::Response& response) const;
    struct Route {
        const char* method;
        const char* pattern;
        Handler handler;
        bool needsToken;
    };
    static const Route kRoutes[];

    const Route* FindRoute(const std::string& method, Call& call, bool* pathKnown) const;
    void RequireToken(const httplib::Request& request) const;
    SnapshotPtr FindSnapshot(const std::string& encodedId) const;
    NodePtr FindDirectory(const std::optional<uint64_t>& snapshotId, const Names& names,
                          const std::string& path) const;
    SyntheticEntry FindSyntheticDirectory(const SyntheticView& view, const SnapshotPtr& snapshot,
                                          const Names& names, const std::string& path) const;
    void RefuseSyntheticChange(const std::string& method, const std::string& encodedPath) const;
    void ListSynthetic(const SyntheticView& view, const SyntheticEntry& directory, const Call& call,
                       const std::string& path, const std::optional<uint64_t>& snapshot,
                       httplib::Response& response) const;
    void SyntheticChangesSince(const Snapshot& newer, const Snapshot& older, const Call& call,
                               httplib::Response& response) const;
    void Keep() const;  // after a change, before the answer

    void Login(const Call& call, httplib::Response& response) const;
    void ListEntries(const Call& call, httplib::Response& response) const;
    void GetAttributes(const Call& call, httplib::Response& response) const;
    void ListSnapshots(const Call& call, httplib::Response& response) const;
    void GetSnapshot(const Call& call, httplib::Response& response) const;
    void CreateSnapshot(const Call& call, httplib::Response& response) const;
    void DeleteSnapshot(const Call& call, httplib::Response& response) const;
    void ChangesSince(const Call& call, httplib::Response& response) const;
    void ListSmbShares(const Call& call, httplib::Response& response) const;
    void GetSmbShare(const Call& call, httplib::Response& response) const;
    void ListNfsExports(const Call& call, httplib::Response& response) const;
    void GetNfsExport(const Call& call, httplib::Response& response) const;

    SimState& m_state;
    Save m_save;
};

}  // namespace clustersim
