// Base64 (RFC 4648, with padding): carries bytes that are not text through JSON.
#pragma once

#include <string>

namespace clusterctl {

std::string Base64(const std::string& bytes);

}  // namespace clusterctl
