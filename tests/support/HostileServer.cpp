#include "HostileServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace hostile {
namespace {

bool SameName(const std::string& line, const std::string& name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    return std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    });
}

std::vector<std::string> HeaderLines(const std::string& block) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end = block.find("\r\n"); end != std::string::npos;
         at = end + 2, end = block.find("\r\n", at)) {
        lines.push_back(block.substr(at, end - at));
    }
    return lines;
}

// Reads one request into `request`; false when the peer closed or sent garbage.
bool ReadRequest(int socket, std::string& pending, Request& request) {
    char buffer[16384];
    size_t headerEnd;
    while ((headerEnd = pending.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0 || pending.size() > (1u << 20)) return false;
        pending.append(buffer, static_cast<size_t>(got));
    }
    const std::string head = pending.substr(0, headerEnd + 2);
    pending.erase(0, headerEnd + 4);
    const size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t space = requestLine.find(' ');
    const size_t secondSpace = requestLine.find(' ', space + 1);
    if (space == std::string::npos || secondSpace == std::string::npos) return false;
    request.method = requestLine.substr(0, space);
    request.target = requestLine.substr(space + 1, secondSpace - space - 1);
    request.headers = head.substr(lineEnd + 2);
    const size_t length = std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10);
    while (pending.size() < length) {
        const ssize_t got = recv(socket, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        pending.append(buffer, static_cast<size_t>(got));
    }
    request.body = pending.substr(0, length);
    pending.erase(0, length);
    return true;
}

std::string Deflate(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

std::string Request::Header(const std::string& name) const {
    for (const std::string& line : HeaderLines(headers)) {
        if (!SameName(line, name)) continue;
        // Without the blanks around it, as HTTP reads a field value.
        const size_t value = line.find_first_not_of(' ', name.size() + 1);
        if (value == std::string::npos) return std::string();
        return line.substr(value, line.find_last_not_of(' ') + 1 - value);
    }
    return "";
}

size_t Request::HeaderCount(const std::string& name) const {
    const std::vector<std::string> lines = HeaderLines(headers);
    return std::count_if(lines.begin(), lines.end(),
                         [&name](const std::string& line) { return SameName(line, name); });
}

bool Connection::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        if (m_stopping) return false;
        const ssize_t wrote =
            send(m_socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (wrote <= 0) return false;
        sent += static_cast<size_t>(wrote);
    }
    return true;
}

bool Connection::Drip(const std::string& bytes, size_t chunk, std::chrono::milliseconds interval) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        if (!Send(bytes.substr(at, chunk))) return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

void Connection::Hold(std::chrono::milliseconds most) {
    const auto until = std::chrono::steady_clock::now() + most;
    while (!m_stopping && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

size_t Connection::SendEndlessly(const std::function<std::string()>& piece, size_t limit) {
    size_t sent = 0;
    while (sent < limit) {
        const std::string bytes = piece();
        if (!Send(bytes)) break;
        sent += bytes.size();
    }
    return sent;
}

Server::Server(Handler handler) : m_handler(std::move(handler)) {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(m_listener, 16) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("hostile server: cannot listen on loopback");
    }
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { AcceptLoop(); });
}

Server::~Server() {
    m_stopping = true;
    shutdown(m_listener, SHUT_RDWR);
    close(m_listener);
    m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (int socket : m_sockets) shutdown(socket, SHUT_RDWR);
        workers.swap(m_workers);
    }
    for (std::thread& worker : workers) worker.join();
}

std::string Server::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::vector<Request> Server::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void Server::AcceptLoop() {
    while (!m_stopping) {
        const int socket = accept(m_listener, nullptr, nullptr);
        if (socket < 0) continue;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping) {
            close(socket);
            break;
        }
        m_sockets.push_back(socket);
        const int number = ++m_connections;
        m_workers.emplace_back([this, socket, number] { Serve(socket, number); });
    }
}

void Server::Serve(int socket, int number) {
    Connection connection(socket, m_stopping);
    std::string pending;
    Request request;
    while (!m_stopping && !connection.m_closeAfter && ReadRequest(socket, pending, request)) {
        request.connection = number;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        m_handler(request, connection);
    }
    shutdown(socket, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sockets.erase(std::find(m_sockets.begin(), m_sockets.end(), socket));
    close(socket);
}

std::string Answer(int status, const std::string& body, const std::string& headers) {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" +
           body;
}

std::string Chunk(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

std::string Gzip(const std::string& data) {
    return Deflate(data);
}

ZeroBomb::ZeroBomb() {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) !=
        Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    static const std::string zeros(kBlockSize, '\0');
    // After a full flush the encoder forgets its history, so the second block's bytes stand
    // for any later block as well; the first one carries the gzip header in front of them.
    auto flushed = [&stream]() {
        std::string out;
        char buffer[1 << 16];
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        stream.avail_in = static_cast<uInt>(zeros.size());
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            deflate(&stream, Z_FULL_FLUSH);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
        return out;
    };
    const std::string first = flushed();
    m_block = flushed();
    deflateEnd(&stream);
    m_head = first.substr(0, first.size() - m_block.size());
}

std::string ZeroBomb::Stream(size_t blocks) const {
    std::string out = m_head;
    for (size_t i = 0; i < blocks; ++i) out += m_block;
    return out;
}

std::string LoginAnswer(const std::string& tokenJson) {
    return Answer(200, "{\"bearer_token\":" + tokenJson + "}",
                  "Content-Type: application/json\r\n");
}

}  // namespace hostile
