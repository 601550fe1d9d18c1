// The simulated cluster kept in a state folder: what a restart brings back, one run at a time,
// and a saved state that cannot be read is never seeded over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>

#include "ChildProcess.h"
#include "sim_client.h"

namespace {

using clustersim::Options;
using clustersim::Simulator;
using simtest::Client;
using simtest::Reply;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string SnapshotBody(const std::string& name, uint64_t sourceId) {
    return "{\"name\":\"" + name + "\",\"source_file_id\":\"" + std::to_string(sourceId) + "\"}";
}

uint64_t IdOf(const Reply& reply) {
    const auto json = reply.Json();
    return json.IsObject() && json["id"].IsUint64() ? json["id"].GetUint64() : 0;
}

class SimStateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char path[] = "/tmp/sim-state-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(path));
        m_temporary = path;
        m_dir = m_temporary + "/nested/cluster";  // parents are made too
    }
    void TearDown() override { std::filesystem::remove_all(m_temporary); }

    Options InFolder() const {
        Options options;
        options.tls = false;
        options.stateDir = m_dir;
        options.lockWaitSeconds = 1;
        return options;
    }
    static std::unique_ptr<Simulator> Started(const Options& options) {
        auto sim = std::make_unique<Simulator>(options);
        std::string error;
        EXPECT_TRUE(sim->Start(&error)) << error;
        return sim;
    }
    std::string StatePath() const { return m_dir + "/state"; }

    std::string m_temporary;
    std::string m_dir;
};

TEST_F(SimStateTest, RestartBringsBackEverythingAndNoIdComesBack) {
    std::map<std::string, std::string> seen;  // target -> body before the restart
    uint64_t lastSnapshot = 0;
    uint64_t lastFile = 0;
    {
        const auto sim = Started(InFolder());
        struct stat info {};
        ASSERT_EQ(0, stat(m_dir.c_str(), &info));
        EXPECT_EQ(0700u, info.st_mode & 0777);
        Client client(*sim);
        ASSERT_FALSE(client.LogIn().empty());
        const uint64_t project = sim->MakeDirectory("/proj");
        sim->WriteFile("/proj/a", 1);
        const uint64_t before =
            IdOf(client.Send("POST", "/v2/snapshots/", SnapshotBody("before", project)));
        ASSERT_NE(0u, before);
        sim->WriteFile("/proj/b", 2);
        sim->Remove("/proj/a");
        const uint64_t after = sim->TakeSnapshot("after", "/proj");
        // The newest snapshot and file go again, so only saved counters keep their ids unused.
        lastSnapshot = sim->TakeSnapshot("doomed", "/proj");
        EXPECT_EQ(200,
                  client.Send("DELETE", "/v2/snapshots/" + std::to_string(lastSnapshot)).status);
        lastFile = sim->WriteFile("/proj/gone", 3);
        sim->Remove("/proj/gone");
        sim->AddSmbShare("proj", "/proj", "Projekt");
        sim->AddNfsExport("/proj", "/proj", "Projekt");
        for (const std::string& target : std::vector<std::string>{
                 "/v2/snapshots/", "/v1/smb/shares/", "/v2/nfs/exports/",
                 "/v1/files/%2Fproj/entries/",
                 "/v1/files/%2Fproj/entries/?snapshot=" + std::to_string(before),
                 "/v2/snapshots/" + std::to_string(after) + "/changes-since/" +
                     std::to_string(before)}) {
            const Reply reply = client.Get(target);
            EXPECT_EQ(200, reply.status) << target << ": " << reply.body;
            seen[target] = reply.body;
        }
    }

    Options options = InFolder();
    options.seedDemo = false;
    options.seedFiles = 2;
    const auto sim = Started(options);
    Client client(*sim);
    ASSERT_FALSE(client.LogIn().empty());
    for (const auto& [target, body] : seen) EXPECT_EQ(body, client.Get(target).body) << target;
    EXPECT_EQ(404, client.Get("/v1/files/%2Fbig/entries/").status)
        << "a loaded cluster is not seeded";

    const Reply fresh =
        client.Send("POST", "/v2/snapshots/", SnapshotBody("fresh", sim->FileId("/proj")));
    EXPECT_EQ(lastSnapshot + 1, IdOf(fresh)) << fresh.body;
    EXPECT_EQ(lastFile + 1, sim->WriteFile("/proj/new", 1));
    EXPECT_EQ(5u, sim->AddSmbShare("more", "/proj", "")) << "the demo's three, then proj";
}

TEST_F(SimStateTest, NamesOfAnyBytesComeBackAsTheyWere) {
    const std::vector<std::string> names = {std::string("nul\0inside", 10),
                                            "\xff\xfe",
                                            "\x80 lone",
                                            "line\nbreak",
                                            "ctl\x01\x7f",
                                            "caf\xc3\xa9",
                                            "\\u00e9",
                                            std::string(300, 'n')};
    std::map<std::string, uint64_t> ids;
    {
        const auto sim = Started(InFolder());
        for (const std::string& name : names) ids[name] = sim->WriteFile("/odd/" + name, 7);
        EXPECT_NE(0u, sim->TakeSnapshot("odd", "/odd"));
    }
    const auto sim = Started(InFolder());
    for (const auto& [name, id] : ids) {
        EXPECT_NE(0u, id);
        EXPECT_EQ(id, sim->FileId("/odd/" + name)) << ::testing::PrintToString(name);
    }
}

