// The web face's server, over Boost.Beast: one thread runs every connection
// asynchronously, so no client can hold another or the poll. A request must arrive
// whole within its deadline (headers at most 8 kB: 431; a body at most 4 kB: 413), an
// answer not taken in time drops its client, at most 64 connections are kept (the one
// idle longest makes room for a new one), and peers outside the allowed networks are
// refused. Event streams (Server-Sent Events) get every broadcast; a stream whose client
// does not read is dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bridge/http/http_options.h"

namespace roderavo::tool::bridge {

struct HttpRequest {
    std::string method, target;
    std::string host, origin, authorization;
    std::string body;
    std::string peer;  // ADDRESS:PORT
    bool tls = false;
};

struct HttpResponse {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers{};
};

class HttpServer {
  public:
    // Called once, from any thread, with the answer to send.
    using Responder = std::function<void(HttpResponse)>;
    // Answers a request (on the server's thread): at once, or later through the responder.
    using Handler = std::function<void(const HttpRequest&, Responder)>;
    // The first message of a new event stream (on the server's thread).
    using StreamStart = std::function<std::string()>;
    using Log = std::function<void(const std::string&)>;

    static constexpr int kMaxConnections = 64;
    static constexpr std::size_t kHeaderLimit = 8 * 1024;
    static constexpr std::size_t kBodyLimit = 4 * 1024;
    static constexpr std::chrono::seconds kRequestDeadline{10};
    static constexpr std::chrono::seconds kSendDeadline{5};
    static constexpr std::chrono::seconds kIdle{60};
    static constexpr std::size_t kStreamBacklog = 512 * 1024;  // unsent bytes a stream may hold

    HttpServer(Handler handler, std::string streamTarget, StreamStart start, Log log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens and serves; false with the reason when the address or TLS cannot be used.
    bool Start(const HttpSettings& settings, std::string* error);
    // Closes the listener and every connection; returns when the thread has ended.
    void Stop();
    // Sends a message (an SSE event, "event: ...\ndata: ...\n\n") to every open stream.
    void Broadcast(std::string message);
    // Runs `work` on the server's thread.
    void Post(std::function<void()> work);
    // Runs `tick` on the server's thread every `period` while it serves (set before Start).
    void Every(std::chrono::milliseconds period, std::function<void()> tick);
    int Connections() const { return connections_; }

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
    std::atomic<int> connections_{0};
};

}  // namespace roderavo::tool::bridge
