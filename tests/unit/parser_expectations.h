// Shared checks for the parser and conversion tests: the error a call returned, compared as a
// whole (code, formatted message, trail of file and function texts in order).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/ZuUtils.h"
#include "tests/support/Signatures.h"

namespace parser_test {

// Short names for the trail texts the conversion tests match.
constexpr const char* kTimeFunction = signatures::kConvertStringToTimeStamp;
constexpr const char* kPathFunction = signatures::kConvertPathToURLEncoding;

// Every location of this library is made in the parser's source file.
constexpr const char* kParserFile = "ClusterParser";

inline std::vector<std::string> TrailFunctions(const CZuError& error) {
    std::vector<std::string> functions;
    for (const CZuError::Location& location : error.GetLocations()) {
        functions.push_back(location.function);
    }
    return functions;
}

// A failure with this code and exact message, whose trail holds these functions in order (the
// creation site first), every one of them in the parser's source file.
inline ::testing::AssertionResult IsFailure(const CZuError& error, unsigned int code,
                                            const std::string& message,
                                            const std::vector<std::string>& functions) {
    if (!error.IsError()) return ::testing::AssertionFailure() << "the call succeeded";
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    bool ok = true;
    std::string why;
    if (error.GetCode() != code) {
        ok = false;
        why += "\n  code " + std::to_string(error.GetCode()) + ", expected " + std::to_string(code);
    }
    if (error.GetMessage() != message) {
        ok = false;
        why += "\n  message:  " + error.GetMessage() + "\n  expected: " + message;
    }
    const std::vector<std::string> actual = TrailFunctions(error);
    if (actual != functions) {
        ok = false;
        why += "\n  trail:";
        for (const std::string& function : actual) why += "\n    " + function;
        why += "\n  expected trail:";
        for (const std::string& function : functions) why += "\n    " + function;
    }
    for (const CZuError::Location& location : error.GetLocations()) {
        if (location.file != kParserFile) {
            ok = false;
            why += "\n  location file " + location.file + " in " + location.function;
        }
        if (location.line <= 0) {
            ok = false;
            why += "\n  no line in " + location.function;
        }
    }
    if (ok) return result;
    return ::testing::AssertionFailure() << why;
}

}  // namespace parser_test
