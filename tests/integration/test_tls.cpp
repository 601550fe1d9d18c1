// Which servers a login trusts: by the CA file given through the process defaults,
// CURL_CA_BUNDLE or the connection's own trust, by nothing (insecure), or not at all. Refusals end
// before any request reaches the server. Also the same through clusterctl, run as a child process.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "Cluster/ClusterSnapshotQueries.h"
#include "ScratchDirectory.h"
#include "SimFixture.h"
#include "Tls.h"

extern char** environ;

namespace {

const char kMaskedLoginBody[] = "{\"password\":\"***\",\"username\":\"admin\"}";

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A self-signed server certificate, its own CA, valid from `fromDays` to `untilDays` (days
// relative to now) for localhost and 127.0.0.1, written with its key as PEM files.
struct CertificateFiles {
    std::string certFile;
    std::string keyFile;
};

bool MakeCertificate(const std::string& directory, const std::string& stem, long fromDays,
                     long untilDays, CertificateFiles* files) {
    files->certFile = directory + "/" + stem + "-cert.pem";
    files->keyFile = directory + "/" + stem + "-key.pem";
    std::string error;
    const bool written = clustersim::WriteSelfSignedCertificate(files->certFile, files->keyFile,
                                                                fromDays, untilDays, &error);
    EXPECT_TRUE(written) << error;
    return written;
}

// How the client is told whom to trust.
enum class Trust {
    Nothing,       // no CA file, CURL_CA_BUNDLE unset: the system's CAs only
    OtherCa,       // the CA of a different simulated cluster
    CaByDefaults,  // the server's CA through TNLibCurl::SetDefaults
    CaByVariable,  // the server's CA through CURL_CA_BUNDLE
    Insecure,      // no check at all
};

const char* TrustName(Trust trust) {
    switch (trust) {
        case Trust::Nothing:
            return "no CA";
        case Trust::OtherCa:
            return "another cluster's CA";
        case Trust::CaByDefaults:
            return "CA in the defaults";
        case Trust::CaByVariable:
            return "CA in CURL_CA_BUNDLE";
        case Trust::Insecure:
            return "insecure";
    }
    return "";
}

// Resets the process's trust to exactly `trust`.
void ApplyTrust(Trust trust, const std::string& ownCa, const std::string& otherCa) {
    unsetenv("CURL_CA_BUNDLE");
    TNLibCurl::Defaults defaults;
    switch (trust) {
        case Trust::Nothing:
            break;
        case Trust::OtherCa:
            defaults.caFile = otherCa;
            break;
        case Trust::CaByDefaults:
            defaults.caFile = ownCa;
            break;
        case Trust::CaByVariable:
            setenv("CURL_CA_BUNDLE", ownCa.c_str(), 1);
            break;
        case Trust::Insecure:
            defaults.insecure = true;
            break;
    }
    TNLibCurl::SetDefaults(defaults);
}

// The transport's own words for why a request to `url` failed, from a client of its own.
std::string TransportError(const std::string& url) {
    TNLibCurl client;
    if (!client.TNLibCurlInit(nullptr, true, true, nullptr)) return "cannot start a client";
    client.TNLibCurlSendHttpReq(HTTP_REQ_GET, (url + "/v9/no-such-endpoint").c_str(), nullptr, 0,
                                false, nullptr);
    return client.GetLastErrorText();
}

// Every test starts with CURL_CA_BUNDLE unset and puts back what the environment held.
class TlsTest : public SimTest {
  protected:
    void SetUp() override {
        const char* bundle = std::getenv("CURL_CA_BUNDLE");
        m_hadBundle = bundle != nullptr;
        if (m_hadBundle) m_bundle = bundle;
        unsetenv("CURL_CA_BUNDLE");
        SimTest::SetUp();
        ASSERT_FALSE(scratch.Path().empty());
    }
    void TearDown() override {
        SimTest::TearDown();
        if (m_hadBundle) {
            setenv("CURL_CA_BUNDLE", m_bundle.c_str(), 1);
        } else {
            unsetenv("CURL_CA_BUNDLE");
        }
    }

    static std::unique_ptr<clustersim::Simulator> Started(clustersim::Options options) {
        auto server = std::make_unique<clustersim::Simulator>(options);
        std::string problem;
        EXPECT_TRUE(server->Start(&problem)) << problem;
        return server;
    }

    // A refused login: nothing was answered, nothing reached the server, the event was raised.
    void ExpectRefusedLogin(const CZuError& error, const std::string& url,
                            const clustersim::Simulator& server) {
        ASSERT_TRUE(error.IsError());
        EXPECT_EQ(774u, error.GetCode());
        EXPECT_EQ("Error: API failed. operation [1]. URL[" + url + "/v1/session/login]. Body [" +
                      kMaskedLoginBody + "] Response []",
                  error.GetMessage());
        EXPECT_EQ(std::vector<std::string>({signatures::kSendRequest, signatures::kConnect}),
                  Trail(error));
        EXPECT_TRUE(server.Journal().empty());
        EXPECT_EQ(1u, events->codes.size());
    }

    ScratchDirectory scratch{"tls-test"};

  private:
    bool m_hadBundle = false;
    std::string m_bundle;
};

enum class Server {
    Named,      // the simulator's own certificate, reached as 127.0.0.1
    WrongName,  // the same kind of certificate, reached as 127.0.0.2, which it does not name
    Expired,    // a certificate whose validity ended yesterday
    MadeHere,   // a certificate made here the same way as the expired one, but valid
};

TEST_F(TlsTest, LoginIsAcceptedExactlyWhenTheServerIsTrustedOrNotChecked) {
    CertificateFiles expired;
    CertificateFiles valid;
    ASSERT_TRUE(MakeCertificate(scratch.Path(), "expired", -30, -1, &expired));
    ASSERT_TRUE(MakeCertificate(scratch.Path(), "valid", -1, 30, &valid));
    clustersim::Options options;
    options.host = "127.0.0.2";
    const auto wrongName = Started(options);
    options.host = "127.0.0.1";
    options.certFile = expired.certFile;
    options.keyFile = expired.keyFile;
    const auto expiredServer = Started(options);
    options.certFile = valid.certFile;
    options.keyFile = valid.keyFile;
    const auto madeHere = Started(options);
    const auto other = Started(clustersim::Options());
    if (HasFailure()) return;

    // `reason`: part of the transport's error text for a refusal: why it refused.
    const struct {
        Server server;
        Trust trust;
        bool accepted;
        const char* reason;
    } cases[] = {
        {Server::Named, Trust::Nothing, false, "self-signed certificate"},
        {Server::Named, Trust::OtherCa, false, "self-signed certificate"},
        {Server::Named, Trust::CaByDefaults, true, ""},
        {Server::Named, Trust::CaByVariable, true, ""},
        {Server::Named, Trust::Insecure, true, ""},
        {Server::WrongName, Trust::Nothing, false, "self-signed certificate"},
        {Server::WrongName, Trust::OtherCa, false, "self-signed certificate"},
        {Server::WrongName, Trust::CaByDefaults, false,
         "subject name matches target host name '127.0.0.2'"},
        {Server::WrongName, Trust::CaByVariable, false,
         "subject name matches target host name '127.0.0.2'"},
        {Server::WrongName, Trust::Insecure, true, ""},
        {Server::Expired, Trust::Nothing, false, "self-signed certificate"},
        {Server::Expired, Trust::OtherCa, false, "self-signed certificate"},
        {Server::Expired, Trust::CaByDefaults, false, "certificate has expired"},
        {Server::Expired, Trust::CaByVariable, false, "certificate has expired"},
        {Server::Expired, Trust::Insecure, true, ""},
        {Server::MadeHere, Trust::Nothing, false, "self-signed certificate"},
        {Server::MadeHere, Trust::OtherCa, false, "self-signed certificate"},
        {Server::MadeHere, Trust::CaByDefaults, true, ""},
        {Server::MadeHere, Trust::CaByVariable, true, ""},
        {Server::MadeHere, Trust::Insecure, true, ""},
    };
    for (const auto& row : cases) {
        clustersim::Simulator& server = row.server == Server::Named       ? sim
                                        : row.server == Server::WrongName ? *wrongName
                                        : row.server == Server::Expired   ? *expiredServer
                                                                          : *madeHere;
        SCOPED_TRACE(server.BaseUrl() + " with " + TrustName(row.trust));
        ApplyTrust(row.trust, server.CaFile(), other->CaFile());
        server.ClearJournal();
        events->codes.clear();
        auto client = boost::make_shared<Cluster::CConnection>();
        const CZuError error = client->Connect(server.BaseUrl(), "admin", "admin");
        if (row.accepted) {
            EXPECT_FALSE(error.IsError()) << error.ToString();
            ASSERT_EQ(1u, server.Journal().size());
            EXPECT_EQ("/v1/session/login", server.Journal()[0].target);
            continue;
        }
        ExpectRefusedLogin(error, server.BaseUrl(), server);
        const std::string why = TransportError(server.BaseUrl());
        EXPECT_TRUE(Contains(why, row.reason)) << why;
        EXPECT_TRUE(server.Journal().empty());  // nor did the probe get through
    }
}

TEST_F(TlsTest, TheOtherProtocolOnAPortIsRefused) {
    clustersim::Options plainOptions;
    plainOptions.tls = false;
    const auto plain = Started(plainOptions);
    if (HasFailure()) return;
    const std::string plainPort = std::to_string(plain->Port());
    const std::string tlsPort = std::to_string(sim.Port());
    const struct {
        std::string url;
        const clustersim::Simulator* server;
    } cases[] = {
        {"http://127.0.0.1:" + tlsPort, &sim},
        {"https://127.0.0.1:" + plainPort, plain.get()},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.url);
        events->codes.clear();
        const CZuError error = connection->Connect(row.url, "admin", "admin");
        ExpectRefusedLogin(error, row.url, *row.server);
    }
    // Both servers still serve their own protocol.
    EXPECT_FALSE(connection->Connect(sim.BaseUrl(), "admin", "admin").IsError());
    EXPECT_FALSE(connection->Connect(plain->BaseUrl(), "admin", "admin").IsError());
}

// The defaults are read at every request: a connection that logged in under one trust
// setting is held to the next one at its next request.
TEST_F(TlsTest, ChangedTrustAppliesToTheNextRequestOfALoggedInConnection) {
    const auto other = Started(clustersim::Options());
    if (HasFailure()) return;
    const struct {
        Trust atLogin;
        Trust afterwards;
        bool accepted;
    } cases[] = {
        {Trust::CaByDefaults, Trust::Nothing, false},
        {Trust::CaByDefaults, Trust::OtherCa, false},
        {Trust::CaByVariable, Trust::Nothing, false},
        {Trust::Insecure, Trust::Nothing, false},
        {Trust::Insecure, Trust::CaByDefaults, true},
        {Trust::CaByVariable, Trust::CaByDefaults, true},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(std::string(TrustName(row.atLogin)) + ", then " + TrustName(row.afterwards));
        ApplyTrust(row.atLogin, sim.CaFile(), other->CaFile());
        auto client = boost::make_shared<Cluster::CConnection>();
        ASSERT_FALSE(client->Connect(sim.BaseUrl(), "admin", "admin").IsError());
        sim.ClearJournal();
        ApplyTrust(row.afterwards, sim.CaFile(), other->CaFile());
        Cluster::CSnapshotQueries snapshots(client, parser);
        std::list<Cluster::CSnapshotInfo> listed;
        const CZuError error = snapshots.ListSnapshots(listed);
        if (row.accepted) {
            EXPECT_FALSE(error.IsError()) << error.ToString();
            EXPECT_EQ(1u, sim.Journal().size());
            continue;
        }
        EXPECT_TRUE(error.IsError());
        EXPECT_EQ("Error: API failed. operation [0]. URL[" + sim.BaseUrl() +
                      "/v2/snapshots/]. Body [] Response []",
                  error.GetMessage());
        EXPECT_TRUE(sim.Journal().empty());
        EXPECT_TRUE(listed.empty());
    }
}

struct ChildRun {
    int status = -1;  // -1: did not exit normally
    std::string out;
    std::string err;
};

// clusterctl with stdin from /dev/null, the cluster password in its environment and neither
// CLUSTER_* settings nor CURL_CA_BUNDLE from ours.
ChildRun RunClusterctl(const std::vector<std::string>& args, const std::string& directory) {
    std::vector<std::string> strings{CLUSTERCTL_PATH};
    strings.insert(strings.end(), args.begin(), args.end());
    const size_t argumentCount = strings.size();
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        if (variable.rfind("CLUSTER_", 0) != 0 && variable.rfind("CURL_CA_BUNDLE=", 0) != 0) {
            strings.push_back(variable);
        }
    }
    strings.push_back("CLUSTER_PASSWORD=admin");
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (size_t i = 0; i < strings.size(); ++i) {
        (i < argumentCount ? argv : envp).push_back(strings[i].data());
    }
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    const std::string outFile = directory + "/out";
    const std::string errFile = directory + "/err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ChildRun run;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return run;
    }
    // Guards against a hung child; not a timing check.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "clusterctl did not finish";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(outFile);
    run.err = ReadFile(errFile);
    return run;
}

