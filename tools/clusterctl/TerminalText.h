// Text from the cluster on its way to a terminal. A name or an error reply may hold escape
// sequences that clear the screen or retitle the window, line ends that forge table rows, or
// bidirectional overrides that show a name reversed; all of it is shown escaped, as `ls -b`
// does, so people see exactly which bytes the cluster sent.
#pragma once

#include <cstddef>
#include <string>

namespace clusterctl {

// Control characters as C escapes ("\n", "\t", "\e") or octal ("\000", "\177"), C1 controls and
// invisible direction marks as "\u0085" or "\u202e", bytes that are not UTF-8 as octal
// ("\377"), and the backslash itself as "\\". Everything else passes unchanged.
std::string EscapeForTerminal(const std::string& text);

// The columns escaped text takes: counted in characters, not bytes, so UTF-8 names line up
// too; escaped text is valid UTF-8, so every byte that starts a character is one column.
size_t DisplayWidth(const std::string& escapedText);

}  // namespace clusterctl
