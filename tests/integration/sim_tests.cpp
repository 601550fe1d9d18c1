// The simulated cluster's REST surface, over HTTPS (trusting its generated certificate) and
// plain HTTP alike.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <utility>

#include "sim_client.h"

namespace {

using clustersim::Options;
using clustersim::Simulator;
using simtest::Client;
using simtest::Reply;

std::string Text(const rapidjson::Value& value) {
    return value.IsString() ? value.GetString() : "<not a string>";
}

using ItemText = std::function<std::string(const rapidjson::Value&)>;

std::string PathOf(const rapidjson::Value& item) {
    return Text(item["path"]);
}

std::string OpAndPathOf(const rapidjson::Value& item) {
    return Text(item["op"]) + " " + Text(item["path"]);
}

std::string EntriesTarget(const std::string& encodedPath, const std::string& query = "") {
    return "/v1/files/" + encodedPath + "/entries/" + (query.empty() ? "" : "?" + query);
}

class SimApiTest : public ::testing::TestWithParam<bool> {
  protected:
    void Start(Options options = Options()) {
        options.tls = GetParam();
        sim = std::make_unique<Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        client = std::make_unique<Client>(*sim);
        ASSERT_FALSE(client->LogIn().empty());
    }

    static Options Empty() {
        Options options;
        options.seedDemo = false;
        return options;
    }

    // Every error answer carries its status and a JSON description.
    static void ExpectError(long status, const Reply& reply) {
        EXPECT_EQ(CURLE_OK, reply.code);
        EXPECT_EQ(status, reply.status) << reply.body;
        EXPECT_EQ("application/json", reply.contentType);
        EXPECT_FALSE(reply.Description().empty()) << reply.body;
    }

    // Follows "next" from `target` to the end: the text of every item, and the links followed.
    std::vector<std::string> Walk(const std::string& target, const char* listKey,
                                  const ItemText& text = PathOf,
                                  std::vector<std::string>* links = nullptr) {
        std::vector<std::string> paths;
        std::string next = target;
        for (int page = 0; !next.empty() && page < 100; ++page) {
            if (links) links->push_back(next);
            const Reply reply = client->Get(next);
            EXPECT_EQ(200, reply.status) << next << ": " << reply.body;
            const auto json = reply.Json();
            if (reply.status != 200 || !json.IsObject()) break;
            for (const auto& item : json[listKey].GetArray()) {
                paths.push_back(text(item));
            }
            next = Text(json["paging"]["next"]);
        }
        return paths;
    }

    std::unique_ptr<Simulator> sim;
    std::unique_ptr<Client> client;
};

INSTANTIATE_TEST_SUITE_P(Transport, SimApiTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Https" : "Http"; });

TEST_P(SimApiTest, LoginIssuesTokensAndRefusesBadCredentialsAndBodies) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(std::regex_match(client->token, std::regex("1:[0-9a-f]{64}"))) << client->token;
    const std::string first = client->token;
    EXPECT_NE(first, client->LogIn());

    EXPECT_TRUE(client->LogIn("admin", "wrong").empty());
    ExpectError(401, client->Send("POST", "/v1/session/login",
                                  "{\"username\":\"admin\",\"password\":\"wrong\"}"));
    ExpectError(401, client->Send("POST", "/v1/session/login",
                                  "{\"username\":\"nobody\",\"password\":\"admin\"}"));
    for (const char* body : {"", "not json", "[\"admin\",\"admin\"]", "{\"username\":\"admin\"}",
                             "{\"username\":\"admin\",\"password\":7}"}) {
        ExpectError(400, client->Send("POST", "/v1/session/login", body));
    }
    sim->AddUser("ren\xC3\xA9", "p\"w");
    EXPECT_FALSE(client->LogIn("ren\xC3\xA9", "p\\\"w").empty());
}

TEST_P(SimApiTest, RequestsNeedAnIssuedBearerToken) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string token = client->token;
    EXPECT_EQ(200, client->Get("/v2/snapshots/").status);

