// The web face's clients for its benchmark, over Boost.Beast: GETs on one kept-alive
// connection, and an event stream read on a thread of its own.
#pragma once

#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace bench {

namespace web {
namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

inline void NormalPolicy() {
    sched_param normal{};
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
}

inline bool Connect(tcp::socket& socket, int port) {
    beast::error_code ec;
    socket.connect({net::ip::make_address_v4("127.0.0.1"), static_cast<unsigned short>(port)}, ec);
    return !ec;
}

inline http::request<http::empty_body> Request(int port, std::string_view target) {
    http::request<http::empty_body> request{http::verb::get,
                                            beast::string_view(target.data(), target.size()), 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    return request;
}
}  // namespace web

// GETs on one connection, kept alive between them.
class HttpGetter {
  public:
    explicit HttpGetter(int port) : port_(port) {}
    bool Connect() { return web::Connect(socket_, port_); }
    // One GET: its status, 0 when the connection failed.
    int Get(std::string_view target) {
        web::beast::error_code ec;
        web::http::write(socket_, web::Request(port_, target), ec);
        web::http::response<web::http::string_body> response;
        if (!ec) web::http::read(socket_, buffer_, response, ec);
        return ec ? 0 : static_cast<int>(response.result_int());
    }

  private:
    int port_;
    web::net::io_context io_;
    web::tcp::socket socket_{io_};
    web::beast::flat_buffer buffer_;
};

// An event stream, as the page holds it: read on a thread, its messages and bytes
// counted, opened again when the bridge ends it (as a browser's EventSource does), and
// those ends counted. The thread keeps the policy of the one that made it: it waits in
// read between messages, and a reader that the bridge's real-time policy starved would
// be dropped by the bridge as a client that does not read.
class EventStream {
  public:
    EventStream(int port, std::string target) : port_(port), target_(std::move(target)) {
        thread_ = std::thread([this] {
            while (Listen()) ++ends_;
        });
    }
    ~EventStream() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            if (socket_.is_open())
                ::shutdown(socket_.native_handle(), SHUT_RDWR);  // wakes the read
        }
        thread_.join();
    }
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    // The messages heard so far (the state on connecting, then each change).
    int Messages() const { return messages_; }
    std::size_t Bytes() const { return bytes_; }
    // How often the bridge ended the stream.
    int Ends() const { return ends_; }
    // It could not be opened (or opened again).
    bool Broken() const { return broken_; }

  private:
    // One connection, read until its end; false when stopped or it could not open.
    bool Listen() {
        {
            std::lock_guard lock(mutex_);
            if (socket_.is_open()) socket_.close();
            if (stopping_) return false;
            if (!web::Connect(socket_, port_)) return Fail();
        }
        auto request = web::Request(port_, target_);
        request.set(web::http::field::accept, "text/event-stream");
        web::beast::error_code ec;
        web::http::write(socket_, request, ec);
        // The answer's head, then the messages until the end: each begins with its
        // event line (the start of one kept across the reads that split it).
        constexpr std::string_view kMark = "\nevent: ";
        std::string text;
        char chunk[16384];
        while (!ec) {
            const std::size_t got = socket_.read_some(web::net::buffer(chunk), ec);
            text.append(chunk, got);
            bytes_ += got;
            for (std::size_t at = text.find(kMark); at != std::string::npos;
                 at = text.find(kMark, at + 1))
                ++messages_;
            text.erase(0, text.size() < kMark.size() ? 0 : text.size() - kMark.size() + 1);
        }
        return !stopping_;
    }
    bool Fail() {
        broken_ = true;
        return false;
    }

    int port_;
    std::string target_;
    web::net::io_context io_;
    std::mutex mutex_;  // the socket's opening and closing against the stop
    web::tcp::socket socket_{io_};
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> messages_{0};
    std::atomic<std::size_t> bytes_{0};
    std::atomic<int> ends_{0};
    std::atomic<bool> broken_{false};
};

}  // namespace bench
