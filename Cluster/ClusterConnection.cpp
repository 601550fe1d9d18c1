#include "Cluster/ClusterConnection.h"

#include <rapidjson/reader.h>

#include <chrono>
#include <cstring>

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterSecrets.h"
#include "platform/json_spirit/json_spirit.h"

namespace Cluster {
namespace {

const char kLoginPath[] = "/v1/session/login";
const char kHeaderKind[] = "HTTPHEADER";

// The log writer's levels (ZuUtils.h): failures go at its most important one.
constexpr int kLogError = 1;
constexpr int kLogDebug = 2;

const char* MethodName(RequestType type) {
    switch (type) {
        case REQUEST_POST:
            return "POST";
        case REQUEST_GET:
            return "GET";
        case REQUEST_DELETE:
            return "DELETE";
    }
    return "?";
}

bool MapRequestType(RequestType type, _http_req_type_& mapped) {
    switch (type) {
        case REQUEST_POST:
            mapped = HTTP_REQ_POST;
            return true;
        case REQUEST_GET:
            mapped = HTTP_REQ_GET;
            return true;
        case REQUEST_DELETE:
            mapped = HTTP_REQ_DELETE;
            return true;
    }
    return false;
}

// Overwrites a copy of a secret so that it does not linger in freed memory.
void Wipe(std::string& secret) {
    volatile char* bytes = &secret[0];
    for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
    secret.clear();
}

std::string LoginBody(const string& userName, const string& password) {
    json_spirit::mObject login;
    // The texts end at an embedded NUL, as C strings would.
    login["password"] = std::string(password.c_str());
    login["username"] = std::string(userName.c_str());
    return json_spirit::write_string(json_spirit::mValue(std::move(login)), 0);
}

// RFC 6750's token characters, and ':' which the cluster's own tokens carry; anything else
// (a line break above all) would let the reply forge request headers.
bool IsUsableToken(const std::string& token) {
    static const size_t kLongestToken = 16 * 1024;
    if (token.size() > kLongestToken) return false;
    const size_t padding = token.find_last_not_of('=') + 1;
    for (size_t i = 0; i < padding; ++i) {
        const char c = token[i];
        const bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric && (c == '\0' || std::strchr("-._~+/:", c) == nullptr)) return false;
    }
    return true;
}

// Reads the top-level "error_class" and "description" strings of a JSON object, without
// building it: a reply can be as large as the client's limit. As the value tree would, the
// last member of a name counts; a member that is not a string counts as absent.
class ErrorReplyReader : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, ErrorReplyReader> {
  public:
    std::string errorClass;
    std::string description;

    bool Default() { return Value(nullptr, 0); }
    bool String(const char* text, rapidjson::SizeType length, bool) { return Value(text, length); }
    bool Key(const char* key, rapidjson::SizeType length, bool) {
        m_target = nullptr;
        if (m_depth != 1) return true;
        if (Is(key, length, "error_class")) m_target = &errorClass;
        if (Is(key, length, "description")) m_target = &description;
        return true;
    }
    bool StartObject() { return Open(); }
    bool StartArray() { return Open(); }
    bool EndObject(rapidjson::SizeType) { return Close(); }
    bool EndArray(rapidjson::SizeType) { return Close(); }

  private:
    static bool Is(const char* key, rapidjson::SizeType length, const char* name) {
        return length == std::strlen(name) && std::memcmp(key, name, length) == 0;
    }

    // Keys at depth 1 are members of the top level, which is then an object.
    bool Open() {
        Value(nullptr, 0);
        ++m_depth;
        return true;
    }
    bool Close() {
        --m_depth;
        return true;
    }
    // A member's value at the top level: a string is kept, anything else clears the member.
    bool Value(const char* text, rapidjson::SizeType length) {
        if (m_target != nullptr) {
            if (text != nullptr) {
                m_target->assign(text, length);
            } else {
                m_target->clear();
            }
            m_target = nullptr;
        }
        return true;
    }

