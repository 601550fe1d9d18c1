#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "Api.h"
#include "ClusterSim.h"
#include "Faults.h"
#include "HttpServer.h"
#include "Seed.h"
#include "SimState.h"
#include "Tls.h"

namespace clustersim {
namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

std::string JournalEntry::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) return value;
    }
    return {};
}

size_t JournalEntry::HeaderCount(const std::string& name) const {
    return static_cast<size_t>(
        std::count_if(headers.begin(), headers.end(),
                      [&](const auto& header) { return SameName(header.first, name); }));
}

struct Simulator::Impl {
    explicit Impl(Options chosen)
        : options(std::move(chosen)),
          state(options),
          api(state),
          server([this](const httplib::Request& request, httplib::Response& response,
                        Exchange& exchange) { Handle(request, response, exchange); }) {
        if (options.seedDemo) SeedDemo(state);
        if (options.seedFiles > 0) SeedFiles(state, options.seedFiles);
        if (options.seedDiff > 0) SeedDiff(state, options.seedDiff);
    }

    // Journal first, so that faulted and refused requests are on record too; faults come
    // before the token check so they hit login as well.
    void Handle(const httplib::Request& request, httplib::Response& response, Exchange& exchange) {
        Record(request, exchange);
        if (const auto fault = faults.Take(request.method, request.target)) {
            if (ApplyFault(*fault, response, exchange, stop)) return;
        }
        api.Handle(request, response);
    }

    // Bounded, so a long benchmark run does not grow it without end: when full, the older half
    // goes. Tests look at far fewer requests than that.
    void Record(const httplib::Request& request, const Exchange& exchange) {
        constexpr size_t kJournalLimit = 100000;
        JournalEntry entry{request.method, request.target, exchange.Headers(), request.body};
        std::lock_guard<std::mutex> lock(journalMutex);
        if (journal.size() == kJournalLimit) {
            journal.erase(journal.begin(), journal.begin() + kJournalLimit / 2);
        }
        journal.push_back(std::move(entry));
    }

    bool MakeTlsIdentity(std::string* error) {
        if (options.certFile.empty() != options.keyFile.empty()) {
            *error = "a certificate file needs its key file and the other way round";
            return false;
        }
        tls = options.certFile.empty()
                  ? TlsIdentity::Generate(error)
                  : TlsIdentity::Load(options.certFile, options.keyFile, error);
        return tls != nullptr;
    }

    Options options;
    SimState state;
    Api api;
    FaultPlan faults;
    StopSignal stop;
    std::mutex journalMutex;
    std::vector<JournalEntry> journal;
    std::unique_ptr<TlsIdentity> tls;
    bool running = false;
    HttpServer server;  // last, so it is gone before anything its threads use
};

Simulator::Simulator(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() {
    Stop();
}

bool Simulator::Start(std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    if (m_impl->running) {
        *error = "already running";
        return false;
    }
    if (m_impl->options.tls && !m_impl->MakeTlsIdentity(error)) return false;
    m_impl->stop.Reset();
    const Options& options = m_impl->options;
    if (!m_impl->server.Start(options.host, options.port,
                              m_impl->tls ? m_impl->tls->Context() : nullptr, error)) {
        m_impl->tls.reset();
        return false;
    }
    m_impl->running = true;
    return true;
}

void Simulator::Stop() {
    if (!m_impl->running) return;
    m_impl->stop.Raise();
    m_impl->server.Stop();
    m_impl->tls.reset();
    m_impl->running = false;
}

std::string Simulator::BaseUrl() const {
    const std::string& host = m_impl->options.host;
    const bool ipv6 = host.find(':') != std::string::npos;
    return std::string(m_impl->options.tls ? "https://" : "http://") +
           (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(Port());
}

std::string Simulator::CaFile() const {
    return m_impl->tls ? m_impl->tls->CaFile() : "";
}

int Simulator::Port() const {
    return m_impl->server.Port();
}

std::vector<JournalEntry> Simulator::Journal() const {
    std::lock_guard<std::mutex> lock(m_impl->journalMutex);
    return m_impl->journal;
}

void Simulator::ClearJournal() {
    std::lock_guard<std::mutex> lock(m_impl->journalMutex);
    m_impl->journal.clear();
}

void Simulator::AddFault(const Fault& fault) {
    m_impl->faults.Add(fault);
}

void Simulator::ClearFaults() {
    m_impl->faults.Clear();
}

void Simulator::AddUser(const std::string& name, const std::string& password) {
    m_impl->state.accounts.AddUser(name, password);
}

void Simulator::RevokeTokens() {
    m_impl->state.accounts.RevokeTokens();
}

uint64_t Simulator::MakeDirectory(const std::string& path) {
    return m_impl->state.tree.MakeDirectory(path);
}

uint64_t Simulator::WriteFile(const std::string& path, uint64_t size) {
    return m_impl->state.tree.WriteFile(path, size);
}

uint64_t Simulator::MakeSymlink(const std::string& path) {
    return m_impl->state.tree.MakeSymlink(path);
}

bool Simulator::Remove(const std::string& path) {
    return m_impl->state.tree.Remove(path);
}

uint64_t Simulator::FileId(const std::string& path) const {
    const NodePtr node = m_impl->state.tree.Find(path);
    return node ? node->attrs.id : 0;
}

uint64_t Simulator::TakeSnapshot(const std::string& name, const std::string& sourcePath) {
    const SnapshotPtr snapshot = m_impl->state.TakeSnapshot(name, sourcePath, "");
    return snapshot ? snapshot->id : 0;
}

uint64_t Simulator::AddSmbShare(const std::string& name, const std::string& fsPath,
                                const std::string& description) {
    return m_impl->state.shares.AddSmb({0, name, fsPath, description});
}

uint64_t Simulator::AddNfsExport(const std::string& exportPath, const std::string& fsPath,
                                 const std::string& description) {
    return m_impl->state.shares.AddNfs({0, exportPath, fsPath, description});
}

}  // namespace clustersim
