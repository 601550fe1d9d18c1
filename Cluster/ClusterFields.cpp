#include "Cluster/ClusterFields.h"

#include <stdexcept>

namespace Cluster {
namespace {

thread_local const ElementHandOff* t_currentHandOff = nullptr;

// Lets the wrapper's getter name the problem with a value, as it does for the value tree.
template <class Getter>
[[noreturn]] void ThrowAsTheWrapper(const ScannedValue& value, const char* key, Getter getter) {
    json_spirit::mObject object;
    if (value.present) object[key] = value.ToValue();
    getter(object, key);
    throw TnJsonError(std::string("key '") + key + "' cannot be read");
}

}  // namespace

TextRef ScannedFields::Text(size_t slot, const char* key) const {
    const ScannedValue& value = m_slots[slot];
    if (!value.present || value.kind != json_spirit::str_type) {
        ThrowAsTheWrapper(value, key, TnJson::GetStringValue);
    }
    return TextRef{value.text, value.length};
}

bool ScannedFields::Flag(size_t slot, const char* key) const {
    const ScannedValue& value = m_slots[slot];
    if (!value.present || value.kind != json_spirit::bool_type) {
        ThrowAsTheWrapper(value, key, TnJson::GetBoolValue);
    }
    return value.flag;
}

uint64_t ScannedFields::Number(size_t slot, const char* key) const {
    const ScannedValue& value = m_slots[slot];
    const bool unsignedNumber = value.present && value.kind == json_spirit::int_type &&
                                (value.isUnsigned || value.integer >= 0);
    if (!unsignedNumber) ThrowAsTheWrapper(value, key, TnJson::GetUInt64Value);
    return value.isUnsigned ? value.unsignedInteger : static_cast<uint64_t>(value.integer);
}

bool ReadOperation(const std::string& text, SnapshotDiffOperation& operation) {
    if (text == "CREATE") {
        operation = SNAPSHOT_DIFF_CREATE;
    } else if (text == "DELETE") {
        operation = SNAPSHOT_DIFF_DELETE;
    } else if (text == "MODIFY") {
        operation = SNAPSHOT_DIFF_MODIFY;
    } else {
        return false;
    }
    return true;
}

ElementHandOff::ElementHandOff(const ListingScan& scan, const std::string& text,
                               const ScannedElement& element)
    : m_scan(scan), m_text(text), m_element(element), m_previous(t_currentHandOff) {
    t_currentHandOff = this;
}

ElementHandOff::~ElementHandOff() {
    t_currentHandOff = m_previous;
}

const ElementHandOff* ElementHandOff::Of(const std::string& text) {
    for (const ElementHandOff* handOff = t_currentHandOff; handOff != nullptr;
         handOff = handOff->m_previous) {
        if (&handOff->m_placeholder == &text) return handOff;
    }
    return nullptr;
}

std::string NotAnObjectReason(const ScannedElement& element) {
    try {
        element.scalar.ToValue().get_obj();
    } catch (const std::exception& exception) {
        return exception.what();
    }
    return std::string();
}

CZuError ReadNextLink(const ListingScan& scan, const std::string& text, std::string& nextLink,
                      const FXCodeLocation& here) {
    if (!scan.Paging().present || scan.Paging().kind != json_spirit::obj_type) {
        return FXErrorUtil::ErrorWin32(
            here, kParseError, "No paging section present in the JSON %s", Quote(text).c_str());
    }
    try {
        nextLink = OwnText(ScannedFields(&scan.Next()).Text(0, "next"));
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kParseError,
                                       "Cannot retrieve paging:next from the JSON %s due to %s",
                                       Quote(text).c_str(), Quote(exception.what()).c_str());
    }
    return CZuError::Success();
}

}  // namespace Cluster
