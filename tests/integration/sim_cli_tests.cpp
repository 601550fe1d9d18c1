// The cluster-sim executable: its options, the one line it prints, and a clean stop on signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "sim_client.h"

namespace {

using simtest::Client;
using simtest::Program;

TEST(SimProgram, PrintsItsUrlAndCertificateAndStopsOnSigterm) {
    Program program({"--listen", "127.0.0.1:0"});
    const std::string line = program.FirstLine();
    std::smatch match;
    ASSERT_TRUE(
        std::regex_match(line, match,
                         std::regex("cluster-sim listening on (https://127\\.0\\.0\\.1:[0-9]+) "
                                    "ca=(/.*/ca\\.pem)")))
        << line;
    const std::string ca = match[2];
    Client client(match[1], ca);
    EXPECT_FALSE(client.LogIn().empty());
    EXPECT_EQ(2u, client.Get("/v2/snapshots/").Json()["entries"].Size()) << "the demo is there";

    program.Signal(SIGTERM);
    EXPECT_EQ(0, program.ExitCode());
    EXPECT_NE(0, access(ca.c_str(), F_OK)) << "the certificate goes with the server";
}

TEST(SimProgram, OptionsShapeTheCluster) {
    Program program({"--no-tls", "--no-demo", "--user", "bob:s:cret", "--user", "eve:x",
                     "--page-size", "2", "--files", "5", "--fault", "GET:/v1/smb:respond:503",
                     "--fault", ":/v2/nfs:close"});
    const std::string line = program.FirstLine();
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        line, match, std::regex("cluster-sim listening on (http://127\\.0\\.0\\.1:[0-9]+)")))
        << line;
    Client client(match[1], "");
    EXPECT_TRUE(client.LogIn("admin", "admin").empty()) << "--user replaces the default account";
    EXPECT_FALSE(client.LogIn("eve", "x").empty());
    ASSERT_FALSE(client.LogIn("bob", "s:cret").empty());
    EXPECT_TRUE(client.Get("/v2/snapshots/").Json()["entries"].Empty());
    const auto page = client.Get("/v1/files/%2Fbig/entries/").Json();
    EXPECT_EQ(2u, page["files"].Size());
    EXPECT_NE("", std::string(page["paging"]["next"].GetString()));
    const auto shares = client.Get("/v1/smb/shares/");
    EXPECT_EQ(503, shares.status);
    EXPECT_EQ("text/html", shares.contentType);
    EXPECT_EQ(CURLE_GOT_NOTHING, client.Get("/v2/nfs/exports/").code);

    program.Signal(SIGINT);
    EXPECT_EQ(0, program.ExitCode());
}

TEST(SimProgram, BadArgumentsEndWithUsageAndNoServer) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--bogus"},
                                               {"--files"},
                                               {"--files", "many"},
                                               {"--listen", "no-port"},
                                               {"--page-size", "0"},
                                               {"--user", "nopassword"},
                                               {"--fault", "GET:/x:delay"},
                                               {"--fault", "GET:/x:close:5"},
                                               {"--fault", "GET:/x:explode"}}) {
        Program program(arguments);
        EXPECT_EQ("", program.FirstLine()) << arguments[0];
        EXPECT_EQ(2, program.ExitCode()) << arguments[0];
    }
}

}  // namespace
