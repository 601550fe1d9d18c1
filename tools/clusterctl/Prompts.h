// What clusterctl asks a person: the password, which is never taken from the command line,
// where other users of the machine could read it from the process list, and confirmations.
#pragma once

#include <string>

namespace clusterctl {

// The first line of the file, without its line ending; warns on stderr when group or others
// may read the file. Throws UsageError when it is unreadable or the line is empty.
std::string ReadPasswordFile(const std::string& path);

// Asks on stderr and reads one line from the terminal on stdin with echo turned off.
// Throws UsageError when stdin is not a terminal.
std::string PromptForPassword(const std::string& prompt);

// Asks a yes/no question on stderr and reads the answer from stdin; only "y" or "yes" agree.
bool Confirm(const std::string& question);

}  // namespace clusterctl
