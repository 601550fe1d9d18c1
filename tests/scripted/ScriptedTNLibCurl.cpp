// The client's transfer answering from the script in ScriptedTNLibCurl.h; the client itself
// (platform/TNLibCurl.cpp) is the real one. Success follows the real transfer: true only for a
// 2xx answer that no limit or transport error cut short.
#include "tests/scripted/ScriptedTNLibCurl.h"

#include <deque>
#include <mutex>

#include "platform/TNLibCurlTransfer.h"

namespace scripted {
namespace {

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

void Queue(const Reply& reply) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.replies.push_back(reply);
}

void Queue(long status, const std::string& body) {
    Reply reply;
    reply.status = status;
    reply.body = body;
    if (status == 0) {
        reply.transportCode = kCouldNotConnect;
        reply.transportText = "no answer";
        reply.sent = false;
    }
    Queue(reply);
}

void QueueCutShort(long status, const std::string& body, const std::string& limitText) {
    Reply reply;
    reply.status = status;
    reply.body = body;
    reply.limitText = limitText;
    reply.transportCode = kWriteError;
    Queue(reply);
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
        if (!scripted::Exchange(request, queued)) {
            reply.errorText = "no answer";
            reply.code = scripted::kCouldNotConnect;
            return false;
        }
        reply.answered = queued.status != 0;
        reply.status = queued.status;
        // Without an answer there is no body, as with the real transfer.
        if (reply.answered) reply.body = std::move(queued.body);
        reply.code = queued.transportCode;
        reply.errorText = queued.transportText;
        reply.limitText = queued.limitText;
        reply.sent = queued.sent;
        reply.retryAfterSeconds = queued.retryAfterSeconds;
        return reply.answered && reply.code == 0 && reply.limitText.empty() &&
               reply.status >= 200 && reply.status < 300;
    }
};

}  // namespace

namespace tnlibcurl {

std::unique_ptr<Transfer> MakeTransfer() {
    return std::unique_ptr<Transfer>(new ScriptedTransfer);
}

}  // namespace tnlibcurl