TEST_F(SimStateTest, NodesSharedBySnapshotsAreWrittenOnce) {
    Options options = InFolder();
    options.seedDemo = false;
    options.seedFiles = 2000;
    const auto sim = Started(options);
    const auto oneCopy = std::filesystem::file_size(StatePath());
    for (int i = 0; i < 20; ++i) {
        sim->WriteFile("/small/f", static_cast<uint64_t>(i));
        ASSERT_NE(0u, sim->TakeSnapshot("s" + std::to_string(i), "/"));
    }
    EXPECT_LT(std::filesystem::file_size(StatePath()), oneCopy * 3 / 2);
}

TEST_F(SimStateTest, OneRunAtATimeAndAWaitingOneGetsTheFolderWhenItEnds) {
    auto first = Started(InFolder());
    Simulator second(InFolder());
    std::string error;
    EXPECT_FALSE(second.Start(&error));
    EXPECT_NE(std::string::npos, error.find("state folder " + m_dir + " is in use")) << error;
    EXPECT_NE(std::string::npos, error.find("(process " + std::to_string(getpid()) + ")")) << error;

    Options patient = InFolder();
    patient.lockWaitSeconds = 30;
    Simulator third(patient);
    auto started = std::async(std::launch::async, [&third] {
        std::string why;
        return third.Start(&why);
    });
    EXPECT_EQ(std::future_status::timeout, started.wait_for(std::chrono::milliseconds(300)))
        << "the third run waits while the first holds the folder";
    first->Stop();
    EXPECT_TRUE(started.get());
    third.Stop();
    EXPECT_TRUE(second.Start(&error)) << error;
}

TEST_F(SimStateTest, UnreadableStateFailsTheStartAndIsLeftAsItWas) {
    Started(InFolder()).reset();
    const std::string saved = ReadAll(StatePath());
    ASSERT_GT(saved.size(), 30u);
    std::string newerVersion = saved;
    newerVersion[18] = 99;  // the version follows the 18-byte header
    std::string error;
    for (const std::string& bytes : {std::string("not a state"), saved.substr(0, saved.size() - 5),
                                     saved + "x", newerVersion}) {
        WriteAll(StatePath(), bytes);
        Simulator sim(InFolder());
        EXPECT_FALSE(sim.Start(&error));
        EXPECT_NE(std::string::npos, error.find("saved state " + StatePath())) << error;
        EXPECT_NE(std::string::npos, error.find("deleting the folder " + m_dir)) << error;
        EXPECT_EQ(bytes, ReadAll(StatePath()));
    }
    EXPECT_NE(std::string::npos, error.find("version 99")) << error;

    const child::Outcome run = child::Run(CLUSTER_SIM_PATH, {"--no-tls", "--state-dir", m_dir}, {});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("saved state " + StatePath())) << run.err;
    EXPECT_EQ(newerVersion, ReadAll(StatePath()));
}

TEST_F(SimStateTest, DeletingTheFolderStartsOverWithTheSeed) {
    {
        const auto sim = Started(InFolder());
        EXPECT_TRUE(std::filesystem::exists(StatePath())) << "a new cluster is saved at once";
        EXPECT_NE(0u, sim->TakeSnapshot("extra", "/home"));
        EXPECT_NE(0u, sim->WriteFile("/home/extra", 1));
        sim->Stop();
        EXPECT_EQ(0u, sim->WriteFile("/home/lost", 1)) << "no edit the next run would not see";
    }
    std::filesystem::remove_all(m_dir);
    const auto sim = Started(InFolder());
    Client client(*sim);
    ASSERT_FALSE(client.LogIn().empty());
    const auto snapshots = client.Get("/v2/snapshots/").Json();
    ASSERT_TRUE(snapshots.IsObject());
    ASSERT_EQ(2u, snapshots["entries"].Size());
    EXPECT_EQ(1u, snapshots["entries"][0]["id"].GetUint64());
    EXPECT_EQ(0u, sim->FileId("/home/extra"));
}

TEST_F(SimStateTest, AChangeThatCannotBeSavedIsAnErrorNotASuccess) {
    const auto sim = Started(InFolder());
    Client client(*sim);
    ASSERT_FALSE(client.LogIn().empty());
    const std::string blocker = m_dir + "/state.tmp";
    ASSERT_EQ(0, mkdir(blocker.c_str(), 0700));  // refuses even root, unlike permissions
    const Reply refused =
        client.Send("POST", "/v2/snapshots/", SnapshotBody("x", sim->FileId("/home")));
    EXPECT_EQ(500, refused.status);
    EXPECT_NE(std::string::npos, refused.Description().find(blocker)) << refused.body;
    EXPECT_EQ(0u, sim->WriteFile("/home/y", 1));
    EXPECT_EQ(200, client.Get("/v2/snapshots/").status) << "reads do not save";

    ASSERT_EQ(0, rmdir(blocker.c_str()));
    EXPECT_EQ(
        201, client.Send("POST", "/v2/snapshots/", SnapshotBody("y", sim->FileId("/home"))).status);
}

}  // namespace
