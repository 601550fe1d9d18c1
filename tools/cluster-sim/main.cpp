// cluster-sim: serves the simulated cluster until SIGINT or SIGTERM. Prints one line with the
// base URL (and the certificate to trust) once it accepts requests, for scripts to read.
#include <signal.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "ClusterSim.h"
#include "OptionText.h"
#include "Synthetic.h"

namespace {

using clustersim::Fault;
using clustersim::Options;
using clustersim::ParseUnsigned;

const char* const kUsage =
    "usage: cluster-sim [options]\n"
    "  --listen HOST:PORT       where to listen (default 127.0.0.1:0, a free port)\n"
    "  --tls | --no-tls         HTTPS with a generated certificate (default) or plain HTTP\n"
    "  --cert FILE --key FILE   serve this certificate instead\n"
    "  --user NAME:PASSWORD     an account, repeatable (default admin:admin)\n"
    "  --files N                a directory /big with N files\n"
    "  --diff N                 snapshots diff-base and diff-target of /diff, N changes apart\n"
    "  --no-demo                no demo tree, snapshots, shares or exports\n"
    "  --synthetic files=N,dirs=M[,depth=D][,seed=S][,changes=C[,locality=L]]\n"
    "                           a read-only tree under /synthetic generated on demand, never\n"
    "                           held in memory: N entries in all (M - 1 of them directories,\n"
    "                           the rest files and a few symlinks; 1 <= M <= N + 1) in M\n"
    "                           directories counting /synthetic, none more than D levels\n"
    "                           below it (default 4); names, sizes, times and ids come from S\n"
    "                           (default: --seed), the same in every run. Snapshots\n"
    "                           synthetic-base (id 2000000001) and synthetic-target\n"
    "                           (2000000002) of /synthetic differ by C generated changes\n"
    "                           (default 0; by change number mod 10: 0-1 create a file,\n"
    "                           2 an empty directory, 3-4 delete a file or symlink, 5-7\n"
    "                           modify content, 8-9 metadata only), one per file or symlink\n"
    "                           at most, in a run of a fraction L (0 < L <= 1, default 1) of\n"
    "                           the directories; live /synthetic is the base\n"
    "  --page-size N            page size when a request gives no limit (default 1000)\n"
    "  --state-dir DIR          keep the cluster in DIR between runs (made if missing, one run\n"
    "                           at a time); a saved cluster there is loaded and the seeding\n"
    "                           options (--files, --diff, --no-demo) do not apply\n"
    "  --fault METHOD:PREFIX:KIND[:ARG]\n"
    "                           misbehave on requests whose target starts with PREFIX\n"
    "                           (an empty METHOD matches any), repeatable; KIND is one of\n"
    "                           delay:MS respond:STATUS truncated not-json close stall:MS\n"
    "                           huge:BYTES\n"
    "  --token-ttl SECONDS      a token gets 401 this long after its login (default 0, never)\n"
    "  --fault-rate KIND:P      each request but a login meets this fault with probability P\n"
    "                           (0 to 1), repeatable; KIND is one of 503 or 429 (with\n"
    "                           Retry-After: 1), reset (closed without an answer, nothing\n"
    "                           done) or truncated (done, half the answer sent); the rates\n"
    "                           add up to at most 1; --fault matches win over them\n"
    "  --seed N                 seed of the random faults, the latency and the synthetic tree\n"
    "                           (default 1), so that requests sent one after another meet the\n"
    "                           same faults each run\n"
    "  --max-concurrent N       429 with Retry-After: 1 for a request that arrives while N\n"
    "                           are being handled (default 0, no limit)\n"
    "  --latency MS[:JITTER]    answer each request MS plus 0 to JITTER milliseconds later\n"
    "                           (each at most 3600000)\n";

struct CommandLine {
    Options options;
    std::vector<Fault> faults;
    bool usersGiven = false;
    bool help = false;
};

bool ParseListen(const std::string& text, Options* options) {
    const size_t colon = text.rfind(':');
    uint64_t port = 0;
    if (colon == std::string::npos || !ParseUnsigned(text.substr(colon + 1), 65535, &port)) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    options->host = host;
    options->port = static_cast<int>(port);
    return !host.empty();
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', start)) {
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

// The simple form of a fault: it applies to every matching request.
bool ParseFault(const std::string& text, Fault* fault) {
    const auto fields = SplitColons(text);
    if (fields.size() < 3 || fields.size() > 4) return false;
    fault->method = fields[0];
    fault->pathPrefix = fields[1];
    const std::string& kind = fields[2];
    uint64_t argument = 0;
    const bool hasArgument = fields.size() == 4 && ParseUnsigned(fields[3], UINT64_MAX, &argument);
    if (hasArgument !=
        (kind == "delay" || kind == "respond" || kind == "stall" || kind == "huge")) {
        return false;
    }
    const int smallArgument = static_cast<int>(std::min<uint64_t>(argument, INT_MAX));
    if (kind == "delay" || kind == "stall") {
        fault->kind = kind == "delay" ? Fault::Kind::Delay : Fault::Kind::StallAfterHeaders;
        fault->delayMs = smallArgument;
    } else if (kind == "respond") {
        fault->kind = Fault::Kind::Respond;
        fault->status = smallArgument;
        fault->contentType = "text/html";
        fault->body = "<html><body><h1>" + fields[3] + "</h1></body></html>";
    } else if (kind == "huge") {
        fault->kind = Fault::Kind::HugeBody;
        fault->hugeBytes = argument;
    } else if (kind == "truncated" || kind == "not-json" || kind == "close") {
        fault->kind = kind == "truncated"  ? Fault::Kind::TruncatedBody
                      : kind == "not-json" ? Fault::Kind::NotJson
                                           : Fault::Kind::CloseNoAnswer;
    } else {
        return false;
    }
    return true;
}

bool ApplyValue(const std::string& flag, const std::string& value, CommandLine* line) {
    Options& options = line->options;
    uint64_t number = 0;
    if (flag == "--listen") return ParseListen(value, &options);
    if (flag == "--cert") options.certFile = value;
    if (flag == "--key") options.keyFile = value;
    if (flag == "--state-dir") {
        options.stateDir = value;
        return !value.empty();
    }
    if (flag == "--files") return ParseUnsigned(value, UINT64_MAX, &options.seedFiles);
    if (flag == "--diff") return ParseUnsigned(value, UINT64_MAX, &options.seedDiff);
    if (flag == "--page-size") {
        if (!ParseUnsigned(value, UINT_MAX, &number) || number == 0) return false;
        options.defaultPageSize = static_cast<unsigned>(number);
    }
    if (flag == "--user") {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0) return false;
        if (!line->usersGiven) options.users.clear();
        line->usersGiven = true;
        options.users.emplace_back(value.substr(0, colon), value.substr(colon + 1));
    }
    if (flag == "--token-ttl") return clustersim::ParseTokenTtl(value, &options);
    if (flag == "--fault-rate") return clustersim::ParseFaultRate(value, &options);
    if (flag == "--seed") return clustersim::ParseSeed(value, &options);
    if (flag == "--max-concurrent") return clustersim::ParseMaxConcurrent(value, &options);
    if (flag == "--latency") return clustersim::ParseLatency(value, &options);
    if (flag == "--synthetic") return clustersim::ParseSynthetic(value, &options);
    if (flag == "--fault") {
        Fault fault;
        if (!ParseFault(value, &fault)) return false;
        line->faults.push_back(fault);
    }
    return true;
}

bool Parse(int argc, char** argv, CommandLine* line, std::string* error) {
    static const std::set<std::string> kWithValue = {
        "--listen",         "--cert",      "--key",        "--files",
        "--diff",           "--page-size", "--user",       "--fault",
        "--state-dir",      "--token-ttl", "--fault-rate", "--seed",
        "--max-concurrent", "--latency",   "--synthetic"};
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            line->help = true;
        } else if (flag == "--tls" || flag == "--no-tls") {
            line->options.tls = flag == "--tls";
        } else if (flag == "--no-demo") {
            line->options.seedDemo = false;
        } else if (kWithValue.count(flag) == 0) {
            *error = "unknown option " + flag;
            return false;
        } else if (i + 1 == argc) {
            *error = flag + " needs a value";
            return false;
        } else if (!ApplyValue(flag, argv[++i], line)) {
            *error = "bad value for " + flag + ": " + argv[i];
            if (flag == "--synthetic")
                *error += std::string(" is not ") + clustersim::kSyntheticForm;
            return false;
        }
    }
    if (!clustersim::Synthetic::Check(line->options.synthetic, line->options.seed, error)) {
        *error = "bad value for --synthetic: " + *error;
        return false;
    }
    return clustersim::CheckFaultRates(line->options.faultRates, error);
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    std::string error;
    if (!Parse(argc, argv, &line, &error)) {
        std::fprintf(stderr, "cluster-sim: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Blocked before any thread starts, so every thread inherits it and sigwait gets them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    clustersim::Simulator simulator(line.options);
    for (const Fault& fault : line.faults) simulator.AddFault(fault);
    if (!simulator.Start(&error)) {
        std::fprintf(stderr, "cluster-sim: %s\n", error.c_str());
        return 1;
    }
    const std::string ca = simulator.CaFile();
    std::printf("cluster-sim listening on %s%s%s\n", simulator.BaseUrl().c_str(),
                ca.empty() ? "" : " ca=", ca.c_str());
    std::fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    simulator.Stop();
    return 0;
}
