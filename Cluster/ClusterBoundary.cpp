#include "Cluster/ClusterBoundary.h"

#include <exception>
#include <new>

#include "Cluster/ClusterErrorCodes.h"

namespace Cluster {

CZuError ErrorFromException(const FXCodeLocation& here) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, "Out of memory");
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, "Unexpected failure: %s", exception.what());
    } catch (...) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric, "Unexpected failure");
    }
}

}  // namespace Cluster
