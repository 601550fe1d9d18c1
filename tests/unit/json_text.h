// Builds reply texts for the parser tests. Members keep the order they are given in and are
// written with blanks, so a message that quotes an element shows whether it was rewritten in
// compact form (keys sorted, no blanks) or copied from the reply.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace parser_test {

// Key and raw JSON text of its value, e.g. {"id", "42"} or {"name", "\"x\""}.
using Members = std::vector<std::pair<std::string, std::string>>;

inline std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

inline std::string ObjectText(const Members& members) {
    std::string text = "{ ";
    const char* separator = "";
    for (const auto& member : members) {
        text += separator + Quoted(member.first) + " : " + member.second;
        separator = ", ";
    }
    return text + " }";
}

// The compact form of an object whose values are already compact: keys sorted, no blanks.
inline std::string CompactObjectText(Members members) {
    std::sort(members.begin(), members.end());
    std::string text = "{";
    const char* separator = "";
    for (const auto& member : members) {
        text += separator + Quoted(member.first) + ":" + member.second;
        separator = ",";
    }
    return text + "}";
}

inline std::string ArrayText(const std::vector<std::string>& elements) {
    std::string text = "[ ";
    const char* separator = "";
    for (const std::string& element : elements) {
        text += separator + element;
        separator = ",\n  ";
    }
    return text + " ]";
}

inline Members Without(Members members, const std::string& key) {
    for (auto member = members.begin(); member != members.end(); ++member) {
        if (member->first == key) {
            members.erase(member);
            break;
        }
    }
    return members;
}

// Replaces the key's value, or adds the key at the end.
inline Members With(Members members, const std::string& key, const std::string& value) {
    for (auto& member : members) {
        if (member.first == key) {
            member.second = value;
            return members;
        }
    }
    members.emplace_back(key, value);
    return members;
}

}  // namespace parser_test
