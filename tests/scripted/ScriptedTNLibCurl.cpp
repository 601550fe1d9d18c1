// TNLibCurl as platform/TNLibCurl.h declares it, answering from the script in
// ScriptedTNLibCurl.h. Success, reply and status follow the real client: true only for a 2xx
// answer, and the body of the last answer stays readable after a failure.
#include "tests/scripted/ScriptedTNLibCurl.h"

#include <deque>
#include <mutex>

#include "platform/TNLibCurl.h"

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
    TNLibCurl::Defaults defaults;
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

struct TNLibCurl::Impl {
    bool initialised = false;
    bool verifyPeer = true;
    bool verifyHost = true;
    std::string defaultHeader;
    std::vector<std::string> headerLines;
    std::string body;
    bool answered = false;
    long status = 0;
    std::string errorText;
    std::string limitText;

    std::vector<std::string> Headers() const {
        std::vector<std::string> headers;
        if (!defaultHeader.empty()) headers.push_back(defaultHeader);
        headers.insert(headers.end(), headerLines.begin(), headerLines.end());
        return headers;
    }
};

void TNLibCurl::SetDefaults(const Defaults& defaults) {
    scripted::Script& script = scripted::TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.defaults = defaults;
}

TNLibCurl::Defaults TNLibCurl::GetDefaults() {
    scripted::Script& script = scripted::TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.defaults;
}

TNLibCurl::TNLibCurl() : m_impl(new Impl) {}

TNLibCurl::~TNLibCurl() = default;

// The library always collects replies itself; a write callback is refused rather than faked.
bool TNLibCurl::TNLibCurlInit(const char* defaultHeader, bool verifyPeer, bool verifyHost,
                              TNLibCurlWriteCallback callback) {
    if (callback != nullptr) return false;
    m_impl->defaultHeader = defaultHeader != nullptr ? defaultHeader : "";
    m_impl->verifyPeer = verifyPeer;
    m_impl->verifyHost = verifyHost;
    m_impl->initialised = true;
    return true;
}

void TNLibCurl::TNLibCurlFreeHttpHeaderList() {
    m_impl->headerLines.clear();
}

bool TNLibCurl::TNLibCurlAppendHeader(_http_hdr_type_ type, const char* line) {
    if (type != HTTP_HDR_HTTPHEADER || line == nullptr) return false;
    m_impl->headerLines.emplace_back(line);
    return true;
}

bool TNLibCurl::TNLibCurlSendHttpReq(_http_req_type_ type, const char* url, const void* body,
                                     unsigned long length, bool followRedirects,
                                     const char* proxy) {
    Impl& impl = *m_impl;
    impl.body.clear();
    impl.answered = false;
    impl.status = 0;
    impl.errorText.clear();
    impl.limitText.clear();
    const char* method = scripted::MethodName(type);
    if (!impl.initialised || url == nullptr || method == nullptr) return false;

    scripted::Request request;
    request.method = method;
    request.url = url;
    if (body != nullptr) request.body.assign(static_cast<const char*>(body), length);
    request.headers = impl.Headers();
    request.verifyPeer = impl.verifyPeer;
    request.verifyHost = impl.verifyHost;
    request.followRedirects = followRedirects;
    request.viaProxy = proxy != nullptr;

    scripted::Reply reply;
    if (!scripted::Exchange(request, reply) || reply.status == 0) {
        impl.errorText = "no answer";
        return false;
    }
    impl.answered = true;
    impl.status = reply.status;
    impl.body = std::move(reply.body);
    if (!reply.limitText.empty()) {
        impl.limitText = reply.limitText;
        impl.errorText = reply.limitText;
        return false;
    }
    return impl.status >= 200 && impl.status < 300;
}

const char* TNLibCurl::GetHttpResponse(unsigned long& length, bool nullIfEmpty) {
    const Impl& impl = *m_impl;
    length = impl.body.size();
    if (!impl.answered && impl.body.empty()) return nullptr;
    if (nullIfEmpty && impl.body.empty()) return nullptr;
    return impl.body.c_str();
}

long TNLibCurl::GetLastHttpStatus() const {
    return m_impl->status;
}

std::string TNLibCurl::GetLastErrorText() const {
    return m_impl->errorText;
}

std::string TNLibCurl::GetLastLimitText() const {
    return m_impl->limitText;
}
