#include "Cluster/ClusterListings.h"

#include "platform/TnJson.h"

namespace Cluster {

CZuError ReadNextLink(const ListingScan& scan, const std::string& text, std::string& nextLink,
                      const FXCodeLocation& here) {
    if (!scan.Paging().present || scan.Paging().kind != json_spirit::obj_type) {
        return FXErrorUtil::ErrorWin32(
            here, kErrorGeneric, "No paging section present in the JSON %s", Quote(text).c_str());
    }
    const ScannedValue& next = scan.Next();
    if (next.present && next.kind == json_spirit::str_type) {
        nextLink.assign(next.text, next.length);
        return CZuError::Success();
    }
    // Read again as a value tree, whose getter says what is wrong with "next".
    try {
        nextLink = TnJson::GetStringValue(scan.PagingValue(text).get_obj(), "next");
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kErrorGeneric,
                                       "Cannot retrieve paging:next from the JSON %s due to %s",
                                       Quote(text).c_str(), Quote(exception.what()).c_str());
    }
    return CZuError::Success();
}

}  // namespace Cluster
