#include "Cluster/ClusterQuery.h"

namespace Cluster {

CZuError MissingCollaboratorError(const FXCodeLocation& here) {
    return FXErrorUtil::ErrorWin32(here, 774,
                                   "The query object was built without a connection or parser");
}

}  // namespace Cluster