    int m_depth = 0;
    std::string* m_target = nullptr;
};

// Fills the outcome's errorClass and description from a reply body, when it is a JSON object.
void ReadErrorReply(const std::string& response, CRequestOutcome& outcome) {
    // A NUL byte would end the reading early: such a body is no JSON.
    if (response.empty() || response.find('\0') != std::string::npos) return;
    ErrorReplyReader fields;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(response.c_str());
    if (reader.Parse<rapidjson::kParseIterativeFlag>(stream, fields).IsError()) return;
    outcome.errorClass = QuoteMasked(fields.errorClass);
    outcome.description = QuoteMasked(fields.description);
}

// The reason a rejected login gives: its "description" string, if it has one.
std::string RejectionReason(const std::string& response) {
    json_spirit::mValue reply;
    if (json_spirit::read_string(response, reply) && reply.type() == json_spirit::obj_type) {
        const auto description = reply.get_obj().find("description");
        if (description != reply.get_obj().end() &&
            description->second.type() == json_spirit::str_type) {
            // The event goes to the host's event log: a flood stays out of it.
            return Quote(description->second.get_str());
        }
    }
    return "authentication failed";
}

// A login that got no answer at all names what the transport said instead.
std::string LoginFailureReason(const CRequestOutcome& outcome, const std::string& response) {
    if (outcome.httpStatus == 0 && response.empty() && !outcome.transportText.empty()) {
        return outcome.transportText;
    }
    return RejectionReason(response);
}

void RaiseLoginEvent(const FXCodeLocation& location, const std::string& reason) {
    CZuError event = FXErrorUtil::ErrorEventMessage(location, ZU_EVENT_LOGIN_FAILED);
    event << kLoginPath << boost::any(reason);
    const boost::shared_ptr<ISendEventInterface> sender = ISendEventInterface::GetInstance();
    if (sender) sender->SendEvent(event, 0);
}

enum class TokenSearch { Found, Missing };

// Throws std::exception when the reply is not an object or the token is not a string. A token
// that could not go into a header line counts as missing.
TokenSearch ReadBearerToken(const std::string& response, std::string& token) {
    json_spirit::mValue reply;
    json_spirit::read_string(response, reply);
    const json_spirit::mObject& object = reply.get_obj();
    const auto member = object.find("bearer_token");
    if (member == object.end() || member->second.is_null()) return TokenSearch::Missing;
    if (!IsUsableToken(member->second.get_str())) return TokenSearch::Missing;
    token = member->second.get_str();
    return TokenSearch::Found;
}

// What the client says when one of its own limits ended the request (size, time).
std::string LimitNote(const TNLibCurl& client) {
    const std::string limit = client.GetLastLimitText();
    return limit.empty() ? std::string() : " - " + limit;
}

boost::shared_ptr<CLogWriterInterface> LogWriterFor(int level) {
    boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
    if (writer && writer->GetLogLevel() >= level) return writer;
    return boost::shared_ptr<CLogWriterInterface>();
}

// The one line a failed request leaves in the log: what was asked of whom, what came back,
// why it failed and how long it took. A line that cannot be made (no memory) is left out
// rather than change the error returned.
void LogFailure(const char* function, int sourceLine, RequestType type, const std::string& url,
                const CRequestOutcome& outcome) try {
    const boost::shared_ptr<CLogWriterInterface> writer = LogWriterFor(kLogError);
    if (!writer) return;
    std::string line = FXString::Format("Http request failed: %s [%s]", MethodName(type),
                                        Quote(MaskUrl(url)).c_str());
    line += outcome.httpStatus != 0 ? FXString::Format(", HTTP status %ld", outcome.httpStatus)
                                    : std::string(", no reply");
    if (!outcome.errorClass.empty()) line += ", error_class [" + outcome.errorClass + "]";
    if (!outcome.description.empty()) line += ", description [" + outcome.description + "]";
    if (outcome.transportCode != 0) {
        line += FXString::Format(", transport [%s] (code %d)", outcome.transportText.c_str(),
                                 outcome.transportCode);
    }
    if (!outcome.sent) line += ", not sent";
    if (outcome.retryAfterSeconds >= 0) {
        line += FXString::Format(", retry after %ld s", outcome.retryAfterSeconds);
    }
    line += FXString::Format(", %.3f s", outcome.elapsedSeconds);
    writer->WriteLog(kLogError, function, sourceLine, 0, 0, "%s", line.c_str());
} catch (...) {
}

}  // namespace