    client->token.clear();
    ExpectError(401, client->Get("/v2/snapshots/"));
    ExpectError(401, client->Send("GET", "/v2/snapshots/", "", {"Authorization: Basic YTpi"}));
    ExpectError(401, client->Send("GET", "/v2/snapshots/", "", {"Authorization: Bearer 1:00"}));
    ExpectError(401, client->Get("/no/such/endpoint"));
    EXPECT_EQ(200,
              client->Send("GET", "/v2/snapshots/", "", {"Authorization: bearer " + token}).status);

    client->token = token;
    sim->RevokeTokens();
    ExpectError(401, client->Get("/v2/snapshots/"));
}

TEST_P(SimApiTest, UnknownThingsAreNotFoundWithADescription) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ExpectError(404, client->Get("/v9/nothing"));
    ExpectError(404, client->Get("/v1/smb/shares/99"));
    ExpectError(404, client->Get("/v1/smb/shares/abc"));
    ExpectError(404, client->Get("/v2/nfs/exports/0"));
    ExpectError(404, client->Get("/v2/snapshots/999"));
    ExpectError(404, client->Send("DELETE", "/v2/snapshots/999"));
    ExpectError(404, client->Get(EntriesTarget("%2Fno%2Fsuch")));
    ExpectError(404, client->Get("/v1/files/%2Fno%2Fsuch/info/attributes"));
    ExpectError(404, client->Get(EntriesTarget("relative")));
    ExpectError(400, client->Get(EntriesTarget("%2Fhome%2Falice%2Fa%23b")));
    ExpectError(400, client->Get(EntriesTarget("%2Fhome%2", "")));
    ExpectError(400, client->Get(EntriesTarget("%2Fhome", "limit=0")));
    ExpectError(400, client->Get(EntriesTarget("%2Fhome", "limit=ten")));
    ExpectError(405, client->Send("DELETE", "/v1/smb/shares/"));
}

TEST_P(SimApiTest, FilePathsAreDecodedExactlyOnce) {
    ASSERT_NO_FATAL_FAILURE(Start());
    sim->WriteFile("/odd/%2F", 3);
    sim->WriteFile("/odd/x&y=z+1", 4);

    const auto alice = Walk(EntriesTarget("%2Fhome%2Falice"), "files");
    EXPECT_EQ(std::vector<std::string>({"/home/alice/50%+off?.txt", "/home/alice/a#b",
                                        "/home/alice/caf\xC3\xA9/", "/home/alice/notes 2026.txt",
                                        "/home/alice/projects/"}),
              alice);
    const Reply stat = client->Get("/v1/files/%2Fhome%2Falice%2Fa%23b/info/attributes");
    EXPECT_EQ("/home/alice/a#b", Text(stat.Json()["path"]));
    const Reply utf8 =
        client->Get("/v1/files/%2Fhome%2Falice%2Fcaf%C3%A9%2Fr%C3%A9sum%C3%A9.pdf/info/attributes");
    EXPECT_EQ("r\xC3\xA9sum\xC3\xA9.pdf", Text(utf8.Json()["name"]));
    EXPECT_NE(std::string::npos, utf8.body.find("r\xC3\xA9sum\xC3\xA9.pdf")) << "sent as UTF-8";
    EXPECT_EQ("/odd/%2F",
              Text(client->Get("/v1/files/%2Fodd%2F%252F/info/attributes").Json()["path"]));
    ExpectError(404, client->Get("/v1/files/%2Fodd%2F%2F/info/attributes"));

    // One entry a page: the cursor of every page carries a name with reserved characters.
    EXPECT_EQ(std::vector<std::string>({"/odd/%2F", "/odd/x&y=z+1"}),
              Walk(EntriesTarget("%2Fodd", "limit=1"), "files"));
    EXPECT_EQ(alice, Walk(EntriesTarget("%2Fhome%2Falice", "limit=1"), "files"));
}

