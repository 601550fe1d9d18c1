// What a long command keeps besides its output, for a checkpoint (ResumableRun.h).
#pragma once

#include <string>

namespace clusterctl {

class ResumableState {
  public:
    virtual ~ResumableState() = default;
    virtual std::string SaveState() = 0;
    // The reverse of SaveState, before a resumed run. Throws UsageError when the text is not
    // one SaveState made.
    virtual void RestoreState(const std::string& state) = 0;
};

}  // namespace clusterctl