void ForgetRequestOutcome(CConnection& connection) {
    connection.m_lastOutcome = CRequestOutcome();
}

CZuError CConnection::Connect(const string& baseUrl, const string& userName,
                              const string& password) try {
    m_lastOutcome = CRequestOutcome();
    const std::shared_ptr<TNLibCurl> previousClient = m_ptrHttpClient;
    m_ptrHttpClient = std::unique_ptr<TNLibCurl>(new TNLibCurl);
    if (previousClient) {
        m_ptrHttpClient->SetAbandonFlag(previousClient->GetAbandonFlag());
        m_ptrHttpClient->SetTrust(previousClient->GetTrust());
    }
    if (!m_ptrHttpClient->TNLibCurlInit("Content-Type: application/json", true, true, nullptr)) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                       "Failed to initalize Curl Library");
    }
    std::string newBaseUrl = baseUrl;
    if (!newBaseUrl.empty() && newBaseUrl.back() == '/') newBaseUrl.pop_back();
    // A token goes only to the cluster that issued it.
    if (newBaseUrl != m_strBaseUrl) m_strAuthToken.clear();
    m_strBaseUrl = newBaseUrl;

    std::string response;
    std::string body = LoginBody(userName, password);
    CZuError error = SendRequest(REQUEST_POST, kLoginPath, body, response, {}, true);
    Wipe(body);
    if (error.IsError()) {
        RaiseLoginEvent(FX_CODE_LOCATION, LoginFailureReason(m_lastOutcome, response));
        return error.Push(FX_CODE_LOCATION);
    }

    const char* const kNoToken = "Failed to find authentication token in response";
    try {
        std::string token;
        if (ReadBearerToken(response, token) == TokenSearch::Missing) {
            RaiseLoginEvent(FX_CODE_LOCATION, kNoToken);
            return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                           "No Authorization Token found");
        }
        m_strAuthToken = token;
        return CZuError::Success();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& exception) {
        RaiseLoginEvent(FX_CODE_LOCATION, kNoToken);
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                       "Exception getting value [bearer-token] - [%s]",
                                       Quote(exception.what()).c_str());
    }
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CConnection::SendRequest(RequestType type, const string& path, const string& body,
                                  std::string& response,
                                  const std::vector<std::pair<std::string, std::string>>& headers,
                                  bool bLogOnSuccess) try {
    m_lastOutcome = CRequestOutcome();
    const std::string url = m_strBaseUrl + path;
    _http_req_type_ httpType = HTTP_REQ_GET;
    if (!MapRequestType(type, httpType)) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric, "Unsupported Request Type");
    }
    // Without a working client no login was ever attempted: the request cannot carry a token.
    // (A client that only holds the abandon flag has not been initialised.)
    if (!m_ptrHttpClient || !m_ptrHttpClient->IsInitialised()) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                       "Authorization Token is empty. Please make sure the "
                                       "connection is established first.");
    }
    if (!headers.empty()) {
        m_ptrHttpClient->TNLibCurlFreeHttpHeaderList();
        for (const auto& header : headers) {
            if (header.first != kHeaderKind) {
                return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorHeaderKind,
                                               "Unsupported Header Type : %s",
                                               Quote(header.first).c_str());
            }
            if (!m_ptrHttpClient->TNLibCurlAppendHeader(HTTP_HDR_HTTPHEADER,
                                                        header.second.c_str())) {
                return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                               "Failed to set Header %s",
                                               Quote(MaskHeaderLine(header.second)).c_str());
            }
        }
    }

    const auto started = std::chrono::steady_clock::now();
    const bool succeeded = m_ptrHttpClient->TNLibCurlSendHttpReq(httpType, url.c_str(), body.data(),
                                                                 body.size(), false, nullptr);
    CRequestOutcome& outcome = m_lastOutcome;
    outcome.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.sent = m_ptrHttpClient->GetLastRequestSent();
    outcome.httpStatus = m_ptrHttpClient->GetLastHttpStatus();
    outcome.transportCode = m_ptrHttpClient->GetLastTransportCode();
    if (outcome.transportCode != 0) {
        outcome.transportText = QuoteMasked(m_ptrHttpClient->GetLastErrorText());
    }
    outcome.retryAfterSeconds = m_ptrHttpClient->GetLastRetryAfterSeconds();
    unsigned long length = 0;
    const char* reply = m_ptrHttpClient->GetHttpResponse(length, false);
    if (reply != nullptr) {
        response.assign(reply, length);
    } else {
        response.clear();
    }
    if (!succeeded) {
        // Only a reply that failed the request with its status speaks for the cluster.
        if (outcome.httpStatus != 0 && (outcome.httpStatus < 200 || outcome.httpStatus >= 300)) {
            ReadErrorReply(response, outcome);
        }
        LogFailure(__PRETTY_FUNCTION__, __LINE__, type, url, outcome);
        return FXErrorUtil::ErrorWin32(
            FX_CODE_LOCATION, kErrorGeneric,
            "Error: API failed. operation [%d]. URL[%s]. Body [%s] Response [%s]%s",
            static_cast<int>(httpType), Quote(MaskUrl(url)).c_str(), QuoteMasked(body).c_str(),
            QuoteMasked(response).c_str(), LimitNote(*m_ptrHttpClient).c_str());
    }
    if (bLogOnSuccess) {
        if (const boost::shared_ptr<CLogWriterInterface> writer = LogWriterFor(kLogDebug)) {
            writer->WriteLog(kLogDebug, __PRETTY_FUNCTION__, __LINE__, 0, 0,
                             "Http request URL [%s], body [%s], response [%s]", Quote(path).c_str(),
                             QuoteMasked(body).c_str(), QuoteMasked(response).c_str());
        }
    }
    return CZuError::Success();
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

