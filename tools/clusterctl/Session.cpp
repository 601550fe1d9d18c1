#include "Session.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "ClusterSim.h"
#include "Password.h"
#include "platform/TNLibCurl.h"

namespace clusterctl {
namespace {

// The embedded cluster's account (the simulator's default).
constexpr const char* kEmbeddedUser = "admin";
constexpr const char* kEmbeddedPassword = "admin";
// Error code for a cluster that could not be started in this process.
constexpr unsigned int kEmbeddedStartError = 1067;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string FirstOf(const std::string& given, const std::string& fallback) {
    return given.empty() ? fallback : given;
}

void ConfigureTransport(const ConnectionOptions& options, const std::string& caFile) {
    TNLibCurl::Defaults defaults = TNLibCurl::GetDefaults();
    defaults.caFile = caFile;
    defaults.insecure = options.insecure;
    if (options.maxReplyBytes != 0) defaults.maxReplyBytes = options.maxReplyBytes;
    if (options.totalSeconds != 0) defaults.totalSeconds = options.totalSeconds;
    TNLibCurl::SetDefaults(defaults);
    if (options.insecure) {
        std::fputs("clusterctl: warning: --insecure: the cluster's certificate is not checked\n",
                   stderr);
    }
}

// URL schemes are case-insensitive: "HTTP://" is as plain as "http://".
bool IsPlainHttp(const std::string& url) {
    static const char kScheme[] = "http://";
    return strncasecmp(url.c_str(), kScheme, sizeof kScheme - 1) == 0;
}

void WarnIfPlainHttp(const std::string& url) {
    if (!IsPlainHttp(url)) return;
    std::fputs(
        "clusterctl: warning: the URL is plain http: the password and the session token "
        "cross the network unencrypted\n",
        stderr);
}

}  // namespace

Session::Session() = default;
Session::~Session() = default;

CZuError Session::Open(const ConnectionOptions& options) {
    m_url = FirstOf(options.url, Environment("CLUSTER_URL"));
    m_user = FirstOf(options.user, FirstOf(Environment("CLUSTER_USER"), kEmbeddedUser));
    std::string caFile = options.caFile;
    if (m_url.empty()) {
        CZuError error = StartEmbeddedCluster();
        if (error.IsError()) return error.Push(FX_CODE_LOCATION);
        caFile = m_simulator->CaFile();
    }
    ConfigureTransport(options, caFile);
    const std::string password = Password(options);
    WarnIfPlainHttp(m_url);
    m_connection.reset(new Cluster::CConnection);
    m_parser.reset(new Cluster::CParser);
    CZuError error = m_connection->Connect(m_url, m_user, password);
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

CZuError Session::StartEmbeddedCluster() {
    m_simulator.reset(new clustersim::Simulator);
    std::string why;
    if (!m_simulator->Start(&why)) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kEmbeddedStartError,
                                       "Cannot start the embedded simulated cluster: %s",
                                       why.c_str());
    }
    m_url = m_simulator->BaseUrl();
    std::fprintf(stderr, "clusterctl: no --url given; using the embedded simulated cluster at %s\n",
                 m_url.c_str());
    return CZuError::Success();
}

// An explicit file wins over the environment; the embedded cluster needs no prompt.
std::string Session::Password(const ConnectionOptions& options) const {
    if (!options.passwordFile.empty()) return ReadPasswordFile(options.passwordFile);
    const char* fromEnvironment = std::getenv("CLUSTER_PASSWORD");
    if (fromEnvironment != nullptr) return fromEnvironment;
    if (m_simulator) return kEmbeddedPassword;
    return PromptForPassword("Password for " + m_user + " at " + m_url + ": ");
}

}  // namespace clusterctl