TEST_P(SimApiTest, EntriesCarryTheirAttributesAsText) {
    ASSERT_NO_FATAL_FAILURE(Start(Empty()));
    const uint64_t fileId = sim->WriteFile("/d/file", 5000);
    sim->MakeDirectory("/d/dir");
    sim->MakeSymlink("/d/link");
    const Reply reply = client->Get(EntriesTarget("%2Fd"));
    ASSERT_EQ(200, reply.status);
    const auto json = reply.Json();
    const auto& files = json["files"];
    ASSERT_EQ(3u, files.Size());
    const std::regex time("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{9}Z");
    for (const auto& entry : files.GetArray()) {
        for (const char* key : {"path", "type", "id", "mode", "owner", "group", "size",
                                "change_time", "modification_time", "creation_time"}) {
            EXPECT_TRUE(entry[key].IsString()) << key;
        }
        for (const char* key : {"change_time", "modification_time", "creation_time"}) {
            EXPECT_TRUE(std::regex_match(Text(entry[key]), time)) << Text(entry[key]);
        }
    }
    EXPECT_EQ("/d/dir/", Text(files[0]["path"]));
    EXPECT_EQ("FS_FILE_TYPE_DIRECTORY", Text(files[0]["type"]));
    EXPECT_EQ("0755", Text(files[0]["mode"]));
    EXPECT_EQ("/d/file", Text(files[1]["path"]));
    EXPECT_EQ("FS_FILE_TYPE_FILE", Text(files[1]["type"]));
    EXPECT_EQ(std::to_string(fileId), Text(files[1]["id"]));
    EXPECT_EQ("0644", Text(files[1]["mode"]));
    EXPECT_EQ("5000", Text(files[1]["size"]));
    EXPECT_EQ("FS_FILE_TYPE_SYMLINK", Text(files[2]["type"]));
    EXPECT_EQ("0777", Text(files[2]["mode"]));

    const std::string before = Text(files[1]["modification_time"]);
    EXPECT_EQ(fileId, sim->WriteFile("/d/file", 5000));
    const Reply after = client->Get("/v1/files/%2Fd%2Ffile/info/attributes");
    EXPECT_LT(before, Text(after.Json()["modification_time"])) << "a rewrite is a later change";
    EXPECT_EQ(Text(files[1]["creation_time"]), Text(after.Json()["creation_time"]));
    EXPECT_EQ("/", Text(client->Get("/v1/files/%2F/info/attributes").Json()["path"]));
}

TEST_P(SimApiTest, ListingPagesLinkBothWaysAndKeepTheirQuery) {
    ASSERT_NO_FATAL_FAILURE(Start(Empty()));
    for (const char* name : {"e", "b", "a", "d", "c"}) sim->WriteFile(std::string("/p/") + name, 1);
    const Reply first = client->Get(EntriesTarget("%2Fp", "limit=2"));
    const auto firstJson = first.Json();
    EXPECT_EQ("", Text(firstJson["paging"]["prev"]));
    const std::string next = Text(firstJson["paging"]["next"]);
    EXPECT_EQ(0u, next.find("/v1/files/%2Fp/entries/?")) << next;
    EXPECT_NE(std::string::npos, next.find("limit=2")) << next;

    const auto secondJson = client->Get(next).Json();
    EXPECT_EQ("/p/c", Text(secondJson["files"][0]["path"]));
    const Reply back = client->Get(Text(secondJson["paging"]["prev"]));
    EXPECT_EQ(first.body, back.body);
    EXPECT_EQ(std::vector<std::string>({"/p/a", "/p/b", "/p/c", "/p/d", "/p/e"}),
              Walk(EntriesTarget("%2Fp", "limit=2"), "files"));
    const auto rest =
        client->Get(EntriesTarget("%2Fp", "after=b&limit=18446744073709551615")).Json();
    EXPECT_EQ(3u, rest["files"].Size());
    EXPECT_EQ("", Text(rest["paging"]["next"]));
}

