#include "Cluster/ClusterFields.h"

namespace Cluster {

TextRef ScannedFields::Text(size_t slot, const char*) const {
    const ScannedValue& value = m_slots[slot];
    if (!value.present || value.kind != json_spirit::str_type) throw UnreadableField();
    return TextRef{value.text, value.length};
}

bool ScannedFields::Flag(size_t slot, const char*) const {
    const ScannedValue& value = m_slots[slot];
    if (!value.present || value.kind != json_spirit::bool_type) throw UnreadableField();
    return value.flag;
}

// As the wrapper's getter: an integer of the value tree that is not negative.
uint64_t ScannedFields::Number(size_t slot, const char*) const {
    const ScannedValue& value = m_slots[slot];
    const bool unsignedNumber = value.present && value.kind == json_spirit::int_type &&
                                (value.isUnsigned || value.integer >= 0);
    if (!unsignedNumber) throw UnreadableField();
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

}  // namespace Cluster
