#include "Session.h"

#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "ClusterSim.h"
#include "ExitStatus.h"
#include "Failure.h"
#include "Prompts.h"
#include "UsageError.h"
#include "platform/TNLibCurl.h"

namespace clusterctl {
namespace {

// The simulated cluster's account (the simulator's default); also the default user name.
constexpr const char* kSimulatedUser = "admin";
constexpr const char* kSimulatedPassword = "admin";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
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

Session::~Session() {
    if (!m_password.empty()) explicit_bzero(&m_password[0], m_password.size());
}

std::string SimulatedStateFolder() {
    const std::string chosen = Environment("CLUSTER_SIM_STATE");
    if (!chosen.empty()) return chosen;
    const std::string state = Environment("XDG_STATE_HOME");
    if (!state.empty()) return state + "/clusterctl/simulated";
    const std::string home = Environment("HOME");
    if (!home.empty()) return home + "/.local/state/clusterctl/simulated";
    throw UsageError("no folder for the simulated cluster's state: set CLUSTER_SIM_STATE");
}

CZuError Session::Open(const ConnectionOptions& options) {
    m_url = options.url;
    m_user = options.user.empty() || options.simulated ? kSimulatedUser : options.user;
    std::string caFile = options.caFile;
    if (options.simulated) {
        StartSimulatedCluster();
        caFile = m_simulator->CaFile();
    }
    ConfigureTransport(options, caFile);
    m_password = Password(options);
    WarnIfPlainHttp(m_url);
    m_job = std::make_shared<clusterwalk::CJob>(options.job);
    m_resilient.reset(new clusterwalk::CResilientSession(m_job, m_url, m_user, m_password));
    CZuError error = m_resilient->Connect();
    if (error.IsError()) return error.Push(FX_CODE_LOCATION);
    return CZuError::Success();
}

CZuError Session::Run(clusterwalk::RequestKind kind, const std::function<CZuError()>& attempt) {
    return m_resilient->Run(kind, attempt);
}

std::unique_ptr<clusterwalk::CChangeFeed> Session::NewChangeFeed(unsigned connections) const {
    return std::make_unique<clusterwalk::CChangeFeed>(m_job, m_url, m_user, m_password,
                                                      connections);
}

std::unique_ptr<clusterwalk::CTreeWalker> Session::NewWalker(unsigned connections) const {
    return std::make_unique<clusterwalk::CTreeWalker>(m_job, m_url, m_user, m_password,
                                                      connections);
}

Cluster::CRequestOutcome Session::LastOutcome() const {
    return m_resilient ? m_resilient->GetLastRequestOutcome() : Cluster::CRequestOutcome();
}

void Session::StartSimulatedCluster() {
    clustersim::Options options;
    options.stateDir = SimulatedStateFolder();
    // The faults of a real cluster on request (CLUSTER_SIM_FAULT_RATE, CLUSTER_SIM_TOKEN_TTL...),
    // so retries can be tried out without one.
    std::string badVariable;
    if (!clustersim::OptionsFromEnvironment(&options, &badVariable)) throw UsageError(badVariable);
    m_simulator.reset(new clustersim::Simulator(options));
    std::string why;
    if (!m_simulator->Start(&why)) {
        throw Failure(kExitFailure, "cannot start the simulated cluster: " + why);
    }
    m_url = m_simulator->BaseUrl();
}

// The simulated cluster has its own account; otherwise an explicit file wins over the
// environment.
std::string Session::Password(const ConnectionOptions& options) const {
    if (m_simulator) return kSimulatedPassword;
    if (!options.passwordFile.empty()) return ReadPasswordFile(options.passwordFile);
    const char* fromEnvironment = std::getenv("CLUSTER_PASSWORD");
    if (fromEnvironment != nullptr) return fromEnvironment;
    return PromptForPassword("Password for " + m_user + " at " + m_url + ": ");
}

}  // namespace clusterctl