TEST_P(SimApiTest, SnapshotListingShowsTheTreeAsItWasFrozen) {
    ASSERT_NO_FATAL_FAILURE(Start(Empty()));
    for (const char* name : {"f0", "f1", "f2", "f3"})
        sim->WriteFile(std::string("/walk/") + name, 1);
    sim->MakeDirectory("/walk/sub");
    const uint64_t frozen = sim->TakeSnapshot("frozen", "/walk");
    ASSERT_NE(0u, frozen);
    sim->Remove("/walk/f0");
    sim->WriteFile("/walk/f1", 777);
    sim->WriteFile("/walk/late", 5);
    sim->WriteFile("/walk/sub/inner", 5);

    const std::string query = "snapshot=" + std::to_string(frozen) + "&limit=2";
    std::vector<std::string> links;
    EXPECT_EQ(
        std::vector<std::string>({"/walk/f0", "/walk/f1", "/walk/f2", "/walk/f3", "/walk/sub/"}),
        Walk(EntriesTarget("%2Fwalk", query), "files", PathOf, &links));
    for (const auto& link : links) {
        EXPECT_NE(std::string::npos, link.find("snapshot=" + std::to_string(frozen))) << link;
    }
    EXPECT_EQ("1", Text(client->Get(EntriesTarget("%2Fwalk", query)).Json()["files"][1]["size"]));
    EXPECT_TRUE(Walk(EntriesTarget("%2Fwalk%2Fsub", query), "files").empty());
    EXPECT_EQ(
        std::vector<std::string>({"/walk/f1", "/walk/f2", "/walk/f3", "/walk/late", "/walk/sub/"}),
        Walk(EntriesTarget("%2Fwalk", "limit=2"), "files"));

    ExpectError(404, client->Get(EntriesTarget("%2Fwalk%2Fmissing", query)));
    ExpectError(404, client->Get(EntriesTarget("%2Fother", query)));
    ExpectError(404, client->Get(EntriesTarget("%2Fwalk", "snapshot=12345")));
    ExpectError(400, client->Get(EntriesTarget("%2Fwalk", "snapshot=latest")));
}

