#include "sim_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

namespace simtest {
namespace {

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

}  // namespace

rapidjson::Document Reply::Json() const {
    rapidjson::Document document;
    document.Parse(body.c_str(), body.size());
    return document;
}

std::string Reply::Description() const {
    const rapidjson::Document document = Json();
    if (document.HasParseError() || !document.IsObject() || !document.HasMember("description") ||
        !document["description"].IsString()) {
        return {};
    }
    return document["description"].GetString();
}

Client::Client(const clustersim::Simulator& sim) : Client(sim.BaseUrl(), sim.CaFile()) {}

Client::Client(std::string baseUrl, std::string caFile)
    : m_curl(curl_easy_init()), m_base(std::move(baseUrl)), m_ca(std::move(caFile)) {}

Client::~Client() {
    curl_easy_cleanup(m_curl);
}

Reply Client::Send(const std::string& method, const std::string& target, const std::string& body,
                   const std::vector<std::string>& headers) {
    Reply reply;
    curl_slist* list = nullptr;
    if (!token.empty()) list = curl_slist_append(list, ("Authorization: Bearer " + token).c_str());
    for (const auto& header : headers) list = curl_slist_append(list, header.c_str());
    const std::string url = m_base + target;
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(m_curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    const bool withBody = method == "POST" || !body.empty();
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDS, withBody ? body.c_str() : nullptr);
    curl_easy_setopt(m_curl, CURLOPT_POSTFIELDSIZE,
                     withBody ? static_cast<long>(body.size()) : -1L);
    curl_easy_setopt(m_curl, CURLOPT_HTTPGET, withBody ? 0L : 1L);
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(m_curl, CURLOPT_TIMEOUT, 20L);
    if (!m_ca.empty()) curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_ca.c_str());
    reply.code = curl_easy_perform(m_curl);
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(m_curl, CURLINFO_NUM_CONNECTS, &reply.newConnections);
    const char* type = nullptr;
    curl_easy_getinfo(m_curl, CURLINFO_CONTENT_TYPE, &type);
    reply.contentType = type ? type : "";
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(list);
    return reply;
}

std::string Client::LogIn(const std::string& user, const std::string& password) {
    token.clear();
    const Reply reply = Send("POST", "/v1/session/login",
                             "{\"username\":\"" + user + "\",\"password\":\"" + password + "\"}");
    const rapidjson::Document document = reply.Json();
    if (reply.status == 200 && document.IsObject() && document.HasMember("bearer_token") &&
        document["bearer_token"].IsString()) {
        token = document["bearer_token"].GetString();
    }
    return token;
}

int ConnectLoopback(int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        close(socket);
        return -1;
    }
    return socket;
}

bool ReadFrom(int socket, std::string* bytes, int quietMs, size_t wanted) {
    char buffer[64 * 1024];
    while (bytes->size() < wanted) {
        pollfd entry{socket, POLLIN, 0};
        if (poll(&entry, 1, quietMs) <= 0) return false;
        const ssize_t received = recv(socket, buffer, sizeof(buffer), 0);
        if (received <= 0) return true;
        bytes->append(buffer, static_cast<size_t>(received));
    }
    return false;
}

std::string RawExchange(int port, const std::string& request, int quietMs, bool* closed) {
    const int socket = ConnectLoopback(port);
    std::string bytes;
    *closed = false;
    if (socket < 0) return bytes;
    if (send(socket, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        *closed = ReadFrom(socket, &bytes, quietMs);
    }
    close(socket);
    return bytes;
}

}  // namespace simtest
