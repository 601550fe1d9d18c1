#include "OptionText.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>

#include "Synthetic.h"

namespace clustersim {
namespace {

// An hour: far beyond any test, and well inside an int of milliseconds even added up.
constexpr uint64_t kMaxLatencyMs = 3600 * 1000;
// Room for the rounding of decimal fractions: 0.1 + 0.2 + 0.7 is not exactly 1 in binary.
constexpr double kRateSlack = 1e-9;

// Plain decimals only ("0", "0.25", "1.0"): no sign, exponent, "inf" or "nan".
bool ParseProbability(const std::string& text, double* value) {
    const size_t dot = text.find('.');
    const bool digitsOnly = text.find_first_not_of("0123456789.") == std::string::npos;
    if (text.empty() || text.size() > 24 || !digitsOnly || dot == 0 || dot + 1 == text.size() ||
        (dot != std::string::npos && text.find('.', dot + 1) != std::string::npos)) {
        return false;
    }
    double parsed = 0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), parsed, std::chars_format::fixed);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
    if (!(parsed >= 0 && parsed <= 1)) return false;
    *value = parsed;
    return true;
}

double* RateOf(const std::string& kind, FaultRates* rates) {
    if (kind == "503") return &rates->unavailable;
    if (kind == "429") return &rates->busy;
    if (kind == "reset") return &rates->reset;
    if (kind == "truncated") return &rates->truncated;
    return nullptr;
}

bool ParseFaultRateList(const std::string& text, Options* options) {
    Options parsed = *options;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        if (!ParseFaultRate(text.substr(start, comma - start), &parsed)) return false;
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    *options = parsed;
    return true;
}

// Every 64-bit value, which twenty digits can hold but ParseUnsigned's bound cannot.
bool ParseFullUnsigned(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

struct Variable {
    const char* name;
    bool (*parse)(const std::string& text, Options* options);
    const char* expected;
};

const Variable kVariables[] = {
    {"CLUSTER_SIM_TOKEN_TTL", ParseTokenTtl, "a number of seconds"},
    {"CLUSTER_SIM_FAULT_RATE", ParseFaultRateList,
     "a comma-separated list of KIND:P, KIND one of 503, 429, reset, truncated and P from 0 to 1"},
    {"CLUSTER_SIM_SEED", ParseSeed, "a number"},
    {"CLUSTER_SIM_MAX_CONCURRENT", ParseMaxConcurrent, "a number of requests"},
    {"CLUSTER_SIM_LATENCY", ParseLatency, "MS or MS:JITTER, milliseconds up to 3600000"},
    {"CLUSTER_SIM_SYNTHETIC", ParseSynthetic, kSyntheticForm},
};

}  // namespace

const char* const kSyntheticForm =
    "files=N,dirs=M[,depth=D][,seed=S][,changes=C[,locality=L]] with N from 1";

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 19 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const uint64_t parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed > max) return false;
    *value = parsed;
    return true;
}

bool ParseTokenTtl(const std::string& text, Options* options) {
    uint64_t seconds = 0;
    if (!ParseUnsigned(text, UINT_MAX, &seconds)) return false;
    options->tokenTtlSeconds = static_cast<unsigned>(seconds);
    return true;
}

bool ParseFaultRate(const std::string& text, Options* options) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    double* rate = RateOf(text.substr(0, colon), &options->faultRates);
    return rate && ParseProbability(text.substr(colon + 1), rate);
}

bool ParseSeed(const std::string& text, Options* options) {
    return ParseFullUnsigned(text, &options->seed);
}

bool ParseMaxConcurrent(const std::string& text, Options* options) {
    uint64_t limit = 0;
    if (!ParseUnsigned(text, UINT_MAX, &limit)) return false;
    options->maxConcurrent = static_cast<unsigned>(limit);
    return true;
}

bool ParseLatency(const std::string& text, Options* options) {
    const size_t colon = text.find(':');
    uint64_t latency = 0;
    uint64_t jitter = 0;
    if (!ParseUnsigned(text.substr(0, colon), kMaxLatencyMs, &latency)) return false;
    if (colon != std::string::npos &&
        !ParseUnsigned(text.substr(colon + 1), kMaxLatencyMs, &jitter)) {
        return false;
    }
    options->latencyMs = static_cast<unsigned>(latency);
    options->latencyJitterMs = static_cast<unsigned>(jitter);
    return true;
}

bool ParseSynthetic(const std::string& text, Options* options) {
    static const std::set<std::string> kKeys = {"files", "dirs", "depth", "seed", "changes"};
    std::map<std::string, uint64_t> values;
    std::optional<double> locality;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string field = text.substr(start, comma - start);
        const size_t equals = field.find('=');
        const std::string key = field.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : field.substr(equals + 1);
        uint64_t number = 0;
        double fraction = 0;
        if (key == "locality" && !locality && ParseProbability(value, &fraction)) {
            locality = fraction;
        } else if (kKeys.count(key) == 0 || !ParseFullUnsigned(value, &number) ||
                   !values.emplace(key, number).second) {
            return false;
        }
        start = comma + 1;
    }
    if (values.count("files") == 0 || values.count("dirs") == 0 || values["files"] == 0) {
        return false;
    }
    SyntheticTree shape;
    shape.files = values["files"];
    shape.dirs = values["dirs"];
    if (values.count("depth")) {
        shape.depth = static_cast<unsigned>(std::min<uint64_t>(values["depth"], UINT_MAX));
    }
    if (values.count("seed")) shape.seed = values["seed"];
    shape.changes = values.count("changes") ? values["changes"] : 0;
    shape.locality = locality.value_or(1.0);
    options->synthetic = shape;
    return true;
}

bool CheckFaultRates(const FaultRates& rates, std::string* error) {
    double sum = 0;
    for (const double rate : {rates.unavailable, rates.busy, rates.reset, rates.truncated}) {
        if (!(rate >= 0 && rate <= 1)) {
            *error = "a fault rate must be from 0 to 1";
            return false;
        }
        sum += rate;
    }
    if (sum > 1 + kRateSlack) {
        *error = "the fault rates add up to more than 1";
        return false;
    }
    return true;
}

bool OptionsFromLookup(const std::function<const char*(const char*)>& lookup, Options* options,
                       std::string* error) {
    Options read = *options;
    for (const Variable& variable : kVariables) {
        const char* value = lookup(variable.name);
        if (value == nullptr || *value == '\0') continue;
        if (!variable.parse(value, &read)) {
            *error = std::string(variable.name) + ": \"" + value + "\" is not " + variable.expected;
            return false;
        }
    }
    if (!CheckFaultRates(read.faultRates, error)) {
        *error = "CLUSTER_SIM_FAULT_RATE: " + *error;
        return false;
    }
    if (!Synthetic::Check(read.synthetic, read.seed, error)) {
        *error = "CLUSTER_SIM_SYNTHETIC: " + *error;
        return false;
    }
    *options = read;
    return true;
}

bool OptionsFromEnvironment(Options* options, std::string* error) {
    return OptionsFromLookup([](const char* name) { return std::getenv(name); }, options, error);
}

}  // namespace clustersim
