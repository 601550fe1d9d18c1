// Internal to the library: no exception leaves a library operation. Each exported operation
// is a function-try-block whose handler returns ErrorFromException(FX_CODE_LOCATION): whatever
// escaped its work (an allocation failure above all, as a reply near the size limit is turned
// into records) becomes error 774 at that operation's location.
#pragma once

#include "platform/ZuUtils.h"

namespace Cluster {

// Call only inside a catch handler: classifies the exception being handled.
CZuError ErrorFromException(const FXCodeLocation& here);

}  // namespace Cluster
