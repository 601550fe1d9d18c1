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

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Cluster/ClusterExport.h"
#include "platform/TNLibCurl.h"
#include "platform/ZuUtils.h"

namespace Cluster {

enum RequestType { REQUEST_POST = 0, REQUEST_GET = 1, REQUEST_DELETE = 2 };

// What became of the last request a connection sent or tried to send, for a caller that must
// decide what to do about a failure (retry, log in again, give up, tell a person). A request
// refused before it was handed to the HTTP client (no login yet, a refused page link or path,
// an unsupported header kind) leaves every member at its initial value: not sent, status 0,
// code 0.
struct CRequestOutcome {
    // The request reached the cluster (connected and written). False: sending it again cannot
    // repeat any effect.
    bool sent = false;
    long httpStatus = 0;  // the reply's HTTP status; 0 when no reply came
    // libcurl's CURLcode; 0 when the transfer itself worked (whatever the status).
    int transportCode = 0;
    // libcurl's error text ("Failed to connect to ... (Connection refused)", "SSL certificate
    // problem: certificate has expired", ...), or the client's own limit that ended the
    // transfer ("no reply within 120 s (first-byte limit)"); empty when the code is 0.
    std::string transportText;
    // The reply's Retry-After in seconds, from delay seconds or an HTTP date (0 once the date
    // has passed); -1 when the reply had none or it was neither form.
    long retryAfterSeconds = -1;
    // The cluster's "error_class" and "description" when the reply failed the request with a
    // status and its body is a JSON object holding them as strings; else empty. Quoted as
    // messages quote replies: at most 64 KiB each, secrets masked.
    std::string errorClass;
    std::string description;
    double elapsedSeconds = 0;  // time the transfer took, connecting included
};

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

    // What became of the request of the last operation on this connection: Connect,
    // SendRequest or a query built on it. Every one of them starts it afresh, so it never
    // describes an earlier request. A failed request is also written to the log writer once,
    // at level 1, with the same facts.
    CRequestOutcome GetLastRequestOutcome() const;

    // Lets another thread abandon this connection's requests by raising `flag`: while it is
    // true, a request (the login too) fails at once without being sent, and one in flight is
    // given up within about 50 ms. Such a failure's outcome has transport code 42
    // (CURLE_ABORTED_BY_CALLBACK) and text "the request was cancelled"; the connection stays
    // usable once the flag is lowered. One flag may serve many connections; null turns it
    // off. Kept across Connect; set it before the connection is used, not while a call runs.
    void SetAbandonFlag(std::shared_ptr<const std::atomic<bool>> flag);
    // Whom this connection trusts in place of TNLibCurl::Defaults' CA file and `insecure`;
    // null follows the Defaults. Kept across Connect, like the abandon flag.
    void SetTrust(std::shared_ptr<const TNLibCurl::Trust> trust);

  private:
    // Query operations start here, so that one refused before sending leaves no earlier
    // outcome behind (ClusterQuery.h).
    friend void ForgetRequestOutcome(CConnection& connection);

    std::shared_ptr<TNLibCurl> m_ptrHttpClient;
    std::string m_strBaseUrl;
    std::string m_strAuthToken;
    CRequestOutcome m_lastOutcome;
};

}  // namespace Cluster
