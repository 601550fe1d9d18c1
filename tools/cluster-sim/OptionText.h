// Option values as text, read one way for cluster-sim's flags and for the environment of an
// embedded simulator, so that the two cannot disagree.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ClusterSim.h"

namespace clustersim {

// Decimal digits only, at most `max`.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value);

// Each returns false, leaving the option alone, when the text is not a value for it.
bool ParseTokenTtl(const std::string& text, Options* options);       // SECONDS
bool ParseFaultRate(const std::string& text, Options* options);      // KIND:P
bool ParseSeed(const std::string& text, Options* options);           // N
bool ParseMaxConcurrent(const std::string& text, Options* options);  // N
bool ParseLatency(const std::string& text, Options* options);        // MS or MS:JITTER
// files=N,dirs=M[,depth=D][,seed=S][,changes=C[,locality=L]], each key once, in any order,
// L a plain decimal. Only the text is checked here; Synthetic::Check says whether the numbers
// make a tree that holds its changes.
bool ParseSynthetic(const std::string& text, Options* options);
// What ParseSynthetic takes, for messages.
extern const char* const kSyntheticForm;

// Each rate from 0 to 1 and their sum at most 1; otherwise false with the reason.
bool CheckFaultRates(const FaultRates& rates, std::string* error);

// OptionsFromEnvironment with `lookup` in place of getenv (null: unset).
bool OptionsFromLookup(const std::function<const char*(const char*)>& lookup, Options* options,
                       std::string* error);

}  // namespace clustersim
