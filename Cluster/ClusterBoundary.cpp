#include "Cluster/ClusterBoundary.h"

#include <exception>
#include <new>

namespace Cluster {

CZuError ErrorFromException(const FXCodeLocation& here) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return FXErrorUtil::ErrorWin32(here, 774, "Out of memory");
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, 774, "Unexpected failure: %s", exception.what());
    } catch (...) {
        return FXErrorUtil::ErrorWin32(here, 774, "Unexpected failure");
    }
}

}  // namespace Cluster
