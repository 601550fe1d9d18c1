#include "HttpServer.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "Render.h"

namespace clustersim {
namespace {

constexpr int kIoTimeoutSeconds = 5;
constexpr int kIoTimeoutMs = kIoTimeoutSeconds * 1000;
constexpr int kKeepAliveSeconds = 5;
constexpr size_t kMaxRequestsPerConnection = 100000;
// One worker per open connection: 64 clients at once, each thread's stack mostly untouched.
constexpr size_t kWorkerCount = 64;
constexpr int kBacklog = 128;
const char* const kAnyPath = "[\\s\\S]*";  // "." would not match a decoded newline

// The exchange being served on this thread; httplib's handlers have no other way to reach it.
thread_local Exchange* tExchange = nullptr;

bool WaitFor(int socket, short events, int timeoutMs) {
    pollfd entry{socket, events, 0};
    int ready = 0;
    do {
        ready = poll(&entry, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void SetConnectionOptions(int socket) {
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    const timeval timeout{kIoTimeoutSeconds, 0};
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The headers of a request head (request line, header lines, blank line) in their order.
HeaderList ParseHead(std::string_view head) {
    HeaderList headers;
    bool requestLine = true;
    while (!head.empty()) {
        const size_t end = head.find('\n');
        std::string_view line = head.substr(0, end);
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t colon = line.find(':');
        if (!requestLine && colon != std::string_view::npos) {
            headers.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 1)));
        }
        requestLine = false;
    }
    return headers;
}

bool HttplibReadsBody(const std::string& method) {
    for (const char* reading : {"POST", "PUT", "PATCH", "PRI", "DELETE"}) {
        if (method == reading) return true;
    }
    return false;
}

size_t ContentLength(const httplib::Request& request) {
    const std::string text = request.get_header_value("Content-Length");
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    return static_cast<size_t>(std::strtoull(text.c_str(), nullptr, 10));
}

void AddressOf(int socket, bool peer, std::string& ip, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(socket, raw, &length) : getsockname(socket, raw, &length)) != 0) return;
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
        port = ntohs(v6->sin6_port);
    } else {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
        port = ntohs(v4->sin_port);
    }
    ip = text;
}

int ListenOn(const addrinfo& address, std::string* failure) {
    const int socket =
        ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    const int on = 1;
    if (socket < 0 || setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        bind(socket, address.ai_addr, address.ai_addrlen) != 0 || listen(socket, kBacklog) != 0) {
        *failure = std::strerror(errno);
        if (socket >= 0) close(socket);
        return -1;
    }
    return socket;
}

}  // namespace