// A connection's own trust replaces the defaults' for it alone, whatever they say, and
// outlives a new login: one process can hold connections to clusters of different CAs.
TEST_F(TlsTest, AConnectionsOwnTrustIsItsAloneAndReplacesTheDefaults) {
    const auto other = Started(clustersim::Options());
    if (HasFailure()) return;
    const auto ownCa = std::make_shared<TNLibCurl::Trust>(TNLibCurl::Trust{sim.CaFile(), false});
    const auto otherCa =
        std::make_shared<TNLibCurl::Trust>(TNLibCurl::Trust{other->CaFile(), false});
    const auto unchecked = std::make_shared<TNLibCurl::Trust>(TNLibCurl::Trust{"", true});
    const struct {
        Trust defaults;
        std::shared_ptr<const TNLibCurl::Trust> own;
        bool accepted;
        const char* name;
    } cases[] = {
        {Trust::Nothing, ownCa, true, "own CA over no defaults"},
        {Trust::OtherCa, ownCa, true, "own CA over another CA"},
        {Trust::Insecure, otherCa, false, "another CA over insecure defaults"},
        {Trust::Insecure, nullptr, true, "no own trust: the defaults"},
        {Trust::Nothing, unchecked, true, "own insecure"},
        {Trust::CaByVariable, otherCa, false, "another CA over CURL_CA_BUNDLE"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        ApplyTrust(row.defaults, sim.CaFile(), other->CaFile());
        auto client = boost::make_shared<Cluster::CConnection>();
        client->SetTrust(row.own);
        auto plain = boost::make_shared<Cluster::CConnection>();
        sim.ClearJournal();
        events->codes.clear();
        const CZuError first = client->Connect(sim.BaseUrl(), "admin", "admin");
        if (!row.accepted) {
            ExpectRefusedLogin(first, sim.BaseUrl(), sim);
            continue;
        }
        ASSERT_FALSE(first.IsError()) << first.ToString();
        // The next login builds a new HTTP client: the trust goes with it.
        EXPECT_FALSE(client->Connect(sim.BaseUrl(), "admin", "admin").IsError());
        if (row.own && row.defaults == Trust::Nothing) {
            // A connection beside it, without trust of its own, is not given it.
            EXPECT_TRUE(plain->Connect(sim.BaseUrl(), "admin", "admin").IsError());
        }
    }
}

TEST_F(TlsTest, ClusterctlTrustsTheGivenCaOrNothingWhenInsecure) {
    const auto other = Started(clustersim::Options());
    if (HasFailure()) return;
    const std::string url = sim.BaseUrl();
    const std::string loggedIn = "Logged in to " + url + " as admin\n";
    // Nothing reached the server: the line names TLS and the way to trust a private CA.
    const std::string refused = "~clusterctl: TLS: SSL certificate problem: ";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err;  // all of it, or (with a leading '~') a part of it
    } cases[] = {
        {{"--url", url, "--cacert", sim.CaFile(), "login"}, 0, loggedIn, ""},
        {{"--url", url, "login"}, 6, "", refused},
        {{"--url", url, "--cacert", other->CaFile(), "login"}, 6, "", refused},
        {{"--url", url, "--insecure", "login"}, 0, loggedIn, "~warning"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        sim.ClearJournal();
        const ChildRun run = RunClusterctl(row.args, scratch.Path());
        EXPECT_EQ(row.status, run.status) << run.err;
        EXPECT_EQ(row.out, run.out);
        if (row.err.rfind("~", 0) == 0) {
            EXPECT_TRUE(Contains(run.err, row.err.substr(1))) << run.err;
        } else {
            EXPECT_EQ(row.err, run.err);
        }
        EXPECT_EQ(row.status == 0 ? 1u : 0u, sim.Journal().size());
    }
}

}  // namespace