CZuError CConnection::SendRequest(RequestType type, const string& path, const string& body,
                                  std::string& response, bool bLogOnSuccess) try {
    const std::vector<std::pair<std::string, std::string>> headers{
        {kHeaderKind, FXString::Format("Authorization: Bearer %s", m_strAuthToken.c_str())}};
    return SendRequest(type, path, body, response, headers, bLogOnSuccess);
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

void CConnection::SetAbandonFlag(std::shared_ptr<const std::atomic<bool>> flag) try {
    // Before the first login the flag waits in a client that Connect replaces, passing it on.
    if (!m_ptrHttpClient) m_ptrHttpClient = std::make_shared<TNLibCurl>();
    m_ptrHttpClient->SetAbandonFlag(std::move(flag));
} catch (...) {
    // Without memory for a client the flag is not set; the connection works as before.
}

void CConnection::SetTrust(std::shared_ptr<const TNLibCurl::Trust> trust) try {
    if (!m_ptrHttpClient) m_ptrHttpClient = std::make_shared<TNLibCurl>();
    m_ptrHttpClient->SetTrust(std::move(trust));
} catch (...) {
    // Without memory for a client the trust is not set; the connection follows the Defaults.
}

CRequestOutcome CConnection::GetLastRequestOutcome() const try {
    return m_lastOutcome;
} catch (...) {
    // Without memory for the texts, the rest still tells what happened.
    CRequestOutcome bare;
    bare.sent = m_lastOutcome.sent;
    bare.httpStatus = m_lastOutcome.httpStatus;
    bare.transportCode = m_lastOutcome.transportCode;
    bare.retryAfterSeconds = m_lastOutcome.retryAfterSeconds;
    bare.elapsedSeconds = m_lastOutcome.elapsedSeconds;
    return bare;
}

CZuError CConnection::GetAuthorizationToken(std::string& token) try {
    if (m_strAuthToken.empty()) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric,
                                       "Authorization Token is empty. Please make sure the "
                                       "connection is established first.");
    }
    token = m_strAuthToken;
    return CZuError::Success();
} catch (...) {
    return ErrorFromException(FX_CODE_LOCATION);
}

}  // namespace Cluster