// One client connection, plain or TLS, as the stream httplib reads requests from and writes
// answers to. It records the bytes of each request head so the headers keep their order.
class HttpServer::Connection final : public httplib::Stream, public Exchange {
  public:
    Connection(int socket, SSL_CTX* tls)
        : m_socket(socket), m_ssl(tls ? SSL_new(tls) : nullptr), m_wantsTls(tls != nullptr) {
        if (m_ssl) SSL_set_fd(m_ssl, socket);
    }
    ~Connection() override {
        if (m_ssl) SSL_free(m_ssl);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Handshake() {
        if (!m_wantsTls) return true;
        ERR_clear_error();
        return m_ssl && SSL_accept(m_ssl) == 1;
    }
    // A dropped connection ends without close_notify, like a crashed server's.
    void Close() {
        if (m_ssl && !m_dropped) SSL_shutdown(m_ssl);
    }
    bool WaitForRequest(int timeoutMs) const {
        return Buffered() || WaitFor(m_socket, POLLIN, timeoutMs);
    }
    void BeginRequest() {
        m_capture.clear();
        m_capturing = true;
        m_headers.clear();
    }
    // Called once the head is parsed. httplib reads a body only for the methods that usually
    // carry one; any other body is read here, or it would be taken for the next request.
    void EndOfHead(httplib::Request& request) {
        m_capturing = false;
        m_headers = ParseHead(m_capture);
        if (!HttplibReadsBody(request.method)) request.body = ReadBody(ContentLength(request));
        // Replies go uncompressed: on loopback compressing them would only measure the
        // compressor (the journal still shows what the client asked for).
        request.headers.erase("Accept-Encoding");
    }
    bool Dropped() const { return m_dropped; }

    const HeaderList& Headers() const override { return m_headers; }
    void DropConnection() override { m_dropped = true; }

    using httplib::Stream::write;
    bool is_readable() const override { return WaitForRequest(kIoTimeoutMs); }
    bool is_writable() const override {
        return !m_dropped && WaitFor(m_socket, POLLOUT, kIoTimeoutMs);
    }
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(m_socket, true, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        AddressOf(m_socket, false, ip, port);
    }
    socket_t socket() const override { return m_socket; }

  private:
    std::string ReadBody(size_t length) {
        std::string body;
        char chunk[16 * 1024];
        while (body.size() < length) {
            const ssize_t count = read(chunk, std::min(sizeof(chunk), length - body.size()));
            if (count <= 0) break;
            body.append(chunk, static_cast<size_t>(count));
        }
        return body;
    }
    bool Buffered() const { return m_begin < m_end || (m_ssl && SSL_pending(m_ssl) > 0); }
    ssize_t Receive(char* ptr, size_t size);

    int m_socket;
    SSL* m_ssl;
    bool m_wantsTls;
    bool m_dropped = false;
    bool m_capturing = false;
    std::string m_capture;
    HeaderList m_headers;
    size_t m_begin = 0;
    size_t m_end = 0;
    char m_buffer[16 * 1024];
};

// httplib reads one byte at a time while parsing the head, hence the buffer.
ssize_t HttpServer::Connection::read(char* ptr, size_t size) {
    if (m_begin == m_end) {
        const ssize_t received = Receive(m_buffer, sizeof(m_buffer));
        if (received <= 0) return received;
        m_begin = 0;
        m_end = static_cast<size_t>(received);
    }
    const size_t count = std::min(size, m_end - m_begin);
    std::memcpy(ptr, m_buffer + m_begin, count);
    m_begin += count;
    if (m_capturing) m_capture.append(ptr, count);
    return static_cast<ssize_t>(count);
}

ssize_t HttpServer::Connection::write(const char* ptr, size_t size) {
    if (m_dropped) return -1;
    if (size == 0) return 0;
    if (m_ssl) {
        ERR_clear_error();
        const int sent = SSL_write(m_ssl, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        return sent > 0 ? sent : -1;
    }
    ssize_t sent = 0;
    do {
        sent = send(m_socket, ptr, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

ssize_t HttpServer::Connection::Receive(char* ptr, size_t size) {
    if (m_ssl) {
        ERR_clear_error();
        const int received =
            SSL_read(m_ssl, ptr, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (received > 0) return received;
        return SSL_get_error(m_ssl, received) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
    ssize_t received = 0;
    do {
        received = recv(m_socket, ptr, size, 0);
    } while (received < 0 && errno == EINTR);
    return received;
}

// httplib's request parsing, routing and answer writing, driven one request at a time.
class HttpServer::Router : public httplib::Server {
  public:
    explicit Router(HttpServer::Handler handler) : m_handler(std::move(handler)) {
        const Server::Handler route = [this](const httplib::Request& request,
                                             httplib::Response& response) {
            tRouted = true;
            m_handler(request, response, *tExchange);
        };
        Get(kAnyPath, route);
        Post(kAnyPath, route);
        Put(kAnyPath, route);
        Patch(kAnyPath, route);
        Delete(kAnyPath, route);
        set_error_handler(
            HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
                return tRouted ? HandlerResponse::Unhandled : DescribeRefusal(response);
            }));
        set_keep_alive_timeout(kKeepAliveSeconds);
        set_keep_alive_max_count(kMaxRequestsPerConnection);
    }

    // httplib feeds content providers only while its listening socket looks valid.
    void Open(int listener) { svr_sock_ = listener; }
    void Close() { svr_sock_ = INVALID_SOCKET; }

    bool Serve(httplib::Stream& stream, bool lastRequest,
               const std::function<void(httplib::Request&)>& onHead, bool* closeAfter) {
        bool closed = false;
        tRouted = false;
        const bool answered = process_request(stream, lastRequest, closed, onHead);
        *closeAfter = closed || !tRouted;  // after a refused request the framing is in doubt
        return answered;
    }

  private:
    // Requests httplib refuses itself (unreadable, unknown method) never reach the handler; their
    // answers get a JSON description like every other error.
    static HandlerResponse DescribeRefusal(httplib::Response& response) {
        response.set_content(RenderError("http_bad_request_error",
                                         "the request was refused before routing (status " +
                                             std::to_string(response.status) + ")"),
                             "application/json");
        return HandlerResponse::Handled;
    }

    static thread_local bool tRouted;  // whether the current request reached the handler
    HttpServer::Handler m_handler;
};

thread_local bool HttpServer::Router::tRouted = false;

HttpServer::HttpServer(Handler handler) : m_router(std::make_unique<Router>(std::move(handler))) {}

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(const std::string& host, int port, SSL_CTX* tls, std::string* error) {
    if (m_listener >= 0) {
        *error = "already started";
        return false;
    }
    m_tls = tls;
    m_stopping = false;
    if (!Listen(host, port, error)) return false;
    m_router->Open(m_listener);
    // A client hanging up mid-answer must cost a failed write, not the process: SIGPIPE is
    // blocked in the server's threads only, which take this thread's mask when made.
    sigset_t pipe;
    sigset_t previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    m_workers = std::make_unique<httplib::ThreadPool>(kWorkerCount);
    m_acceptor = std::thread([this] { AcceptLoop(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

void HttpServer::Stop() {
    if (m_listener < 0) return;
    m_stopping = true;
    shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    m_router->Close();
    {
        std::lock_guard<std::mutex> lock(m_openMutex);
        for (const int socket : m_open) shutdown(socket, SHUT_RDWR);
    }
    m_workers->shutdown();
    m_workers.reset();
    close(m_listener);
    m_listener = -1;
}

bool HttpServer::Listen(const std::string& host, int port, std::string* error) {
    addrinfo hints{};  // any address family
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.empty() ? nullptr : host.c_str(),
                                     std::to_string(port).c_str(), &hints, &found);
    if (resolved != 0) {
        *error = "cannot resolve " + host + ": " + gai_strerror(resolved);
        return false;
    }
    std::string failure = "no address";
    for (const addrinfo* address = found; address && m_listener < 0; address = address->ai_next) {
        m_listener = ListenOn(*address, &failure);
    }
    freeaddrinfo(found);
    if (m_listener < 0) {
        *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + failure;
        return false;
    }
    std::string ip;
    AddressOf(m_listener, false, ip, m_port);
    return true;
}

void HttpServer::AcceptLoop() {
    while (!m_stopping) {
        const int socket = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket >= 0) {
            SetConnectionOptions(socket);
            m_workers->enqueue([this, socket] { Serve(socket); });
        } else if (errno == EMFILE || errno == ENFILE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else if (errno != EINTR && errno != ECONNABORTED) {
            return;  // the listener was shut down
        }
    }
}

void HttpServer::Serve(int socket) {
    if (!Track(socket)) return;
    {
        Connection connection(socket, m_tls);
        if (connection.Handshake()) ServeRequests(connection);
        connection.Close();
    }
    Untrack(socket);
}

void HttpServer::ServeRequests(Connection& connection) {
    tExchange = &connection;
    const auto onHead = [&connection](httplib::Request& request) { connection.EndOfHead(request); };
    for (size_t served = 0; !m_stopping && served < kMaxRequestsPerConnection; ++served) {
        if (!connection.WaitForRequest(kKeepAliveSeconds * 1000)) break;
        connection.BeginRequest();
        bool closeAfter = false;
        const bool last = served + 1 == kMaxRequestsPerConnection;
        if (!m_router->Serve(connection, last, onHead, &closeAfter) || closeAfter ||
            connection.Dropped()) {
            break;
        }
    }
    tExchange = nullptr;
}

bool HttpServer::Track(int socket) {
    std::lock_guard<std::mutex> lock(m_openMutex);
    if (m_stopping) {
        close(socket);
        return false;
    }
    m_open.insert(socket);
    return true;
}

// Closing under the lock keeps Stop from shutting down a number the system has reused.
void HttpServer::Untrack(int socket) {
    std::lock_guard<std::mutex> lock(m_openMutex);
    m_open.erase(socket);
    close(socket);
}

}  // namespace clustersim