TEST_P(SimApiTest, SnapshotsAreCreatedListedAndDeleted) {
    ASSERT_NO_FATAL_FAILURE(Start(Empty()));
    const uint64_t source = sim->MakeDirectory("/data");
    const Reply created =
        client->Send("POST", "/v2/snapshots/",
                     "{\"expiration\":\"\",\"name\":\"nightly\",\"source_file_id\":\"" +
                         std::to_string(source) + "\"}");
    ASSERT_EQ(201, created.status) << created.body;
    const auto snapshot = created.Json();
    ASSERT_TRUE(snapshot["id"].IsUint64());
    const uint64_t id = snapshot["id"].GetUint64();
    EXPECT_EQ("nightly", Text(snapshot["name"]));
    EXPECT_EQ(std::to_string(source), Text(snapshot["source_file_id"]));
    EXPECT_EQ(std::to_string(id) + "_nightly", Text(snapshot["directory_name"]));
    EXPECT_EQ("", Text(snapshot["expiration"]));
    EXPECT_FALSE(snapshot["created_by_policy"].GetBool());
    EXPECT_FALSE(snapshot["in_delete"].GetBool());
    EXPECT_TRUE(
        std::regex_match(Text(snapshot["timestamp"]),
                         std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{9}Z")));

    const Reply numeric =
        client->Send("POST", "/v2/snapshots/",
                     "{\"name\":\"n\",\"source_file_id\":" + std::to_string(source) + "}");
    EXPECT_EQ(201, numeric.status) << numeric.body;
    const auto listed = client->Get("/v2/snapshots/").Json();
    ASSERT_EQ(2u, listed["entries"].Size());
    EXPECT_EQ(created.body, client->Get("/v2/snapshots/" + std::to_string(id)).body);

    ExpectError(404, client->Send("POST", "/v2/snapshots/", "{\"source_file_id\":\"999999\"}"));
    ExpectError(404, client->Send("POST", "/v2/snapshots/",
                                  "{\"source_file_id\":\"18446744073709551615\"}"));
    for (const char* body : {"", "[]", "{\"name\":\"x\"}", "{\"source_file_id\":\"abc\"}",
                             "{\"source_file_id\":\"2\",\"name\":5}"}) {
        ExpectError(400, client->Send("POST", "/v2/snapshots/", body));
    }

    const Reply deleted = client->Send("DELETE", "/v2/snapshots/" + std::to_string(id));
    EXPECT_EQ(200, deleted.status);
    EXPECT_EQ("", deleted.body);
    ExpectError(404, client->Send("DELETE", "/v2/snapshots/" + std::to_string(id)));
    EXPECT_EQ(1u, client->Get("/v2/snapshots/").Json()["entries"].Size());
}

TEST_P(SimApiTest, ChangesAreWalkedPageByPageInPathOrder) {
    ASSERT_NO_FATAL_FAILURE(Start(Empty()));
    for (const char* file : {"/proj/keep.txt", "/proj/change.txt", "/proj/touched.txt",
                             "/proj/again.txt", "/proj/old/gone.txt", "/proj/same/s.txt"}) {
        sim->WriteFile(file, 10);
    }
    const uint64_t base = sim->TakeSnapshot("base", "/proj");
    sim->WriteFile("/proj/change.txt", 99);
    sim->WriteFile("/proj/touched.txt", 10);
    sim->Remove("/proj/again.txt");
    sim->WriteFile("/proj/again.txt", 10);
    sim->Remove("/proj/old");
    sim->WriteFile("/proj/new/f0", 1);
    sim->WriteFile("/proj/new/f1", 1);
    sim->WriteFile("/proj/a b#?.txt", 1);
    sim->WriteFile("/elsewhere/x", 1);
    const uint64_t target = sim->TakeSnapshot("target", "/proj");

    const std::string first = "/v2/snapshots/" + std::to_string(target) + "/changes-since/" +
                              std::to_string(base) + "?limit=2";
    std::vector<std::string> links;
    EXPECT_EQ(std::vector<std::string>({"CREATE /proj/a b#?.txt", "DELETE /proj/again.txt",
                                        "CREATE /proj/again.txt", "MODIFY /proj/change.txt",
                                        "CREATE /proj/new/", "CREATE /proj/new/f0",
                                        "CREATE /proj/new/f1", "DELETE /proj/old/",
                                        "DELETE /proj/old/gone.txt", "MODIFY /proj/touched.txt"}),
              Walk(first, "entries", OpAndPathOf, &links));
    EXPECT_EQ(5u, links.size());
    const std::string unlimited = first.substr(0, first.find('?')) + "?after=4&limit=" +
                                  std::to_string(std::numeric_limits<uint64_t>::max());
    EXPECT_EQ(6u, client->Get(unlimited).Json()["entries"].Size());
    EXPECT_EQ(0u, links[1].find("/v2/snapshots/" + std::to_string(target) + "/changes-since/" +
                                std::to_string(base) + "?"))
        << links[1];

    const uint64_t other = sim->TakeSnapshot("other", "/elsewhere");
    ExpectError(400, client->Get("/v2/snapshots/" + std::to_string(target) + "/changes-since/" +
                                 std::to_string(other)));
    ExpectError(404, client->Get("/v2/snapshots/" + std::to_string(target) + "/changes-since/999"));
    ExpectError(404, client->Get("/v2/snapshots/x/changes-since/" + std::to_string(base)));
}

TEST_P(SimApiTest, DemoSeedsSharesExportsAndSnapshotsOfHome) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const Reply shares = client->Get("/v1/smb/shares/");
    ASSERT_EQ(200, shares.status);
    ASSERT_TRUE(shares.Json().IsArray());
    EXPECT_EQ(3u, shares.Json().Size());
    EXPECT_NE(std::string::npos, shares.body.find("Donn\xC3\xA9"
                                                  "es"))
        << "UTF-8 sent unescaped";
    const auto share = client->Get("/v1/smb/shares/1").Json();
    EXPECT_EQ("1", Text(share["id"]));
    EXPECT_EQ("/home", Text(share["fs_path"]));
    EXPECT_TRUE(share["read_only"].IsBool());
    EXPECT_EQ("0644", Text(share["default_file_create_mode"]));

    const Reply exports = client->Get("/v2/nfs/exports/");
    ASSERT_TRUE(exports.Json().IsArray());
    EXPECT_EQ(3u, exports.Json().Size());
    EXPECT_NE(std::string::npos, exports.body.find("\xC3\x9C"
                                                   "bersicht"));
    EXPECT_EQ("/data", Text(client->Get("/v2/nfs/exports/2").Json()["export_path"]));

    const auto listing = client->Get("/v2/snapshots/").Json();
    const auto snapshots = listing["entries"].GetArray();
    ASSERT_EQ(2u, snapshots.Size());
    EXPECT_EQ(std::to_string(sim->FileId("/home")), Text(snapshots[0]["source_file_id"]));
    const std::string diff = "/v2/snapshots/" + std::to_string(snapshots[1]["id"].GetUint64()) +
                             "/changes-since/" + std::to_string(snapshots[0]["id"].GetUint64());
    EXPECT_FALSE(Walk(diff, "entries").empty());
}

TEST_P(SimApiTest, SeededBigDirectoryAndDiffArePaged) {
    Options options = Empty();
    options.seedFiles = 2500;
    options.seedDiff = 10;
    ASSERT_NO_FATAL_FAILURE(Start(options));
    std::vector<std::string> links;
    const auto big = Walk(EntriesTarget("%2Fbig"), "files", PathOf, &links);
    ASSERT_EQ(2500u, big.size());
    EXPECT_EQ(3u, links.size()) << "1000 entries a page by default";
    EXPECT_EQ("/big/f0000000", big.front());
    EXPECT_EQ("/big/f0002499", big.back());
    EXPECT_TRUE(std::is_sorted(big.begin(), big.end()));

    const auto listing = client->Get("/v2/snapshots/").Json();
    const auto snapshots = listing["entries"].GetArray();
    ASSERT_EQ(2u, snapshots.Size());
    EXPECT_EQ("diff-base", Text(snapshots[0]["name"]));
    EXPECT_EQ("diff-target", Text(snapshots[1]["name"]));
    const auto changes =
        client
            ->Get("/v2/snapshots/" + std::to_string(snapshots[1]["id"].GetUint64()) +
                  "/changes-since/" + std::to_string(snapshots[0]["id"].GetUint64()))
            .Json();
    std::map<std::string, int> counts;
    for (const auto& change : changes["entries"].GetArray()) ++counts[Text(change["op"])];
    EXPECT_EQ((std::map<std::string, int>{{"CREATE", 3}, {"DELETE", 4}, {"MODIFY", 3}}), counts);
}

TEST_P(SimApiTest, JournalKeepsEveryRequestWithHeadersInArrivalOrder) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string token = client->token;
    sim->ClearJournal();
    client->Send("POST", "/v2/snapshots/", "{\"source_file_id\":\"2\"}",
                 {"X-Zeta: 1", "X-Alpha: 2", "x-zeta: 3"});
    client->token.clear();
    client->Get("/v1/smb/shares/");
    const auto journal = sim->Journal();
    ASSERT_EQ(2u, journal.size());
    EXPECT_EQ("POST", journal[0].method);
    EXPECT_EQ("/v2/snapshots/", journal[0].target);
    EXPECT_EQ("{\"source_file_id\":\"2\"}", journal[0].body);
    std::vector<std::string> custom;
    for (const auto& [name, value] : journal[0].headers) {
        if (name[0] == 'X' || name[0] == 'x') custom.push_back(name + "=" + value);
    }
    EXPECT_EQ(std::vector<std::string>({"X-Zeta=1", "X-Alpha=2", "x-zeta=3"}), custom);
    EXPECT_EQ(2u, journal[0].HeaderCount("X-ZETA"));
    EXPECT_EQ("1", journal[0].Header("x-zeta"));
    EXPECT_EQ("Bearer " + token, journal[0].Header("authorization"));
    EXPECT_EQ(0u, journal[0].HeaderCount("REMOTE_ADDR")) << "only what the client sent";
    EXPECT_EQ(0u, journal[1].HeaderCount("Authorization"));
    sim->ClearJournal();
    EXPECT_TRUE(sim->Journal().empty());
}

