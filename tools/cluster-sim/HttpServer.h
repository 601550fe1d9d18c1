// The HTTP(S) front of the simulator. httplib parses requests and writes answers, but the
// connections are ours: that is how the journal gets headers in arrival order (httplib keeps
// them sorted by name) and how a fault can drop a connection without sending a byte.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
struct Response;
class ThreadPool;
}  // namespace httplib

namespace clustersim {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// What a handler needs beyond httplib's Request: the raw headers and control over the
// connection the request came on.
class Exchange {
  public:
    virtual const HeaderList& Headers() const = 0;  // as received, in arrival order
    // Nothing more goes out on this connection and it closes when the handler returns.
    virtual void DropConnection() = 0;

  protected:
    ~Exchange() = default;
};

class HttpServer {
  public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&, Exchange&)>;

    explicit HttpServer(Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // `tls` (null for plain HTTP) must outlive the server.
    bool Start(const std::string& host, int port, SSL_CTX* tls, std::string* error);
    void Stop();
    int Port() const { return m_port; }

  private:
    class Router;
    class Connection;

    bool Listen(const std::string& host, int port, std::string* error);
    void AcceptLoop();
    void Serve(int socket);
    void ServeRequests(Connection& connection);
    bool Track(int socket);
    void Untrack(int socket);

    std::unique_ptr<Router> m_router;
    SSL_CTX* m_tls = nullptr;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;
    std::unique_ptr<httplib::ThreadPool> m_workers;
    std::mutex m_openMutex;
    std::set<int> m_open;  // sockets being served, shut down by Stop
};

}  // namespace clustersim
