#include "sim_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>

extern char** environ;

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
    return Member("description");
}

std::string Reply::ErrorClass() const {
    return Member("error_class");
}

std::string Reply::Member(const char* name) const {
    const rapidjson::Document document = Json();
    if (document.HasParseError() || !document.IsObject() || !document.HasMember(name) ||
        !document[name].IsString()) {
        return {};
    }
    return document[name].GetString();
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
    curl_easy_setopt(m_curl, CURLOPT_FRESH_CONNECT, freshConnections ? 1L : 0L);
    if (!m_ca.empty()) curl_easy_setopt(m_curl, CURLOPT_CAINFO, m_ca.c_str());
    reply.code = curl_easy_perform(m_curl);
    curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &reply.status);
    curl_easy_getinfo(m_curl, CURLINFO_NUM_CONNECTS, &reply.newConnections);
    curl_off_t retryAfter = 0;
    curl_easy_getinfo(m_curl, CURLINFO_RETRY_AFTER, &retryAfter);
    reply.retryAfter = static_cast<long>(retryAfter);
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

Program::Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), CLUSTER_SIM_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int output[2];
    if (pipe(output) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    m_output = output[0];
}

Program::~Program() {
    if (m_pid > 0) Signal(SIGKILL), ExitCode();
    if (m_output >= 0) close(m_output);
}

std::string Program::FirstLine() {
    std::string line;
    char c = 0;
    pollfd entry{m_output, POLLIN, 0};
    while (poll(&entry, 1, 10000) > 0 && read(m_output, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

void Program::Signal(int signal) const {
    kill(m_pid, signal);
}

int Program::ExitCode() {
    int status = 0;
    if (m_pid <= 0 || waitpid(m_pid, &status, 0) != m_pid) return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
