// clusterctl, run as a child process, against a hostile cluster on loopback: names and error
// replies full of terminal escapes and bytes that are not UTF-8, directories that contain
// themselves, and the handling of the password on the way there.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/stringbuffer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "HostileServer.h"

namespace {

using child::Outcome;
using child::Strings;
using namespace std::string_literals;

constexpr const char* kPassword = "hostile-pa55";
constexpr const char* kLoginPath = "/v1/session/login";

// What the cluster answers besides the login, by request.
using Replies = std::function<std::string(const hostile::Request&)>;

class HostileCluster {
  public:
    explicit HostileCluster(Replies replies)
        : m_server([replies](const hostile::Request& request, hostile::Connection& connection) {
              connection.Send(request.target == kLoginPath ? hostile::LoginAnswer("\"t0ken\"")
                                                           : replies(request));
          }) {}

    std::string Url() const { return m_server.BaseUrl(); }
    size_t RequestsFor(const std::string& prefix) const {
        size_t count = 0;
        for (const hostile::Request& request : m_server.Requests()) {
            count += request.target.rfind(prefix, 0) == 0;
        }
        return count;
    }

  private:
    hostile::Server m_server;
};

Outcome RunCtl(const std::string& url, const Strings& args, const child::Options& options = {},
               const Strings& environment = {std::string("CLUSTER_PASSWORD=") + kPassword}) {
    Strings all{"--url", url};
    all.insert(all.end(), args.begin(), args.end());
    Outcome run = child::Run(CLUSTERCTL_PATH, all, environment, options);
    EXPECT_FALSE(run.timedOut) << "clusterctl did not finish";
    EXPECT_EQ(run.signal, 0) << "clusterctl died of a signal\n" << run.err;
    return run;
}

std::string Json(int status, const std::string& body) {
    return hostile::Answer(status, body, "Content-Type: application/json\r\n");
}

// One directory entry; `pathJson` goes into the JSON string as it is, escapes and raw bytes
// alike.
std::string EntryJson(const std::string& pathJson, uint64_t id, bool directory) {
    return "{\"path\":\"" + pathJson + "\",\"type\":\"" +
           (directory ? "FS_FILE_TYPE_DIRECTORY" : "FS_FILE_TYPE_FILE") + "\",\"id\":\"" +
           std::to_string(id) +
           "\",\"mode\":\"0644\",\"owner\":\"500\",\"group\":\"500\",\"size\":\"10\","
           "\"change_time\":\"2026-01-02T03:04:05Z\",\"modification_time\":"
           "\"2026-01-02T03:04:05Z\",\"creation_time\":\"2026-01-02T03:04:05Z\"}";
}

std::string ListingJson(const Strings& entries) {
    std::string files;
    for (const std::string& entry : entries) files += (files.empty() ? "" : ",") + entry;
    return "{\"files\":[" + files + "],\"paging\":{\"next\":\"\"}}";
}

std::string SnapshotJson(const std::string& nameJson, uint64_t id) {
    return "{\"id\":" + std::to_string(id) + ",\"name\":\"" + nameJson +
           "\",\"timestamp\":\"2026-01-02T03:04:05Z\",\"source_file_id\":\"2\","
           "\"created_by_policy\":false,\"expiration\":\"\",\"directory_name\":\"d\","
           "\"in_delete\":false}";
}

bool IsStartOf(const std::string& text, const std::string& target) {
    return target.rfind(text, 0) == 0;
}

Strings Lines(const std::string& text) {
    Strings lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

constexpr const char* kHttpWarning = "warning: the URL is plain http";

// The lines of stderr but the warning every plain-http run starts with.
Strings ErrorLines(const std::string& err) {
    Strings lines = Lines(err);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) {
                                   return line.find(kHttpWarning) != std::string::npos;
                               }),
                lines.end());
    return lines;
}

bool IsUtf8(const std::string& text) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::StringBuffer sink;
    while (stream.Tell() < text.size()) {
        if (!rapidjson::UTF8<>::Validate(stream, sink)) return false;
    }
    return true;
}

// What no text output may hold: C0 controls but the line end, DEL, and, once the text is
// known to be UTF-8, the C1 controls and the invisible direction marks.
void ExpectSafeForTerminal(const std::string& text, const std::string& what) {
    SCOPED_TRACE(what);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        EXPECT_FALSE((byte < 0x20 && byte != '\n') || byte == 0x7F)
            << "control byte " << static_cast<int>(byte) << " in:\n"
            << text;
    }
    ASSERT_TRUE(IsUtf8(text)) << text;
    const Strings forbidden = {"\xC2\x80",     "\xC2\x85",     "\xC2\x9B",     "\xC2\x9F",
                               "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA", "\xE2\x80\xAE",
                               "\xE2\x81\xA6", "\xE2\x81\xA9", "\xD8\x9C"};
    for (const std::string& sequence : forbidden) {
        EXPECT_EQ(text.find(sequence), std::string::npos) << "invisible control in:\n" << text;
    }
}

