// The simulated cluster: a real HTTP(S) server that answers the REST paths the client library
// uses, for tests, the demo and benchmarks. Embed it through this class or run the
// `cluster-sim` executable, which wraps it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace clustersim {

// How often requests meet each random fault: probabilities from 0 to 1 that add up to at most 1.
struct FaultRates {
    double unavailable = 0;  // 503 with "Retry-After: 1" and a JSON error body
    double busy = 0;         // 429 with "Retry-After: 1" and a JSON error body
    double reset = 0;        // the connection closes without an answer; nothing is done
    double truncated = 0;    // the answer is made (any change is done), half its body is sent
};

// A read-only tree under /synthetic that is generated on demand: nothing of it is kept in memory,
// so its size costs nothing, and the same options give the same tree in every run. `files` is
// the number of entries below /synthetic, directories included; `dirs` counts the directories,
// /synthetic itself included, so dirs - 1 of the entries are directories and the rest files
// and a few symlinks. No directory lies more than `depth` levels below /synthetic. Names, sizes,
// times, types and ids come from `seed`, or from Options::seed when it has none.
// The tree comes with two snapshots of /synthetic, "synthetic-base" (the tree as served live)
// and "synthetic-target" (the tree with `changes` generated changes applied): files created,
// empty directories created, files and symlinks deleted, content and metadata modified, all
// in a contiguous run of `locality` of the directories (0 < locality <= 1), one change per
// file or symlink at most. Synthetic.h tells which change goes where.
struct SyntheticTree {
    uint64_t files = 0;  // 0: no synthetic tree
    uint64_t dirs = 1;   // from 1 to files + 1
    unsigned depth = 4;  // at least 1
    std::optional<uint64_t> seed;
    uint64_t changes = 0;   // between synthetic-base and synthetic-target
    double locality = 1.0;  // the fraction of the directories the changes are in
};

struct Options {
    std::string host = "127.0.0.1";  // loopback unless told otherwise
    int port = 0;                    // 0 picks a free port
    bool tls = true;
    std::string certFile;  // with keyFile: serve this certificate instead of a generated one
    std::string keyFile;
    std::vector<std::pair<std::string, std::string>> users{{"admin", "admin"}};
    bool seedDemo = true;    // the small demo tree, snapshots, shares and exports
    uint64_t seedFiles = 0;  // > 0: a directory "/big" holding this many files
    uint64_t seedDiff = 0;   // > 0: two snapshots of "/diff" that differ by this many changes
    unsigned defaultPageSize = 1000;  // page size when a request gives no "limit"
    // It hides any directory /synthetic of a saved cluster, and every edit below /synthetic
    // fails. It is not saved in a state folder: it comes from the options on every run.
    SyntheticTree synthetic;

    // A folder that keeps the cluster between runs; empty keeps it in memory only. Start makes
    // the folder (mode 0700) when missing and holds it until Stop, one run at a time, waiting up
    // to lockWaitSeconds for another run to end. When the folder holds a saved cluster, Start
    // loads it and the seed options above do not apply; otherwise it seeds and saves at once.
    // A saved cluster that cannot be read fails Start; deleting the folder starts over. Every
    // change, through a request or the methods below, is saved before it is answered. The file
    // tree, snapshots, shares and exports are kept, and the id counters so that no id comes
    // back; accounts and tokens are not: they come from these options on every run.
    std::string stateDir;
    int lockWaitSeconds = 10;

    // The faults of a real cluster, for clients that mean to ride them out. They all draw from
    // generators made from `seed`, one for the faults and one for the latency, so a run whose
    // requests come one after another meets the same faults every time.
    unsigned tokenTtlSeconds = 0;  // > 0: a token gets 401 this long after its login
    // Each request but a login (any to /v1/session/login) meets at most one of these, so a
    // client can always log in. The fault plan below wins over them.
    FaultRates faultRates;
    uint64_t seed = 1;
    // > 0: a request that arrives while this many are being handled gets 429 at once, with
    // "Retry-After: 1". The server has 64 workers, so a limit above that changes nothing.
    unsigned maxConcurrent = 0;
    // Every request (logins too) is answered latencyMs plus 0 to latencyJitterMs later.
    unsigned latencyMs = 0;
    unsigned latencyJitterMs = 0;
};

