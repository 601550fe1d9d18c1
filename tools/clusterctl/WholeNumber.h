// Counts read from text that people or a checkpoint wrote.
#pragma once

#include <cstdint>
#include <string>

namespace clusterctl {

// Digits only, at least one, within 64 bits. `value` is meaningful only when it returns true.
bool ReadWholeNumber(const std::string& text, uint64_t& value);

}  // namespace clusterctl
