// Clients for testing the simulated cluster: libcurl for whole exchanges (one handle, so its
// connection is reused as a real client's is) and a raw socket for faults that break HTTP.
#pragma once

#include <curl/curl.h>
#include <rapidjson/document.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "ClusterSim.h"

namespace simtest {

struct Reply {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string contentType;
    std::string body;
    long newConnections = 0;
    long retryAfter = 0;  // seconds, 0 without a Retry-After header

    rapidjson::Document Json() const;
    // The reply's "description", empty unless the body is a JSON object carrying one.
    std::string Description() const;
    // The same for its "error_class".
    std::string ErrorClass() const;

  private:
    std::string Member(const char* name) const;
};

class Client {
  public:
    explicit Client(const clustersim::Simulator& sim);
    Client(std::string baseUrl, std::string caFile);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Sends "Authorization: Bearer <token>" when a token is set, then `headers`; a body goes
    // with any method.
    Reply Send(const std::string& method, const std::string& target, const std::string& body = "",
               const std::vector<std::string>& headers = {});
    Reply Get(const std::string& target) { return Send("GET", target); }
    // Logs in and keeps the token; empty when refused.
    std::string LogIn(const std::string& user = "admin", const std::string& password = "admin");

    std::string token;
    // A new connection for each request: libcurl sends a request again, unasked, when a reused
    // connection closes without an answer, which would hide a reset.
    bool freshConnections = false;

  private:
    CURL* m_curl;
    std::string m_base;
    std::string m_ca;
};

// The cluster-sim executable run with `arguments`, its stdout on a pipe, stderr dropped; killed
// when still running at the end.
class Program {
  public:
    explicit Program(std::vector<std::string> arguments);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Everything printed until the first newline or the end of output.
    std::string FirstLine();
    void Signal(int signal) const;
    int ExitCode();

  private:
    pid_t m_pid = -1;
    int m_output = -1;
};

int ConnectLoopback(int port);
// Appends what arrives until `wanted` bytes are there, the peer closes, or nothing comes for
// `quietMs`. True when the peer closed.
bool ReadFrom(int socket, std::string* bytes, int quietMs, size_t wanted = std::string::npos);
// Sends a request on a fresh connection and reads until the server closes or falls quiet.
std::string RawExchange(int port, const std::string& request, int quietMs, bool* closed);

}  // namespace simtest
