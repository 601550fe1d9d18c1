#include "Cluster/ClusterFields.h"

namespace Cluster {
namespace {
thread_local const ElementHandOff* t_currentHandOff = nullptr;
}  // namespace

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

ElementHandOff::ElementHandOff(const json_spirit::mObject& element)
    : m_element(element), m_previous(t_currentHandOff) {
    t_currentHandOff = this;
}

ElementHandOff::~ElementHandOff() { t_currentHandOff = m_previous; }

const ElementHandOff* ElementHandOff::Of(const std::string& text) {
    for (const ElementHandOff* handOff = t_currentHandOff; handOff != nullptr;
         handOff = handOff->m_previous) {
        if (&handOff->m_placeholder == &text) return handOff;
    }
    return nullptr;
}

ParsedObject::ParsedObject(const std::string& text)
    : m_text(text), m_handOff(ElementHandOff::Of(text)) {
    if (m_handOff == nullptr) m_isObject = TnJson::Unserialize(text, m_parsed);
}

CZuError NotAnObjectError(const json_spirit::mValue& element, const char* badEntryFormat,
                          const FXCodeLocation& here) {
    std::string reason;
    try {
        element.get_obj();
    } catch (const std::exception& exception) {
        reason = exception.what();
    }
    return FXErrorUtil::ErrorWin32(here, kParseError, badEntryFormat,
                                   json_spirit::write_string(element, 0).c_str(), reason.c_str());
}

CZuError ReadNextLink(const json_spirit::mObject& reply, const std::string& text,
                      std::string& nextLink, const FXCodeLocation& here) {
    const auto paging = reply.find("paging");
    if (paging == reply.end() || paging->second.type() != json_spirit::obj_type) {
        return FXErrorUtil::ErrorWin32(here, kParseError, "No paging section present in the JSON %s",
                                       text.c_str());
    }
    try {
        nextLink = TnJson::GetStringValue(paging->second.get_obj(), "next");
    } catch (const std::exception& exception) {
        return FXErrorUtil::ErrorWin32(here, kParseError,
                                       "Cannot retrieve paging:next from the JSON %s due to %s",
                                       text.c_str(), exception.what());
    }
    return CZuError::Success();
}

}  // namespace Cluster
