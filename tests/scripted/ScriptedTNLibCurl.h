// The test side of the scripted TNLibCurl (ScriptedTNLibCurl.cpp): tests queue the replies the
// "cluster" gives and read back every request the library sent. The script is process-wide,
// because the library makes its own client objects. Safe to use from several threads.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace scripted {

// One request as the library handed it to the client.
struct Request {
    std::string method;  // "GET", "POST", "PUT" or "DELETE"
    std::string url;
    std::string body;
    std::vector<std::string> headers;  // the client's default header first, then the others
    bool verifyPeer = false;
    bool verifyHost = false;
    bool followRedirects = false;
    bool viaProxy = false;
};

// Each request takes the oldest queued reply; with none queued it gets no answer. Status 0
// stands for no answer at all, as when the host cannot be reached.
void Queue(long status, const std::string& body);
// A reply that one of the client's own limits cut short: the request fails, `body` is what
// came before, and the client reports `limitText` (e.g. "the reply exceeded the limit of
// 1024 bytes") as its limit and error text.
void QueueCutShort(long status, const std::string& body, const std::string& limitText);

// The requests sent since the last call, oldest first.
std::vector<Request> TakeRequests();
size_t PendingReplies();

// Forgets the queued replies and the requests.
void Reset();

}  // namespace scripted