// The names of a hostile directory, as JSON text, and how a terminal must show each.
struct HostileName {
    std::string json;
    std::string shown;
};

const std::vector<HostileName>& HostileNames() {
    static const std::vector<HostileName> names = {
        {"/d/\\u001b[2J\\u001b]0;pwned\\u0007title", "/d/\\e[2J\\e]0;pwned\\atitle"},
        {"/d/forged\\n-rw  1  fake row\\r", "/d/forged\\n-rw  1  fake row\\r"},
        {"/d/c1\\u0085\\u009b31m", "/d/c1\\u0085\\u009b31m"},
        {"/d/raw\x85\x9b\xff", "/d/raw\\205\\233\\377"},
        {"/d/del\\u007f nul\\u0000 bs\\\\", "/d/del\\177 nul\\000 bs\\\\"},
        {"/d/bidi\\u202egnp.exe\\u2066\\u2069\\u200e\\u200f\\u061c",
         "/d/bidi\\u202egnp.exe\\u2066\\u2069\\u200e\\u200f\\u061c"},
        {"/d/caf\xC3\xA9", "/d/caf\xC3\xA9"},
    };
    return names;
}

std::string HostileDirectoryListing() {
    Strings entries;
    uint64_t id = 100;
    for (const HostileName& name : HostileNames())
        entries.push_back(EntryJson(name.json, ++id, false));
    return ListingJson(entries);
}

// ---------------------------------------------------------------------------------------
// Escape: nothing the cluster sends reaches a terminal raw.

