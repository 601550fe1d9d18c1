// The client's transfer answering from the script in ScriptedTNLibCurl.h; the client itself
// (platform/TNLibCurl.cpp) is the real one. Success follows the real transfer: true only for a
// 2xx answer that no limit cut short.
#include "tests/scripted/ScriptedTNLibCurl.h"

#include <deque>
#include <mutex>

#include "platform/TNLibCurlTransfer.h"

namespace scripted {
namespace {

struct Reply {
    long status = 0;
    std::string body;
    std::string limitText;  // set when a limit of the client ended the reply
};

struct Script {
    std::mutex mutex;
    std::deque<Reply> replies;
    std::vector<Request> requests;
};

Script& TheScript() {
    static Script script;
    return script;
}

// Records the request and hands out the reply meant for it; false when none was queued.
bool Exchange(const Request& request, Reply& reply) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.requests.push_back(request);
    if (script.replies.empty()) return false;
    reply = std::move(script.replies.front());
    script.replies.pop_front();
    return true;
}

const char* MethodName(_http_req_type_ type) {
    switch (type) {
        case HTTP_REQ_GET:
            return "GET";
        case HTTP_REQ_POST:
            return "POST";
        case HTTP_REQ_PUT:
            return "PUT";
        case HTTP_REQ_DELETE:
            return "DELETE";
    }
    return nullptr;
}

}  // namespace

void Queue(long status, const std::string& body) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.replies.push_back({status, body, std::string()});
}

void QueueCutShort(long status, const std::string& body, const std::string& limitText) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.replies.push_back({status, body, limitText});
}

std::vector<Request> TakeRequests() {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    std::vector<Request> taken;
    taken.swap(script.requests);
    return taken;
}

size_t PendingReplies() {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.replies.size();
}

void Reset() {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.replies.clear();
    script.requests.clear();
}

}  // namespace scripted

namespace {

// Answers from the script instead of a network.
class ScriptedTransfer : public tnlibcurl::Transfer {
  public:
    // The library always collects replies itself; a write callback is refused, not faked.
    bool Init(TNLibCurlWriteCallback callback, TNLibCurl*) override { return callback == nullptr; }

    bool Perform(const tnlibcurl::Request& sent, tnlibcurl::Reply& reply) override {
        scripted::Request request;
        request.method = scripted::MethodName(sent.type);
        request.url = sent.url;
        if (sent.body != nullptr) {
            request.body.assign(static_cast<const char*>(sent.body), sent.length);
        }
        request.headers = sent.headers;
        request.verifyPeer = sent.verifyPeer;
        request.verifyHost = sent.verifyHost;
        request.followRedirects = sent.followRedirects;
        request.viaProxy = sent.proxy != nullptr;

        scripted::Reply queued;
        if (!scripted::Exchange(request, queued) || queued.status == 0) {
            reply.errorText = "no answer";
            return false;
        }
        reply.answered = true;
        reply.status = queued.status;
        reply.body = std::move(queued.body);
        if (!queued.limitText.empty()) {
            reply.limitText = queued.limitText;
            return false;
        }
        return reply.status >= 200 && reply.status < 300;
    }
};

}  // namespace

namespace tnlibcurl {

std::unique_ptr<Transfer> MakeTransfer() {
    return std::unique_ptr<Transfer>(new ScriptedTransfer);
}

}  // namespace tnlibcurl
