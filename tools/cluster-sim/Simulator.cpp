#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <optional>

#include "Api.h"
#include "ClusterSim.h"
#include "Faults.h"
#include "HttpServer.h"
#include "OptionText.h"
#include "Realism.h"
#include "Seed.h"
#include "SimState.h"
#include "StateFolder.h"
#include "StateFormat.h"
#include "Tls.h"
#include "Url.h"

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
          api(state, [this](std::string* error) { return Save(error); }),
          server([this](const httplib::Request& request, httplib::Response& response,
                        Exchange& exchange) { Handle(request, response, exchange); }) {
        if (options.stateDir.empty()) Seed();  // otherwise Start loads or seeds
    }

    void Seed() {
        if (options.seedDemo) SeedDemo(state);
        if (options.seedFiles > 0) SeedFiles(state, options.seedFiles);
        if (options.seedDiff > 0) SeedDiff(state, options.seedDiff);
    }

    bool OpenStateFolder(std::string* error) {
        folder = StateFolder::Open(options.stateDir, options.lockWaitSeconds, error);
        if (folder && !LoadOrSeed(error)) folder.reset();
        return folder != nullptr;
    }

    void CloseStateFolder() {
        std::lock_guard<std::mutex> lock(saveMutex);
        folder.reset();
    }

    // A saved state that cannot be read stops the run rather than being seeded over: it may be
    // all someone has of a long session, and the message says how to start over on purpose.
    bool LoadOrSeed(std::string* error) {
        std::optional<std::string> saved;
        if (!folder->Read(&saved, error)) return false;
        if (!saved) {
            state.Restore(StateImage());
            Seed();
            return Save(error);
        }
        auto image = DecodeState(*saved, error);
        if (!image) {
            *error = "the saved state " + folder->StatePath() + " cannot be read (" + *error +
                     "); deleting the folder " + folder->Dir() + " starts over with a new cluster";
            return false;
        }
        state.Restore(std::move(*image));
        return true;
    }

    // Whole saves, one at a time: each one taken after its change includes it, so the last
    // file written holds every change answered so far.
    bool Save(std::string* error) {
        std::lock_guard<std::mutex> lock(saveMutex);
        return !folder || folder->Write(EncodeState(state.Image()), error);
    }

    // The Simulator's own edits. With a state folder they need it held, so that no change is
    // made that the next run would not see; the result is only reported once saved.
    template <typename Result, typename Change>
    Result Kept(const Change& change) {
        if (!options.stateDir.empty() && !running) return Result();
        const Result result = change();
        std::string ignored;
        return result && !Save(&ignored) ? Result() : result;
    }

    // Every request goes on the journal, those turned away too. It is counted in flight first,
    // so a request on the journal is already in the count. Plan faults come before the token
    // check so they hit login as well; random faults spare it.
    void Handle(const httplib::Request& request, httplib::Response& response, Exchange& exchange) {
        ++requests;
        const Admission::Ticket ticket = admission.Enter();
        Record(request, exchange);
        if (!ticket) {
            ++concurrencyRefusals;
            ReplyRetryLater(response, 429, "http_too_many_requests_error",
                            "more than " + std::to_string(options.maxConcurrent) +
                                " requests in flight; retry later");
            return;
        }
        latency.Wait(stop);
        // Drawn before the plan is asked, so that the sequence does not depend on the plan.
        const RandomFault drawn = IsLogin(request) ? RandomFault::None : randomFaults.Draw();
        if (const auto fault = faults.Take(request.method, request.target)) {
            if (ApplyFault(*fault, response, exchange, stop)) return;
        }
        Inject(drawn, request, response, exchange);
    }

    static bool IsLogin(const httplib::Request& request) {
        std::vector<std::string> captures;
        return MatchRoute("/v1/session/login", SplitTarget(request.target).path, &captures);
    }

    void Inject(RandomFault drawn, const httplib::Request& request, httplib::Response& response,
                Exchange& exchange) {
        switch (drawn) {
            case RandomFault::None:
                api.Handle(request, response);
                return;
            case RandomFault::Unavailable:
                ++unavailable;
                ReplyRetryLater(response, 503, "http_service_unavailable_error",
                                "the cluster is unavailable for a moment; retry later");
                return;
            case RandomFault::Busy:
                ++busy;
                ReplyRetryLater(response, 429, "http_too_many_requests_error",
                                "the cluster is busy; retry later");
                return;
            case RandomFault::Reset:
                ++resets;
                exchange.DropConnection();
                return;
            case RandomFault::Truncated:
                ++truncations;
                api.Handle(request, response);
                CutShort(response);
                return;
        }
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
    RandomFaults randomFaults{options.faultRates, options.seed};
    Latency latency{options.latencyMs, options.latencyJitterMs, options.seed};
    Admission admission{options.maxConcurrent};
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> unavailable{0};
    std::atomic<uint64_t> busy{0};
    std::atomic<uint64_t> resets{0};
    std::atomic<uint64_t> truncations{0};
    std::atomic<uint64_t> concurrencyRefusals{0};
    std::mutex journalMutex;
    std::vector<JournalEntry> journal;
    std::unique_ptr<TlsIdentity> tls;
    std::mutex saveMutex;                 // held while a save is made and written
    std::unique_ptr<StateFolder> folder;  // held from Start to Stop when options.stateDir is set
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
    const Options& options = m_impl->options;
    if (!CheckFaultRates(options.faultRates, error)) return false;
    if (!Synthetic::Check(options.synthetic, options.seed, error)) {
        *error = "synthetic tree: " + *error;
        return false;
    }
    if (!options.stateDir.empty() && !m_impl->OpenStateFolder(error)) return false;
    m_impl->stop.Reset();
    const bool serving =
        (!options.tls || m_impl->MakeTlsIdentity(error)) &&
        m_impl->server.Start(options.host, options.port,
                             m_impl->tls ? m_impl->tls->Context() : nullptr, error);
    if (!serving) {
        m_impl->tls.reset();
        m_impl->CloseStateFolder();
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
    m_impl->CloseStateFolder();
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

ServerStatistics Simulator::Statistics() const {
    ServerStatistics statistics;
    statistics.requests = m_impl->requests;
    statistics.unavailable = m_impl->unavailable;
    statistics.busy = m_impl->busy;
    statistics.resets = m_impl->resets;
    statistics.truncations = m_impl->truncations;
    statistics.expiredTokens = m_impl->state.accounts.ExpiredRefusals();
    statistics.concurrencyRefusals = m_impl->concurrencyRefusals;
    return statistics;
}

void Simulator::AddUser(const std::string& name, const std::string& password) {
    m_impl->state.accounts.AddUser(name, password);
}

void Simulator::RevokeTokens() {
    m_impl->state.accounts.RevokeTokens();
}

uint64_t Simulator::MakeDirectory(const std::string& path) {
    if (m_impl->state.synthetic.Covers(path)) return 0;
    return m_impl->Kept<uint64_t>([&] { return m_impl->state.tree.MakeDirectory(path); });
}

uint64_t Simulator::WriteFile(const std::string& path, uint64_t size) {
    if (m_impl->state.synthetic.Covers(path)) return 0;
    return m_impl->Kept<uint64_t>([&] { return m_impl->state.tree.WriteFile(path, size); });
}

uint64_t Simulator::MakeSymlink(const std::string& path) {
    if (m_impl->state.synthetic.Covers(path)) return 0;
    return m_impl->Kept<uint64_t>([&] { return m_impl->state.tree.MakeSymlink(path); });
}

bool Simulator::Remove(const std::string& path) {
    if (m_impl->state.synthetic.Covers(path)) return false;
    return m_impl->Kept<bool>([&] { return m_impl->state.tree.Remove(path); });
}

uint64_t Simulator::FileId(const std::string& path) const {
    const Synthetic& synthetic = m_impl->state.synthetic;
    if (synthetic.Covers(path)) {
        const auto entry = synthetic.Find(*ParsePath(path));
        return entry ? entry->attrs.id : 0;
    }
    const NodePtr node = m_impl->state.tree.Find(path);
    return node ? node->attrs.id : 0;
}

uint64_t Simulator::TakeSnapshot(const std::string& name, const std::string& sourcePath) {
    return m_impl->Kept<uint64_t>([&]() -> uint64_t {
        const SnapshotPtr snapshot = m_impl->state.TakeSnapshot(name, sourcePath, "");
        return snapshot ? snapshot->id : 0;
    });
}

uint64_t Simulator::AddSmbShare(const std::string& name, const std::string& fsPath,
                                const std::string& description) {
    return m_impl->Kept<uint64_t>([&] {
        return m_impl->state.shares.AddSmb({0, name, fsPath, description});
    });
}

uint64_t Simulator::AddNfsExport(const std::string& exportPath, const std::string& fsPath,
                                 const std::string& description) {
    return m_impl->Kept<uint64_t>([&] {
        return m_impl->state.shares.AddNfs({0, exportPath, fsPath, description});
    });
}

}  // namespace clustersim