TEST_P(SimApiTest, BodiesOfAnyMethodAreReadSoTheNextRequestIsIntact) {
    ASSERT_NO_FATAL_FAILURE(Start());
    sim->ClearJournal();
    ExpectError(404, client->Send("GET", "/v9/unknown", "{}"));
    const Reply next = client->Send("POST", "/v2/snapshots/", "{}");
    ExpectError(400, next);
    EXPECT_EQ(0, next.newConnections);
    const auto journal = sim->Journal();
    ASSERT_EQ(2u, journal.size());
    EXPECT_EQ("GET", journal[0].method);
    EXPECT_EQ("{}", journal[0].body);
    EXPECT_EQ("/v2/snapshots/", journal[1].target);
}

TEST_P(SimApiTest, ManyRequestsShareOneConnection) {
    ASSERT_NO_FATAL_FAILURE(Start());
    long connections = 0;
    for (int i = 0; i < 50; ++i) {
        const Reply reply = client->Get(i % 2 ? "/v2/snapshots/" : "/v9/missing");
        EXPECT_EQ(i % 2 ? 200 : 404, reply.status);
        connections += reply.newConnections;
    }
    EXPECT_EQ(0, connections) << "the login's connection serves them all";
}

TEST(SimTls, CertificateIsCheckedAndItsFilesGoAtStop) {
    Simulator sim;
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string ca = sim.CaFile();
    ASSERT_EQ(0, access(ca.c_str(), R_OK));
    EXPECT_EQ(0u, sim.BaseUrl().find("https://127.0.0.1:"));

    CURL* curl = curl_easy_init();
    const std::string byName = "https://localhost:" + std::to_string(sim.Port()) + "/v2/snapshots/";
    curl_easy_setopt(curl, CURLOPT_URL, byName.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, "/dev/null");
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    EXPECT_NE(CURLE_OK, curl_easy_perform(curl)) << "an untrusted certificate is refused";
    curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str());
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION,
        +[](char*, size_t size, size_t count, void*) { return size * count; });
    EXPECT_EQ(CURLE_OK, curl_easy_perform(curl)) << "trusted, and valid for localhost";
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    EXPECT_EQ(401, status);
    curl_easy_cleanup(curl);

    sim.Stop();
    EXPECT_NE(0, access(ca.c_str(), F_OK));
    EXPECT_EQ("", sim.CaFile());
}

