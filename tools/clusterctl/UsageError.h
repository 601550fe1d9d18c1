// A mistake in how clusterctl was called that the argument parser cannot see; it ends the
// run with exit status 2 like a parse error.
#pragma once

#include <stdexcept>

namespace clusterctl {

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace clusterctl
