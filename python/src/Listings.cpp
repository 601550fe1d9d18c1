#include "Listings.h"

#include <list>
#include <optional>
#include <utility>

#include "ClusterWalk/Pager.h"
#include "Errors.h"
#include "Records.h"

namespace clusterpy {
namespace {

template <class Record>
class PageIterator {
  public:
    using MakePager = std::function<clusterwalk::Pager<Record>(clusterwalk::CResilientSession&)>;
    using Convert = py::object (*)(const Record&);

    PageIterator(std::shared_ptr<NativeSession> session, MakePager makePager, Convert convert)
        : m_session(std::move(session)), m_makePager(std::move(makePager)), m_convert(convert) {}

    ~PageIterator() {
        // The pager may still be reading ahead on the session's connection.
        py::gil_scoped_release release;
        m_session->Release([this] { m_pager.reset(); });
    }

    py::object Next() {
        // Like a generator: one reader at a time, or two would read pages into one buffer.
        if (m_reading) throw py::value_error("the listing is being read by another thread");
        while (m_next >= m_page.size()) {
            if (m_ended || !ReadPage()) throw py::stop_iteration();
        }
        return m_page[m_next++];
    }

  private:
    // False at the end of the listing; throws when it ended in a failure.
    bool ReadPage() {
        std::list<Record> records;
        bool more = false;
        {
            Reading reading(m_reading);
            py::gil_scoped_release release;
            m_session->Locked([&](clusterwalk::CResilientSession& session) {
                if (!m_pager) m_pager.emplace(m_makePager(session));
                more = m_pager->NextPage();
                if (more) records.swap(m_pager->Records());
            });
        }
        if (!more) {
            m_ended = true;
            ThrowIfError(m_pager->Error());
            return false;
        }
        m_page = ToList(records, m_convert);
        m_next = 0;
        return true;
    }

    // Marks a page being read, with the GIL given up, for the whole of its reading.
    struct Reading {
        explicit Reading(bool& flag) : m_flag(flag) { m_flag = true; }
        ~Reading() { m_flag = false; }
        bool& m_flag;
    };

    const std::shared_ptr<NativeSession> m_session;  // outlives the pager reading from it
    MakePager m_makePager;
    Convert m_convert;
    std::optional<clusterwalk::Pager<Record>> m_pager;
    py::list m_page;
    size_t m_next = 0;
    bool m_ended = false;
    bool m_reading = false;  // set and read with the GIL held
};

using DirectoryIterator = PageIterator<Cluster::CDirectoryEntry>;
using DiffIterator = PageIterator<Cluster::CSnapshotDiffInfo>;

template <class Iterator>
void BindIterator(py::module_& module, const char* name, const char* doc) {
    py::class_<Iterator>(module, name, doc)
        .def(
            "__iter__", [](py::object self) { return self; }, "The object itself.")
        .def("__next__", &Iterator::Next, "The next record; reads a page when none is left.");
}

}  // namespace

void BindListings(py::module_& module) {
    BindIterator<DirectoryIterator>(module, "_DirectoryListing",
                                    "The entries of one directory, read a page at a time.");
    BindIterator<DiffIterator>(module, "_DiffListing",
                               "The changes between two snapshots, read a page at a time.");
}

py::object ListDirectory(const std::shared_ptr<NativeSession>& session, const std::string& path,
                         int snapshot) {
    auto make = [path, snapshot](clusterwalk::CResilientSession& resilient) {
        return clusterwalk::DirectoryPager(resilient, path, snapshot);
    };
    return py::cast(new DirectoryIterator(session, make, ToEntry),
                    py::return_value_policy::take_ownership);
}

py::object SnapshotDiff(const std::shared_ptr<NativeSession>& session, uint64_t older,
                        uint64_t newer) {
    auto make = [older, newer](clusterwalk::CResilientSession& resilient) {
        return clusterwalk::SnapshotDiffPager(resilient, older, newer);
    };
    return py::cast(new DiffIterator(session, make, ToDiffEntry),
                    py::return_value_policy::take_ownership);
}

}  // namespace clusterpy