TEST(HostileCliEscape, ListingAndStatShowEveryNameEscapedOnItsOwnRow) {
    HostileCluster cluster([](const hostile::Request& request) {
        if (IsStartOf("/v1/files/%2Fd/entries/", request.target)) {
            return Json(200, HostileDirectoryListing());
        }
        return Json(200, EntryJson(HostileNames().front().json, 7, false));
    });
    const Outcome plain = RunCtl(cluster.Url(), {"ls", "/d"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    ExpectSafeForTerminal(plain.out, "ls");
    Strings expected;
    for (const HostileName& name : HostileNames()) expected.push_back(name.shown);
    EXPECT_EQ(Lines(plain.out), expected);

    const Outcome long_ = RunCtl(cluster.Url(), {"ls", "-l", "/d"});
    ASSERT_EQ(long_.status, 0) << long_.err;
    ExpectSafeForTerminal(long_.out, "ls -l");
    EXPECT_EQ(Lines(long_.out).size(), HostileNames().size() + 1) << "a row was forged";

    const Outcome stat = RunCtl(cluster.Url(), {"stat", "/d/x"});
    ASSERT_EQ(stat.status, 0) << stat.err;
    ExpectSafeForTerminal(stat.out, "stat");
    EXPECT_NE(stat.out.find(" " + HostileNames().front().shown + "\n"), std::string::npos)
        << stat.out;
}

TEST(HostileCliEscape, ErrorLineAndVerboseLogAreEscaped) {
    // The description reaches the error line; the raw reply only the verbose message.
    const std::string reply =
        "{\"description\":\"\\u001b]0;owned\\u0007\\u001b[2J \xe2\x80\xae \\u009b\\n"
        "clusterctl: error 0: forged\", \"raw\":\"\x9b\xff\"}";
    HostileCluster cluster([&reply](const hostile::Request&) { return Json(500, reply); });
    const Outcome quiet = RunCtl(cluster.Url(), {"ls", "/d"});
    EXPECT_EQ(quiet.status, 1);
    ExpectSafeForTerminal(quiet.err, "error line");
    EXPECT_EQ(ErrorLines(quiet.err).size(), 1u) << quiet.err;
    EXPECT_NE(quiet.err.find("\\e]0;owned\\a\\e[2J"), std::string::npos) << quiet.err;

    const Outcome verbose = RunCtl(cluster.Url(), {"-v", "ls", "/d"});
    EXPECT_EQ(verbose.status, 1);
    ExpectSafeForTerminal(verbose.err, "verbose log and trail");
    EXPECT_NE(verbose.err.find("\n  at "), std::string::npos) << verbose.err;
    EXPECT_NE(verbose.err.find("\\233\\377"), std::string::npos) << verbose.err;
    EXPECT_EQ(verbose.err.find("\nclusterctl: error 0: forged"), std::string::npos) << verbose.err;
}

TEST(HostileCliEscape, ColumnsAreAsWideAsTheEscapedText) {
    HostileCluster cluster([](const hostile::Request&) {
        return Json(200, "{\"entries\":[" + SnapshotJson("a\\u001bb", 1) + "," +
                             SnapshotJson("caf\xC3\xA9\xC3\xA9", 2) + "," +
                             SnapshotJson("\\t\\u202e", 3) + "]}");
    });
    const Outcome run = RunCtl(cluster.Url(), {"snapshots", "list"});
    ASSERT_EQ(run.status, 0) << run.err;
    ExpectSafeForTerminal(run.out, "snapshots list");
    const Strings lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    // Every row's timestamp starts in the same column, counted in characters.
    std::vector<size_t> columns;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const size_t at = line.find("2026-01-02T");
        ASSERT_NE(at, std::string::npos) << line;
        size_t characters = 0;
        for (size_t j = 0; j < at; ++j) characters += (line[j] & 0xC0) != 0x80;
        columns.push_back(characters);
    }
    EXPECT_EQ(columns, std::vector<size_t>(columns.size(), columns.front())) << run.out;
    EXPECT_NE(run.out.find("\\t\\u202e"), std::string::npos) << run.out;
}

// ---------------------------------------------------------------------------------------
// JSON: always valid UTF-8, with the exact bytes alongside when the cluster's were not.

rapidjson::Document ParseStrictly(const std::string& line) {
    rapidjson::Document document;
    document.Parse<rapidjson::kParseValidateEncodingFlag>(line.c_str(), line.size());
    EXPECT_FALSE(document.HasParseError()) << "not valid UTF-8 JSON: " << line;
    return document;
}

std::string Member(const rapidjson::Value& object, const char* key) {
    if (!object.IsObject() || !object.HasMember(key) || !object[key].IsString()) return "<none>";
    return std::string(object[key].GetString(), object[key].GetStringLength());
}

TEST(HostileCliJson, BadUtf8IsReplacedAndKeptExactlyInBase64) {
    const std::string listing =
        ListingJson({EntryJson("/d/\xff\xfe", 1, false), EntryJson("/d/cut\xe2\x82x", 2, false),
                     EntryJson("/d/esc\\u001b\\u0000ok\xC3\xA9", 3, false)});
    HostileCluster cluster([&listing](const hostile::Request& request) {
        if (IsStartOf("/v1/files/%2Fd/entries/", request.target)) return Json(200, listing);
        return Json(200, EntryJson("/d/\xff\xfe", 1, false));
    });
    const Outcome run = RunCtl(cluster.Url(), {"ls", "/d", "-o", "jsonl"});
    ASSERT_EQ(run.status, 0) << run.err;
    const Strings lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    const rapidjson::Document bad = ParseStrictly(lines[0]);
    EXPECT_EQ(Member(bad, "path"), "/d/\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(Member(bad, "path_base64"), "L2Qv//4=");
    // A sequence cut short is one bad sequence, and the byte after it stays.
    const rapidjson::Document cut = ParseStrictly(lines[1]);
    EXPECT_EQ(Member(cut, "path"), "/d/cut\xEF\xBF\xBDx");
    EXPECT_EQ(Member(cut, "path_base64"), "L2QvY3V04oJ4");
    // Valid text stays exact, controls and all, with no sibling.
    const rapidjson::Document good = ParseStrictly(lines[2]);
    EXPECT_EQ(Member(good, "path"), "/d/esc\x1b\0ok\xC3\xA9"s);
    EXPECT_FALSE(good.HasMember("path_base64"));

    const Outcome stat = RunCtl(cluster.Url(), {"stat", "/d/x", "--json"});
    ASSERT_EQ(stat.status, 0) << stat.err;
    EXPECT_EQ(Member(ParseStrictly(stat.out), "path_base64"), "L2Qv//4=");
}

TEST(HostileCliJson, Print0WritesRawPathsEachEndedByNul) {
    const std::string changes =
        "{\"entries\":[{\"op\":\"CREATE\",\"path\":\"/d/new\\nline\"},{\"op\":\"DELETE\","
        "\"path\":\"/d/\xff\xfe\"}],\"paging\":{\"next\":\"\"}}";
    HostileCluster cluster([&changes](const hostile::Request& request) {
        if (IsStartOf("/v2/snapshots/", request.target)) return Json(200, changes);
        return Json(200, HostileDirectoryListing());
    });
    const Outcome listed = RunCtl(cluster.Url(), {"ls", "-0", "/d"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::string expected = "/d/\x1b[2J\x1b]0;pwned\atitle\0/d/forged\n-rw  1  fake row\r\0"s;
    EXPECT_EQ(listed.out.substr(0, expected.size()), expected);
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\0'),
              static_cast<long>(HostileNames().size()) + 1)  // one name holds a NUL itself
        << listed.out;
    EXPECT_EQ(listed.out.back(), '\0');

    const Outcome diff = RunCtl(cluster.Url(), {"snapshots", "diff", "1", "2", "--print0"});
    ASSERT_EQ(diff.status, 0) << diff.err;
    EXPECT_EQ(diff.out, "/d/new\nline\0/d/\xff\xfe\0"s);

    const Outcome both = RunCtl(cluster.Url(), {"ls", "-0", "/d", "--json"});
    EXPECT_EQ(both.status, 2) << both.err;
    EXPECT_TRUE(both.out.empty());
}

// ---------------------------------------------------------------------------------------
// Walk: ls -R keeps no call stack per level and enters no loop.

constexpr size_t kSmallStack = 512 * 1024;

TEST(HostileCliWalk, LoopsAreReportedOnceAndTheWalkGoesOn) {
    // /loop (id 7) names itself; /loop/sub/ (id 8) names /loop again, under an escaped name.
    HostileCluster cluster([](const hostile::Request& request) {
        if (request.target == "/v1/files/%2Floop/info/attributes") {
            return Json(200, EntryJson("/loop", 7, true));
        }
        if (IsStartOf("/v1/files/%2Floop/entries/", request.target)) {
            return Json(200,
                        ListingJson({EntryJson("/loop/", 7, true), EntryJson("/loop/sub/", 8, true),
                                     EntryJson("/loop/file", 9, false)}));
        }
        if (IsStartOf("/v1/files/%2Floop%2Fsub%2F/entries/", request.target)) {
            return Json(200, ListingJson({EntryJson("/loop/sub/up\\u001b[2J/", 7, true),
                                          EntryJson("/loop/sub/leaf", 10, false)}));
        }
        return Json(404, "{}");
    });
    child::Options smallStack;
    smallStack.stackBytes = kSmallStack;
    const Outcome run = RunCtl(cluster.Url(), {"ls", "-R", "/loop"}, smallStack);
    EXPECT_EQ(run.status, 1) << run.err;
    // The walk's order is not defined.
    Strings lines = Lines(run.out);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (Strings{"/loop/", "/loop/file", "/loop/sub/", "/loop/sub/leaf",
                              "/loop/sub/up\\e[2J/"}));
    ExpectSafeForTerminal(run.err, "loop report");
    const Strings errors = ErrorLines(run.err);
    ASSERT_EQ(errors.size(), 4u) << run.err;
    EXPECT_EQ(errors[0],
              "clusterctl: file system loop: /loop/ has the file id 7 of a directory above it; "
              "not entered");
    EXPECT_NE(errors[1].find("/loop/sub/up\\e[2J/ has the file id 7"), std::string::npos);
    EXPECT_NE(errors[2].find("walked 2 directories, 5 entries"), std::string::npos) << errors[2];
    EXPECT_EQ(errors[3], "clusterctl: the walk met 2 file system loop(s) and did not enter them");
    EXPECT_EQ(cluster.RequestsFor("/v1/files/%2Floop/entries/"), 1u);
}

TEST(HostileCliWalk, DeepTreeIsWalkedOnASmallStack) {
    // Each level names one subdirectory with a new id, until kDepth: recursing one frame per
    // level overflowed a 512 KiB stack after some 700 levels.
    constexpr int kDepth = 1500;
    HostileCluster cluster([](const hostile::Request& request) {
        if (request.target == "/v1/files/%2Fn0/info/attributes") {
            return Json(200, EntryJson("/n0", 1000, true));
        }
        std::smatch level;
        static const std::regex kLevel("^/v1/files/%2Fn(\\d+)(%2F)?/entries/");
        if (!std::regex_search(request.target, level, kLevel)) return Json(404, "{}");
        const int depth = std::stoi(level[1]);
        if (depth >= kDepth) return Json(200, ListingJson({EntryJson("/leaf", 1, false)}));
        const std::string next = "/n" + std::to_string(depth + 1) + "/";
        return Json(200, ListingJson({EntryJson(next, 1001 + depth, true)}));
    });
    child::Options smallStack;
    smallStack.stackBytes = kSmallStack;
    smallStack.runLimit = std::chrono::seconds(100);
    const Outcome run = RunCtl(cluster.Url(), {"ls", "-R", "/n0"}, smallStack);
    EXPECT_EQ(run.status, 0) << run.err;
    const Strings lines = Lines(run.out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kDepth) + 1);
    EXPECT_EQ(lines.back(), "/leaf");
}

// ---------------------------------------------------------------------------------------
// Credentials: said aloud when at risk, never left in a core file.

class HostileCliCredentials : public ::testing::Test {
  protected:
    HostileCliCredentials()
        : m_cluster([](const hostile::Request&) { return Json(200, "{\"entries\":[]}"); }) {}

    std::string WritePasswordFile(const std::string& content, mode_t mode) {
        // One file per call: ctest runs the cases as parallel processes.
        std::string path = ::testing::TempDir() + "hostile_cli_password_XXXXXX";
        const int descriptor = mkstemp(&path[0]);
        if (descriptor < 0) return path;
        close(descriptor);
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        m_files.push_back(path);
        return path;
    }
    ~HostileCliCredentials() override {
        for (const std::string& file : m_files) std::remove(file.c_str());
    }

    HostileCluster m_cluster;
    Strings m_files;
};

constexpr const char* kFileWarning = "is readable by group or others";

TEST_F(HostileCliCredentials, PlainHttpWarnsWhateverTheSchemeCase) {
    const Outcome lower = RunCtl(m_cluster.Url(), {"login"});
    EXPECT_EQ(lower.status, 0) << lower.err;
    EXPECT_NE(lower.err.find(kHttpWarning), std::string::npos) << lower.err;
    const std::string upper = "HTTP" + m_cluster.Url().substr(4);
    const Outcome shouted = RunCtl(upper, {"snapshots", "list"});
    EXPECT_EQ(shouted.status, 0) << shouted.err;
    EXPECT_NE(shouted.err.find(kHttpWarning), std::string::npos) << shouted.err;
}

TEST_F(HostileCliCredentials, PasswordFileOpenToOthersWarnsAndIsStillUsed) {
    const Outcome open = RunCtl(
        m_cluster.Url(), {"--password-file", WritePasswordFile("s3cret\n", 0644), "login"}, {}, {});
    EXPECT_EQ(open.status, 0) << open.err;
    EXPECT_NE(open.err.find(kFileWarning), std::string::npos) << open.err;
    const Outcome closed = RunCtl(
        m_cluster.Url(), {"--password-file", WritePasswordFile("s3cret\n", 0600), "login"}, {}, {});
    EXPECT_EQ(closed.status, 0) << closed.err;
    EXPECT_EQ(closed.err.find(kFileWarning), std::string::npos) << closed.err;
}

TEST_F(HostileCliCredentials, EmptyPasswordFileIsAUsageError) {
    for (const std::string content : {"", "\n", "\r\n"}) {
        const Outcome run =
            RunCtl(m_cluster.Url(), {"--password-file", WritePasswordFile(content, 0600), "login"},
                   {}, {});
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(content) << run.err;
        EXPECT_NE(run.err.find("holds no password"), std::string::npos) << run.err;
    }
    EXPECT_EQ(m_cluster.RequestsFor(kLoginPath), 0u) << "an empty password was sent";
}

TEST(HostileCliCoreDumps, AreTurnedOffBeforeTheLogin) {
    std::atomic<pid_t> pid{0};
    std::mutex mutex;
    std::string coreLimit = "<login never came>";
    hostile::Server server([&](const hostile::Request& request, hostile::Connection& connection) {
        if (request.target == kLoginPath) {
            std::ifstream limits("/proc/" + std::to_string(pid.load()) + "/limits");
            std::string line;
            while (std::getline(limits, line) && line.rfind("Max core file size", 0) != 0) {
            }
            std::lock_guard<std::mutex> lock(mutex);
            coreLimit = line;
        }
        connection.Send(hostile::LoginAnswer("\"t0ken\""));
    });
    child::Options options;
    options.onStart = [&pid](pid_t started) { pid = started; };
    // The child needs a moment to start before it logs in; the pid is set by then.
    const Outcome run = RunCtl(server.BaseUrl(), {"login"}, options);
    EXPECT_EQ(run.status, 0) << run.err;
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_TRUE(std::regex_match(coreLimit, std::regex(R"(Max core file size +0 +0 +bytes *)")))
        << coreLimit;
}

}  // namespace
