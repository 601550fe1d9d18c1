// A raw HTTP/1.1 server on loopback whose answers a test writes byte by byte: broken
// framing, endless or dripping bodies, compressed bombs, forged links and headers. Each
// accepted connection is served on its own thread; requests are read with their headers and
// Content-Length body and handed to the test's handler, which writes whatever it likes.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hostile {

struct Request {
    std::string method;
    std::string target;   // as sent on the request line
    std::string headers;  // the raw header block, one "Name: value\r\n" per line
    std::string body;
    int connection = 0;  // which accepted connection it came on, counted from 1

    // The value of the first header of that name (case-insensitive), empty when absent.
    std::string Header(const std::string& name) const;
    // How many header lines carry that name.
    size_t HeaderCount(const std::string& name) const;
};

// The peer's side of one connection, for the handler to answer on.
class Connection {
  public:
    // False once the peer has gone or the server is stopping.
    bool Send(const std::string& bytes);
    // Sends `bytes` in pieces of `chunk` bytes, one every `interval`, until done or stopped.
    bool Drip(const std::string& bytes, size_t chunk, std::chrono::milliseconds interval);
    // Calls `piece()` and sends its bytes again and again until the peer stops reading, the
    // server stops or `limit` is reached; returns the bytes sent.
    size_t SendEndlessly(const std::function<std::string()>& piece, size_t limit);
    // Says nothing until the server stops or `most` has passed, as a peer that never answers.
    void Hold(std::chrono::milliseconds most);
    // No more requests are read from this connection after the handler returns.
    void Close() { m_closeAfter = true; }

  private:
    friend class Server;
    Connection(int socket, const std::atomic<bool>& stopping)
        : m_socket(socket), m_stopping(stopping) {}
    int m_socket;
    const std::atomic<bool>& m_stopping;
    bool m_closeAfter = false;
};

class Server {
  public:
    using Handler = std::function<void(const Request&, Connection&)>;

    explicit Server(Handler handler);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    int Port() const { return m_port; }
    std::string BaseUrl() const;  // "http://127.0.0.1:PORT"
    std::vector<Request> Requests() const;
    int Connections() const { return m_connections.load(); }

  private:
    void AcceptLoop();
    void Serve(int socket, int number);

    Handler m_handler;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::thread m_acceptor;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::vector<int> m_sockets;
    std::vector<Request> m_requests;
};

// A complete answer with a Content-Length for `body`; `headers` are extra "Name: value\r\n" lines.
std::string Answer(int status, const std::string& body, const std::string& headers = "");
// The chunked framing of one chunk.
std::string Chunk(const std::string& data);
// `data` gzip-compressed.
std::string Gzip(const std::string& data);
// A gzip stream of zero bytes, about 1000:1, that never ends: the head, then as many blocks
// of one MiB as the test sends. The trailer never comes, so a reader must give up first.
class ZeroBomb {
  public:
    static constexpr size_t kBlockSize = 1 << 20;
    ZeroBomb();
    const std::string& Head() const { return m_head; }
    const std::string& Block() const { return m_block; }
    // The head and `blocks` blocks in one piece.
    std::string Stream(size_t blocks) const;

  private:
    std::string m_head;
    std::string m_block;
};

// The login answer a cluster gives: {"bearer_token":token}, token written as JSON text.
std::string LoginAnswer(const std::string& tokenJson);

}  // namespace hostile