// Reads the options above from the environment, for a simulator embedded in another program:
// CLUSTER_SIM_TOKEN_TTL (seconds), CLUSTER_SIM_FAULT_RATE (KIND:P,... with KIND one of 503,
// 429, reset, truncated), CLUSTER_SIM_SEED, CLUSTER_SIM_MAX_CONCURRENT, CLUSTER_SIM_LATENCY
// (MS or MS:JITTER) and CLUSTER_SIM_SYNTHETIC
// (files=N,dirs=M[,depth=D][,seed=S][,changes=C[,locality=L]]). Values read
// as cluster-sim's flags do. An unset or empty variable leaves its option alone. False, with
// the variable and what is wrong in *error, for a bad value.
bool OptionsFromEnvironment(Options* options, std::string* error);

// What the server has seen since the Simulator was made, for tests and soak runs.
struct ServerStatistics {
    uint64_t requests = 0;  // every request that reached the handler, whatever its answer
    // Random faults put on answers, by kind (faults of the fault plan are not counted).
    uint64_t unavailable = 0;
    uint64_t busy = 0;
    uint64_t resets = 0;
    uint64_t truncations = 0;
    uint64_t expiredTokens = 0;        // 401s for a token past its time to live
    uint64_t concurrencyRefusals = 0;  // 429s for too many requests in flight
};

// One request as the server received it.
struct JournalEntry {
    std::string method;
    std::string target;  // path and query exactly as sent (still percent-encoded)
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;

    // First header of that name (case-insensitive); empty when absent.
    std::string Header(const std::string& name) const;
    // How many headers of that name (case-insensitive) the request carried.
    size_t HeaderCount(const std::string& name) const;
};

// A fault for requests whose method matches (empty = any) and whose target starts with
// pathPrefix. `remaining` < 0 applies it forever, otherwise to that many requests.
struct Fault {
    enum class Kind {
        Delay,              // wait delayMs, then answer normally
        Respond,            // answer with status and body (content type contentType)
        TruncatedBody,      // announce body's full length, send half of it, close
        NotJson,            // 200 with a body that is not JSON
        CloseNoAnswer,      // close the connection without any answer
        StallAfterHeaders,  // send the headers, then send nothing for delayMs, then close
        HugeBody,           // 200 with a body of hugeBytes bytes
    };
    Kind kind = Kind::Respond;
    std::string method;
    std::string pathPrefix;
    int status = 500;
    std::string body;
    std::string contentType = "application/json";
    int delayMs = 0;
    uint64_t hugeBytes = 0;
    int remaining = -1;
};

// What a directory entry is made of, for tests that build their own trees.
enum class FileType { File, Directory, Symlink };

class Simulator {
  public:
    explicit Simulator(Options options = Options());
    ~Simulator();  // stops the server
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds, starts serving on a background thread and returns once requests are accepted.
    // On failure returns false and says why in *error.
    bool Start(std::string* error);
    void Stop();

    std::string BaseUrl() const;  // e.g. "https://127.0.0.1:40123", no trailing slash
    std::string CaFile() const;   // PEM file a client trusts for this server; empty without TLS
    int Port() const;

    // Request journal.
    std::vector<JournalEntry> Journal() const;
    void ClearJournal();

    // Fault plan.
    void AddFault(const Fault& fault);
    void ClearFaults();

    ServerStatistics Statistics() const;

    // Users and tokens.
    void AddUser(const std::string& name, const std::string& password);
    void RevokeTokens();  // every issued token becomes invalid (401 afterwards)

    // The virtual file system. Paths are absolute, "/" separated, UTF-8, no trailing "/".
    // Each returns the new or changed object's file id, 0 when the path is invalid or lies in
    // the synthetic tree.
    // With a stateDir, these edits (down to AddNfsExport) work only while running and return 0
    // (false) when the change could not be saved.
    uint64_t MakeDirectory(const std::string& path);             // parents are made as needed
    uint64_t WriteFile(const std::string& path, uint64_t size);  // creates or modifies
    uint64_t MakeSymlink(const std::string& path);
    bool Remove(const std::string& path);            // a directory with everything below it
    uint64_t FileId(const std::string& path) const;  // 0 when absent

    // Snapshots freeze the tree below the source as it is now; returns the snapshot id.
    uint64_t TakeSnapshot(const std::string& name, const std::string& sourcePath);

    // Shares and exports; each returns the new id.
    uint64_t AddSmbShare(const std::string& name, const std::string& fsPath,
                         const std::string& description);
    uint64_t AddNfsExport(const std::string& exportPath, const std::string& fsPath,
                          const std::string& description);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace clustersim
