// Keeps passwords and bearer tokens out of log lines and error messages. Internal to the
// library: the bytes sent and the replies handed back are never changed, only the texts
// quoted in messages.
#pragma once

#include <string>

namespace Cluster {

// The value of every "password" and "bearer_token" member becomes "***". Works on any text,
// also on a reply that is truncated or not JSON at all.
std::string MaskSecrets(const std::string& text);

// "Authorization: …" header lines keep their name and scheme, never the credential.
std::string MaskHeaderLine(const std::string& line);

// A URL's user information ("user:password@") becomes "***@".
std::string MaskUrl(const std::string& url);

}  // namespace Cluster
