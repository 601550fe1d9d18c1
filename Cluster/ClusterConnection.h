// One authenticated session with a cluster: the login, the bearer token and the sending of
// every REST request.
//
// Concurrency: a connection has one HTTP client with one header list and one last reply, so
// calls on one CConnection, and on every query object built from it, must not overlap.
// Separate connections may be used from different threads at once, and their query objects
// may share one CParser. They share only what is process-wide: the log writer and the event
// sender, which are then called from several threads at once, and the HTTP client's defaults
// (TNLibCurl::SetDefaults, safe at any time). g_ptrLogWriter is read without a lock: set it
// before the first call and not while any call runs.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Cluster/ClusterExport.h"
#include "platform/TNLibCurl.h"
#include "platform/ZuUtils.h"

namespace Cluster {

enum RequestType { REQUEST_POST = 0, REQUEST_GET = 1, REQUEST_DELETE = 2 };

class CLUSTER_API CConnection {
  public:
    // Creates a new HTTP client, stores the base URL less one trailing "/", and logs in with
    // the user name and password; on success the bearer token is kept for later requests.
    CZuError Connect(const string& baseUrl, const string& userName, const string& password);

    // Sends one request to base URL + path with the given header lines (kind "HTTPHEADER"),
    // and copies the reply body into `response` whenever a request was sent.
    CZuError SendRequest(RequestType type, const string& path, const string& body,
                         std::string& response,
                         const std::vector<std::pair<std::string, std::string>>& headers,
                         bool bLogOnSuccess);

    // The same with the session's bearer token as the only header line.
    CZuError SendRequest(RequestType type, const string& path, const string& body,
                         std::string& response, bool bLogOnSuccess);

    // Fails when no login has succeeded yet.
    CZuError GetAuthorizationToken(std::string& token);

  private:
    std::shared_ptr<TNLibCurl> m_ptrHttpClient;
    std::string m_strBaseUrl;
    std::string m_strAuthToken;
};

}  // namespace Cluster
