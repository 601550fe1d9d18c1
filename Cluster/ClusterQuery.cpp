#include "Cluster/ClusterQuery.h"

#include <algorithm>

#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterSecrets.h"

namespace Cluster {

CZuError MissingCollaboratorError(const FXCodeLocation& here) {
    return FXErrorUtil::ErrorWin32(here, kErrorGeneric,
                                   "The query object was built without a connection or parser");
}

CZuError CheckPageLink(const std::string& link, const FXCodeLocation& here) {
    const bool absolutePath = link.size() >= 1 && link[0] == '/' && link.compare(0, 2, "//") != 0;
    const bool plainBytes = std::none_of(link.begin(), link.end(), [](char c) {
        const unsigned char byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7F || byte == '\\';
    });
    if (absolutePath && plainBytes) return CZuError::Success();
    return FXErrorUtil::ErrorWin32(here, kErrorGeneric,
                                   "Refused page link [%s]: not an absolute path on this cluster",
                                   Quote(link).c_str());
}

}  // namespace Cluster
