// No exception leaves the library: an allocation failure anywhere in an operation comes back
// as error 774 from that operation.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <list>
#include <new>
#include <string>

#include "Cluster/ClusterConnection.h"
#include "Cluster/ClusterParser.h"
#include "Cluster/ClusterSnapshotQueries.h"
#include "tests/scripted/ScriptedTNLibCurl.h"
#include "tests/support/FailingAllocation.h"

namespace {

using failing_allocation::FailAbove;

std::string SnapshotListing(size_t count) {
    std::string reply = R"({"entries":[)";
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) reply += ',';
        reply += R"({"id":)" + std::to_string(i) +
                 R"(,"name":"nightly","timestamp":"2021-03-04T05:06:07Z","expiration":"",)"
                 R"("in_delete":false,"source_file_id":"2","created_by_policy":false,)"
                 R"("directory_name":"nightly"})";
    }
    return reply + "]}";
}

// Valgrind puts its own operator new in place of the test's, so nothing can be made to fail.
bool AllocationsCanBeMadeToFail() {
    const FailAbove failing(16);
    // Through a volatile pointer, so the compiler cannot leave the allocation out.
    void* (*volatile allocate)(size_t) = &::operator new;
    try {
        ::operator delete(allocate(1024));
    } catch (const std::bad_alloc&) {
        return true;
    }
    return false;
}

class LibraryBoundary : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!AllocationsCanBeMadeToFail()) GTEST_SKIP() << "operator new is not the test's";
    }
};

TEST_F(LibraryBoundary, AListingReadsWholeWhenNothingFails) {
    Cluster::CParser parser;
    std::list<Cluster::CSnapshotInfo> snapshots;
    ASSERT_FALSE(parser.GetSnapshotsInformation(SnapshotListing(2000), snapshots).IsError());
    EXPECT_EQ(2000u, snapshots.size());
}

// Larger than the listing above, so the thread's kept scan buffers must grow.
TEST_F(LibraryBoundary, AnAllocationFailureWhileParsingIsAnError) {
    const std::string reply = SnapshotListing(20000);
    Cluster::CParser parser;
    std::list<Cluster::CSnapshotInfo> snapshots;
    CZuError error;
    {
        const FailAbove failing(4096);
        EXPECT_NO_THROW(error = parser.GetSnapshotsInformation(reply, snapshots));
    }
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_FALSE(error.GetLocations().empty());
}

TEST_F(LibraryBoundary, AnAllocationFailureWhileTakingTheReplyIsAnError) {
    scripted::Reset();
    auto connection = boost::make_shared<Cluster::CConnection>();
    scripted::Queue(200, R"({"bearer_token":"1:t"})");
    ASSERT_FALSE(connection->Connect("https://cluster:8000", "admin", "admin").IsError());
    scripted::Queue(200, SnapshotListing(2000));
    Cluster::CSnapshotQueries queries(connection, boost::make_shared<Cluster::CParser>());
    std::list<Cluster::CSnapshotInfo> snapshots;
    CZuError error;
    {
        const FailAbove failing(64 * 1024);
        EXPECT_NO_THROW(error = queries.ListSnapshots(snapshots));
    }
    EXPECT_EQ(774u, error.GetCode());
    EXPECT_EQ("Out of memory", error.GetMessage());
    ASSERT_EQ(2u, error.GetLocations().size());
    EXPECT_NE(std::string::npos, error.GetLocations()[1].function.find("ListSnapshots"));
    scripted::Reset();
}

}  // namespace
