// What every client does alike, whatever carries its requests (see TNLibCurlTransfer.h).
#include "platform/TNLibCurl.h"

#include <mutex>
#include <new>

#include "platform/TNLibCurlTransfer.h"

namespace {

std::mutex& DefaultsMutex() {
    static std::mutex mutex;
    return mutex;
}

TNLibCurl::Defaults& DefaultsInstance() {
    static TNLibCurl::Defaults defaults;
    return defaults;
}

// False when the copy could not be made (no memory).
bool CopyDefaults(TNLibCurl::Defaults& out) {
    try {
        std::lock_guard<std::mutex> lock(DefaultsMutex());
        out = DefaultsInstance();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

struct TNLibCurl::Impl {
    std::unique_ptr<tnlibcurl::Transfer> transfer;
    bool initialised = false;
    bool verifyPeer = true;
    bool verifyHost = true;
    std::string defaultHeader;
    std::vector<std::string> headerLines;
    tnlibcurl::Reply last;
    std::shared_ptr<const std::atomic<bool>> abandon;
    std::shared_ptr<const TNLibCurl::Trust> trust;

    // Builds what the transfer needs; may throw std::bad_alloc.
    void Describe(tnlibcurl::Request& request) const {
        if (!defaultHeader.empty()) request.headers.push_back(defaultHeader);
        request.headers.insert(request.headers.end(), headerLines.begin(), headerLines.end());
        request.verifyPeer = verifyPeer;
        request.verifyHost = verifyHost;
        if (!CopyDefaults(request.limits)) throw std::bad_alloc();
        if (trust) {
            request.limits.caFile = trust->caFile;
            request.limits.insecure = trust->insecure;
        }
    }
};

void TNLibCurl::SetDefaults(const Defaults& defaults) {
    try {
        std::lock_guard<std::mutex> lock(DefaultsMutex());
        DefaultsInstance() = defaults;
    } catch (...) {
        // Without memory for the copy the previous settings stay.
    }
}

TNLibCurl::Defaults TNLibCurl::GetDefaults() {
    Defaults copy;
    if (!CopyDefaults(copy)) return Defaults();
    return copy;
}

TNLibCurl::TNLibCurl() : m_impl(new (std::nothrow) Impl) {
    if (!m_impl) return;
    try {
        m_impl->transfer = tnlibcurl::MakeTransfer();
    } catch (...) {
        // Init then reports the failure.
    }
}

TNLibCurl::~TNLibCurl() = default;

bool TNLibCurl::TNLibCurlInit(const char* defaultHeader, bool verifyPeer, bool verifyHost,
                              TNLibCurlWriteCallback callback) {
    if (!m_impl || !m_impl->transfer) return false;
    Impl& impl = *m_impl;
    try {
        impl.defaultHeader = defaultHeader != nullptr ? defaultHeader : "";
        if (!impl.transfer->Init(callback, this)) return false;
    } catch (...) {
        return false;
    }
    impl.verifyPeer = verifyPeer;
    impl.verifyHost = verifyHost;
    impl.initialised = true;
    return true;
}

bool TNLibCurl::IsInitialised() const {
    return m_impl && m_impl->initialised;
}

void TNLibCurl::TNLibCurlFreeHttpHeaderList() {
    if (m_impl) m_impl->headerLines.clear();
}

bool TNLibCurl::TNLibCurlAppendHeader(_http_hdr_type_ type, const char* line) {
    if (!m_impl || type != HTTP_HDR_HTTPHEADER || line == nullptr) return false;
    try {
        m_impl->headerLines.emplace_back(line);
    } catch (...) {
        return false;
    }
    return true;
}

bool TNLibCurl::TNLibCurlSendHttpReq(_http_req_type_ type, const char* url, const void* body,
                                     unsigned long length, bool followRedirects,
                                     const char* proxy) {
    if (!m_impl) return false;
    Impl& impl = *m_impl;
    impl.last = tnlibcurl::Reply();
    if (!impl.initialised || url == nullptr) return false;
    if (type != HTTP_REQ_GET && type != HTTP_REQ_POST && type != HTTP_REQ_PUT &&
        type != HTTP_REQ_DELETE) {
        return false;
    }
    if (impl.abandon && impl.abandon->load()) {
        impl.last.errorText = kCancelledText;
        impl.last.code = tnlibcurl::kCodeAborted;
        return false;
    }
    try {
        tnlibcurl::Request request;
        request.abandon = impl.abandon.get();
        request.type = type;
        request.url = url;
        request.body = body;
        request.length = length;
        request.followRedirects = followRedirects;
        request.proxy = proxy;
        impl.Describe(request);
        return impl.transfer->Perform(request, impl.last);
    } catch (const std::bad_alloc&) {
        impl.last.limitText = tnlibcurl::kOutOfMemory;
        impl.last.code = tnlibcurl::kCodeOutOfMemory;
    } catch (...) {
        impl.last.errorText = "the request could not be made";
        impl.last.code = tnlibcurl::kCodeFailedInit;
    }
    return false;
}

const char* TNLibCurl::GetHttpResponse(unsigned long& length, bool nullIfEmpty) {
    length = 0;
    if (!m_impl) return nullptr;
    const tnlibcurl::Reply& last = m_impl->last;
    length = last.body.size();
    if (!last.answered && last.body.empty()) return nullptr;
    if (nullIfEmpty && last.body.empty()) return nullptr;
    return last.body.c_str();
}

long TNLibCurl::GetLastHttpStatus() const {
    return m_impl ? m_impl->last.status : 0;
}

std::string TNLibCurl::GetLastErrorText() const {
    try {
        if (!m_impl) return "out of memory";
        const tnlibcurl::Reply& last = m_impl->last;
        return !last.limitText.empty() ? last.limitText : last.errorText;
    } catch (...) {
        return std::string();
    }
}

std::string TNLibCurl::GetLastLimitText() const {
    try {
        return m_impl ? m_impl->last.limitText : std::string();
    } catch (...) {
        return std::string();
    }
}

int TNLibCurl::GetLastTransportCode() const {
    return m_impl ? m_impl->last.code : tnlibcurl::kCodeOutOfMemory;
}

bool TNLibCurl::GetLastRequestSent() const {
    return m_impl && m_impl->last.sent;
}

void TNLibCurl::SetAbandonFlag(std::shared_ptr<const std::atomic<bool>> flag) {
    if (m_impl) m_impl->abandon = std::move(flag);
}

std::shared_ptr<const std::atomic<bool>> TNLibCurl::GetAbandonFlag() const {
    return m_impl ? m_impl->abandon : nullptr;
}

void TNLibCurl::SetTrust(std::shared_ptr<const Trust> trust) {
    if (m_impl) m_impl->trust = std::move(trust);
}

std::shared_ptr<const TNLibCurl::Trust> TNLibCurl::GetTrust() const {
    return m_impl ? m_impl->trust : nullptr;
}

long TNLibCurl::GetLastRetryAfterSeconds() const {
    return m_impl ? m_impl->last.retryAfterSeconds : -1;
}
