#include "Cluster/ClusterConnection.h"

#include <cstring>

#include "Cluster/ClusterBoundary.h"
#include "Cluster/ClusterErrorCodes.h"
#include "Cluster/ClusterSecrets.h"
#include "platform/json_spirit/json_spirit.h"

namespace Cluster {
namespace {

const char kLoginPath[] = "/v1/session/login";
const char kHeaderKind[] = "HTTPHEADER";

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

// The reason a rejected login gives: its "description" string, if it has one.
std::string RejectionReason(const std::string& response) {
    json_spirit::mValue reply;
    if (json_spirit::read_string(response, reply) && reply.type() == json_spirit::obj_type) {
        const auto description = reply.get_obj().find("description");
        if (description != reply.get_obj().end() &&
            description->second.type() == json_spirit::str_type) {
            return description->second.get_str();
        }
    }
    return "authentication failed";
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

boost::shared_ptr<CLogWriterInterface> DebugLogWriter() {
    boost::shared_ptr<CLogWriterInterface> writer = g_ptrLogWriter;
    if (writer && writer->GetLogLevel() > 1) return writer;
    return boost::shared_ptr<CLogWriterInterface>();
}

}  // namespace

CZuError CConnection::Connect(const string& baseUrl, const string& userName,
                              const string& password) try {
    m_ptrHttpClient = std::unique_ptr<TNLibCurl>(new TNLibCurl);
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
        RaiseLoginEvent(FX_CODE_LOCATION, RejectionReason(response));
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
    const std::string url = m_strBaseUrl + path;
    _http_req_type_ httpType = HTTP_REQ_GET;
    if (!MapRequestType(type, httpType)) {
        return FXErrorUtil::ErrorWin32(FX_CODE_LOCATION, kErrorGeneric, "Unsupported Request Type");
    }
    // Without a client no login was ever attempted: the request cannot carry a token.
    if (!m_ptrHttpClient) {
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

    const bool sent = m_ptrHttpClient->TNLibCurlSendHttpReq(httpType, url.c_str(), body.data(),
                                                            body.size(), false, nullptr);
    unsigned long length = 0;
    const char* reply = m_ptrHttpClient->GetHttpResponse(length, false);
    if (reply != nullptr) {
        response.assign(reply, length);
    } else {
        response.clear();
    }
    if (!sent) {
        return FXErrorUtil::ErrorWin32(
            FX_CODE_LOCATION, kErrorGeneric,
            "Error: API failed. operation [%d]. URL[%s]. Body [%s] Response [%s]%s",
            static_cast<int>(httpType), Quote(MaskUrl(url)).c_str(), QuoteMasked(body).c_str(),
            QuoteMasked(response).c_str(), LimitNote(*m_ptrHttpClient).c_str());
    }
    if (bLogOnSuccess) {
        if (const boost::shared_ptr<CLogWriterInterface> writer = DebugLogWriter()) {
            writer->WriteLog(2, __PRETTY_FUNCTION__, __LINE__, 0, 0,
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
