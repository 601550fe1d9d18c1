// The one-line text forms the walking layer writes for units and checkpoints: fields that
// hold any byte yet never split a line, and plain decimal numbers. Internal to the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clusterwalk {

// Stands for an empty text or list.
constexpr const char* kEmptyField = "-";

// `text` with every byte that could split a field or a line, or be taken for the empty mark,
// as %XX; the empty text as kEmptyField.
std::string EscapeField(const std::string& text);
// The reverse of EscapeField; false when `field` is not one it could have made.
bool UnescapeField(const std::string& field, std::string& text);
// Digits only, at most 20, within 64 bits: strtoull alone would take signs, spaces and "0x".
bool ParseDecimal(const std::string& text, uint64_t& number);
// What the exception being handled says; call it only inside a catch block.
std::string CurrentExceptionText();
// The parts of `text` between separators, empty ones included.
std::vector<std::string> SplitText(const std::string& text, char separator);

}  // namespace clusterwalk