TEST(SimTls, GivenCertificateIsServedAndLeftInPlace) {
    Simulator maker;
    std::string error;
    ASSERT_TRUE(maker.Start(&error)) << error;
    const std::string made = maker.CaFile();
    const std::filesystem::path directory = ::testing::TempDir() + "sim-given-cert";
    std::filesystem::create_directories(directory);
    std::filesystem::copy_file(made, directory / "cert.pem",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(std::filesystem::path(made).parent_path() / "key.pem",
                               directory / "key.pem",
                               std::filesystem::copy_options::overwrite_existing);
    maker.Stop();

    Options options;
    options.certFile = directory / "cert.pem";
    options.keyFile = directory / "key.pem";
    {
        Simulator sim(options);
        ASSERT_TRUE(sim.Start(&error)) << error;
        EXPECT_EQ(options.certFile, sim.CaFile());
        Client client(sim);
        EXPECT_FALSE(client.LogIn().empty());
    }
    EXPECT_EQ(0, access(options.certFile.c_str(), R_OK)) << "not the simulator's to remove";

    options.keyFile = options.certFile;
    Simulator mismatched(options);
    EXPECT_FALSE(mismatched.Start(&error));
    EXPECT_FALSE(error.empty());
    options.keyFile.clear();
    Simulator halfGiven(options);
    EXPECT_FALSE(halfGiven.Start(&error));
    std::filesystem::remove_all(directory);
}

}  // namespace
